#include "platform/posix/file_read_cache.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "platform/posix/file_io.h"

namespace platform {
namespace {

constexpr std::size_t kMaxFiles = 8;

struct Stamp {
  dev_t device;
  ino_t inode;
  off_t size;
  std::int64_t modified_ns;
  std::int64_t changed_ns;
  bool operator==(const Stamp&) const = default;
};

struct CachedFile {
  std::string path;
  Stamp stamp;
  std::string content;
};

struct FileReadCache {
  std::mutex mutex;
  std::vector<CachedFile> files;  // guarded by mutex
};

FileReadCache& TheCache() {
  // Never destroyed: a late read during process exit still finds it.
  static FileReadCache* cache = new FileReadCache;
  return *cache;
}

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool StampOf(const std::string& path, Stamp& stamp) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  stamp = {status.st_dev, status.st_ino, status.st_size, Nanoseconds(status.st_mtim),
           Nanoseconds(status.st_ctim)};
  return true;
}

std::int64_t WallClockNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

// True when the file's last change was settled_ms old at `looked_ns`.
bool Settled(const Stamp& stamp, std::int64_t looked_ns) {
  const std::int64_t settled_ns =
      static_cast<std::int64_t>(TheFileReadCacheSettings().settled_ms) * 1000000;
  return looked_ns - stamp.changed_ns > settled_ns;
}

bool FindUnchanged(const std::string& path, const Stamp& stamp, std::string& content) {
  FileReadCache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  for (const CachedFile& file : cache.files) {
    if (file.path != path) continue;
    if (!(file.stamp == stamp)) return false;
    content = file.content;
    return true;
  }
  return false;
}

void Remember(const std::string& path, const Stamp& stamp, const std::string& content) {
  FileReadCache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  for (CachedFile& file : cache.files) {
    if (file.path != path) continue;
    file.stamp = stamp;
    file.content = content;
    return;
  }
  if (cache.files.size() >= kMaxFiles) cache.files.erase(cache.files.begin());
  cache.files.push_back({path, stamp, content});
}

void Forget(const std::string& path) {
  FileReadCache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  std::erase_if(cache.files, [&](const CachedFile& file) { return file.path == path; });
}

}  // namespace

FileReadCacheSettings& TheFileReadCacheSettings() {
  static FileReadCacheSettings settings;
  return settings;
}

bool ReadUnchangedOrWholeFile(const std::wstring& path, std::string& content) {
  const std::string narrow = NarrowPath(path);
  const std::int64_t looked_ns = WallClockNs();
  Stamp before{};
  // Anything but a regular file (or a missing one) is read as it is.
  if (!StampOf(narrow, before)) return ReadWholeFile(path, content);
  if (FindUnchanged(narrow, before, content)) return true;
  if (!ReadWholeFile(path, content)) {
    Forget(narrow);
    return false;
  }
  // Kept under the stamp taken before the read: a change during the read
  // gives a newer stamp, so the next read reads again.
  try {
    if (Settled(before, looked_ns)) {
      Remember(narrow, before, content);
    } else {
      Forget(narrow);
    }
  } catch (const std::bad_alloc&) {
    // Not kept: the next read reads the file again.
  }
  return true;
}

}  // namespace platform
