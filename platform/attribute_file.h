#pragma once
// A sensor attribute file kept open and read again from its start: a sysfs
// attribute gives its current value at every read from offset 0, so a
// refresh costs one read per input instead of an open, a read and a close.
// And a folder's stamp, to notice that files were added, removed or
// replaced in it (a fixture tree; sysfs folders keep theirs).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

class AttributeFile {
 public:
  AttributeFile() = default;
  ~AttributeFile();
  AttributeFile(const AttributeFile&) = delete;
  AttributeFile& operator=(const AttributeFile&) = delete;

  // Opens a regular file for reading, without blocking on anything else (a
  // FIFO is refused). False when it cannot be opened or is not one.
  bool Open(const std::string& path);
  // Up to `max` bytes (at most a page) from the start of the file; nullopt
  // on a read error.
  std::optional<std::string> ReadFromStart(std::size_t max) const;

 private:
#ifdef _WIN32
  std::string path_;  // reopened at every read: Windows has no sysfs
#else
  int fd_ = -1;
#endif
};

// Changes when an entry of the folder is added, removed or renamed (its
// modification and change times and its identity); 0 when it is missing.
struct FolderStamp {
  std::uint64_t identity = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
  bool operator==(const FolderStamp&) const = default;
};
FolderStamp StampOfFolder(const std::string& path);

}  // namespace platform
