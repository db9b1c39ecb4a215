#pragma once
// Named shared memory. The agent opens and maps it read-only; the stand-in
// monitor and tests create it.
//
// Windows: OpenFileMappingW(FILE_MAP_READ) / MapViewOfFile, and
// CreateFileMappingW for the writer; the object goes when its last handle
// closes. Linux: shm_open("/NAME") and fstat; the read-only view is a copy of
// the object's first bytes taken at the call (pread), which avoids the
// cross-core cost of unmapping in a busy process; an object smaller than the
// view asked for is refused as a map error (EINVAL). Closing keeps the last
// descriptor for the next open of the same name, which reuses it while its
// object still has that name (a removed object has none) and opens the name
// anew otherwise. The Linux writer removes the
// object (shm_unlink) when it is destroyed, unless told to leave it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using MappingHandle = std::int64_t;
inline constexpr MappingHandle kNoMapping = 0;

// Opens the object for reading; kNoMapping on failure (LastError set; a
// missing object is error 2 on Windows, ENOENT on Linux).
MappingHandle OpenSharedMemoryReadOnly(const std::wstring& name);
// Maps the first `size` bytes read-only; null on failure (LastError set).
const void* MapReadOnlyView(MappingHandle mapping, std::size_t size);
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
  void* Data() const noexcept { return data_; }
  // Closes and (Linux) removes the object now.
  void Remove();
  // Closes without removing (Linux): the object outlives this process.
  void Leave();

 private:
  std::wstring name_;
  std::size_t size_ = 0;
  void* data_ = nullptr;
  std::int64_t handle_ = 0;
};

}  // namespace platform
