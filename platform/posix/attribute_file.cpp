#include "platform/attribute_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_identity.h"

namespace platform {

AttributeFile::~AttributeFile() {
  if (fd_ >= 0) close(fd_);
}

bool AttributeFile::Open(const std::string& path) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return true;
}

std::optional<std::string> AttributeFile::ReadFromStart(std::size_t max) const {
  if (fd_ < 0) return std::nullopt;
  // A value is a few bytes: read on the stack, so the text needs no heap.
  char buffer[4096];
  if (max > sizeof buffer) max = sizeof buffer;
  ssize_t got = 0;
  do {
    got = pread(fd_, buffer, max, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(got));
}

FolderStamp StampOfFolder(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return {FileIdentity(info), Nanoseconds(info.st_mtim), Nanoseconds(info.st_ctim)};
}

}  // namespace platform
