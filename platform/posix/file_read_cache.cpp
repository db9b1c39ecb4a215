#include "platform/posix/file_read_cache.h"

#include <mutex>
#include <new>
#include <vector>

#include "platform/file_stamp.h"
#include "platform/posix/file_io.h"

namespace platform {
namespace {

constexpr std::size_t kMaxFiles = 8;

struct CachedFile {
  std::wstring path;
  FileStamp stamp;
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

bool FindUnchanged(const std::wstring& path, const FileStamp& stamp, std::string& content) {
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

void Remember(const std::wstring& path, const FileStamp& stamp, const std::string& content) {
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

void Forget(const std::wstring& path) {
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
  const FileStamp before = StampOfFile(path, TheFileReadCacheSettings().settled_ms);
  // Anything but a regular file (or a missing one) is read as it is.
  if (!before.exists) return ReadWholeFile(path, content);
  if (FindUnchanged(path, before, content)) return true;
  if (!ReadWholeFile(path, content)) {
    Forget(path);
    return false;
  }
  // Kept under the stamp taken before the read: a change during the read
  // gives a newer stamp, so the next read reads again.
  try {
    if (before.settled) {
      Remember(path, before, content);
    } else {
      Forget(path);
    }
  } catch (const std::bad_alloc&) {
    // Not kept: the next read reads the file again.
  }
  return true;
}

}  // namespace platform
