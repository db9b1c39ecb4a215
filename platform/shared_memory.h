#pragma once
// Named shared memory. The agent opens and maps it read-only; our monitor and
// tests create it.
//
// Windows: OpenFileMappingW(FILE_MAP_READ) / MapViewOfFile, and
// CreateFileMappingW for the writer; the object goes when its last handle
// closes, so a dead writer's block goes with it (the reader closes its own
// handle before it opens the name again).
//
// Linux: the object is a file in /dev/shm, which outlives its writer and
// which anyone may put there, so the reader trusts it only when it is a
// regular file (never followed through a link, never waited on), owned by
// root or by the reader's own user, and writable by nobody else; and only
// while a live writer holds it (an open-file-description lock the writer
// keeps for its lifetime). Without a live writer the object counts as
// missing. The read-only view is a copy of the object's first bytes taken at
// the call (pread), which avoids the cross-core cost of unmapping in a busy
// process; our writer keeps a sequence word after the data, so the copy is
// never a mix of two blocks. An object smaller than the view asked for is
// refused as a map error (EINVAL). Closing keeps the last descriptor for the
// next open of the same name, which reuses it while its object still has
// that name (a removed object has none) and opens the name anew otherwise.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

using MappingHandle = std::int64_t;
inline constexpr MappingHandle kNoMapping = 0;

// Opens the object for reading; kNoMapping on failure (LastError set; a
// missing object is error 2 on Windows, ENOENT on Linux). When an object is
// there but is refused (Linux), `refusal` (if given) says why; it stays empty
// for a missing one. An object that no live writer holds and that is smaller
// than `block_size` is refused too: it is no writer's block at all.
MappingHandle OpenSharedMemoryReadOnly(const std::wstring& name, std::wstring* refusal = nullptr,
                                       std::size_t block_size = 0);
// Text our writer publishes with a block (Linux), at most this long.
inline constexpr std::size_t kMaxAttachmentBytes = 64 * 1024;

// Maps the first `size` bytes read-only; null on failure (LastError set).
// With `attachment`, also the text published with those very bytes (empty
// when there is none, or when what is there is longer than the most a
// writer publishes). Windows: always empty.
const void* MapReadOnlyView(MappingHandle mapping, std::size_t size,
                            std::string* attachment = nullptr);
void UnmapView(const void* view, std::size_t size);
void CloseMapping(MappingHandle mapping);

class SharedMemoryWriter {
 public:
  SharedMemoryWriter() = default;
  ~SharedMemoryWriter();
  SharedMemoryWriter(const SharedMemoryWriter&) = delete;
  SharedMemoryWriter& operator=(const SharedMemoryWriter&) = delete;

  // Creates (or opens) the object with `size` bytes and maps it for writing.
  bool Create(const std::wstring& name, std::size_t size);
  // Creates the object afresh, for the one publisher of a name. Linux: a
  // stale object of this user's (no live writer holds it) is removed first;
  // one that belongs to another user, or that a live writer holds, is
  // refused with `why` set. Windows: the same as Create.
  bool CreateExclusive(const std::wstring& name, std::size_t size, std::string& why);
  // The mapped block. Linux: readers see what Publish copies in, and keep
  // their last copy until the next Publish, so a write here in place is
  // seen only once published.
  void* Data() const noexcept { return data_; }
  // Copies a whole block in so that a reader never takes a mix of it and
  // the one before, with the text published beside it (Linux; rewritten only
  // when it changes; longer than kMaxAttachmentBytes: none).
  void Publish(const void* bytes, std::size_t size, std::string_view attachment = {});
  // Closes and (Linux) removes the object now.
  void Remove();
  // Closes without removing (Linux): the object outlives this process, but
  // readers count it as missing once no writer holds it.
  void Leave();

 private:
  bool MapCreated(std::int64_t handle, const std::wstring& name, std::size_t size);

  std::wstring name_;
  std::size_t size_ = 0;
  void* data_ = nullptr;
  std::int64_t handle_ = 0;
  std::string attachment_;  // as last published
};

}  // namespace platform
