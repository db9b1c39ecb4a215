#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/file_io.h"

namespace platform {

bool ReadWholeRegularFile(const std::wstring& path, std::string& bytes) {
  int fd = open(NarrowPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  int error = fstat(fd, &info) != 0                                            ? errno
              : S_ISDIR(info.st_mode)                                          ? EISDIR
              : !S_ISREG(info.st_mode)                                         ? EINVAL
              : static_cast<std::uint64_t>(info.st_size) >= kMaxWholeFileBytes ? EFBIG
                                                                               : 0;
  if (error != 0) {
    close(fd);
    errno = error;
    return false;
  }
  bytes.assign(static_cast<size_t>(info.st_size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);  // a file that shrank meanwhile gives what it had
  close(fd);
  return true;
}

bool ReplaceFileContents(const std::wstring& path, const std::string& bytes) {
  return ReplaceFileAtomically(path, bytes);
}

}  // namespace platform
