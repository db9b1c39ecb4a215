#include "platform/posix/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {

std::string NarrowPath(const std::wstring& path) {
  std::string out(WideToAnsi(path, nullptr, 0), '\0');
  WideToAnsi(path, out.data(), out.size());
  return out;
}

bool ReadWholeFile(const std::wstring& path, std::string& content) {
  int fd = open(NarrowPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content.clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool ReplaceFileAtomically(const std::wstring& path, const std::string& content) {
  std::string target = NarrowPath(path);
  std::string temp = target + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  fchmod(fd, stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644);
  size_t written = 0;
  while (written < content.size()) {
    ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  bool ok = written == content.size() && fsync(fd) == 0;
  int saved = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), target.c_str()) == 0) return true;
  saved = errno ? errno : saved;
  unlink(temp.c_str());
  errno = saved;
  return false;
}

}  // namespace platform
