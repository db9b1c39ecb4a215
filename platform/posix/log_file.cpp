#include "platform/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/file_io.h"

namespace platform {

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::wstring& path) {
  int fd = open(NarrowPath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

void AppendFile::Write(const char* bytes, std::size_t count) {
  if (!IsOpen()) return;
  while (count > 0) {
    ssize_t n = write(static_cast<int>(handle_), bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

void AppendFile::Close() {
  if (IsOpen()) close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace platform
