#include "platform/file_stamp.h"

#include <sys/stat.h>
#include <time.h>

#include "platform/posix/file_identity.h"
#include "platform/posix/file_io.h"

namespace platform {

FileStamp StampOfFile(const std::wstring& path, int settled_ms) {
  struct stat info {};
  FileStamp stamp;
  if (stat(NarrowPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return stamp;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  stamp.exists = true;
  stamp.identity = FileIdentity(info);
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modified = Nanoseconds(info.st_mtim);
  stamp.changed = Nanoseconds(info.st_ctim);
  stamp.settled = Nanoseconds(now) - stamp.changed > std::int64_t{settled_ms} * 1000000;
  return stamp;
}

}  // namespace platform
