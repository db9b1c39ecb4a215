#include "platform/file_stamp.h"

#include <windows.h>

namespace platform {
namespace {

std::int64_t Ticks(FILETIME t) {  // 100 ns units
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

}  // namespace

FileStamp StampOfFile(const std::wstring& path, int settled_ms) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  FileStamp stamp;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return stamp;
  }
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  stamp.exists = true;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified = Ticks(data.ftLastWriteTime);
  stamp.changed = Ticks(data.ftCreationTime);
  stamp.settled = Ticks(now) - stamp.modified > std::int64_t{settled_ms} * 10000;
  return stamp;
}

}  // namespace platform
