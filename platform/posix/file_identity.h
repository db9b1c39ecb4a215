#pragma once
// One number for the file a look found, from its device and inode: two looks
// at a path found the same file when their numbers agree.
#include <sys/stat.h>

#include <cstdint>

namespace platform {

// Within one device each inode has a number of its own.
inline std::uint64_t FileIdentity(const struct stat& info) {
  return static_cast<std::uint64_t>(info.st_ino) ^ (static_cast<std::uint64_t>(info.st_dev) << 40);
}

// A file time in nanoseconds.
inline std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace platform
