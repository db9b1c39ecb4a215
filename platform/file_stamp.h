#pragma once
// A file's stamp: what tells, with one look and without reading it, that a
// file is the one read before. A change gives the file a new stamp, except
// a second change within one tick of the file system's clock; so a stamp is
// `settled` only when the file's last change was already kSettledMs old when
// the stamp was taken: only then may what was made from the file be kept
// for as long as the stamp stays the same.
#include <cstdint>
#include <string>

namespace platform {

inline constexpr int kSettledMs = 3000;  // covers file systems whose clock ticks every 2 s

struct FileStamp {
  bool exists = false;
  std::uint64_t identity = 0;  // device and inode (Linux), 0 (Windows)
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // the file system's own units
  std::int64_t changed = 0;
  bool settled = false;  // not part of the comparison
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && identity == other.identity && size == other.size &&
           modified == other.modified && changed == other.changed;
  }
};

FileStamp StampOfFile(const std::wstring& path, int settled_ms = kSettledMs);

}  // namespace platform
