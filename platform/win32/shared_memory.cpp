#include "platform/shared_memory.h"

#include <windows.h>

#include <cstring>

namespace platform {

MappingHandle OpenSharedMemoryReadOnly(const std::wstring& name, std::wstring*, std::size_t) {
  HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
  return reinterpret_cast<MappingHandle>(h);
}

const void* MapReadOnlyView(MappingHandle mapping, std::size_t size, std::string* attachment) {
  if (attachment != nullptr) attachment->clear();
  return MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_READ, 0, 0, size);
}

void UnmapView(const void* view, std::size_t) {
  if (view != nullptr) UnmapViewOfFile(view);
}

void CloseMapping(MappingHandle mapping) {
  if (mapping != kNoMapping) CloseHandle(reinterpret_cast<HANDLE>(mapping));
}

SharedMemoryWriter::~SharedMemoryWriter() { Remove(); }

bool SharedMemoryWriter::Create(const std::wstring& name, std::size_t size) {
  Remove();
  HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                static_cast<DWORD>(size), name.c_str());
  if (h == nullptr) return false;
  return MapCreated(reinterpret_cast<std::int64_t>(h), name, size);
}

bool SharedMemoryWriter::CreateExclusive(const std::wstring& name, std::size_t size,
                                         std::string& why) {
  if (Create(name, size)) return true;
  why = "cannot create the shared-memory block";
  return false;
}

bool SharedMemoryWriter::MapCreated(std::int64_t handle, const std::wstring& name,
                                    std::size_t size) {
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  void* data = MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, size);
  if (data == nullptr) {
    CloseHandle(h);
    return false;
  }
  name_ = name;
  size_ = size;
  data_ = data;
  handle_ = handle;
  return true;
}

// The outside monitor's readers know no sequence word: a plain copy, as the
// real monitor makes.
void SharedMemoryWriter::Publish(const void* bytes, std::size_t size, std::string_view) {
  if (data_ != nullptr) std::memcpy(data_, bytes, size < size_ ? size : size_);
}

void SharedMemoryWriter::Leave() { Remove(); }  // an object lives only with its handles

void SharedMemoryWriter::Remove() {
  if (data_ == nullptr) return;
  UnmapViewOfFile(data_);
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  data_ = nullptr;
  handle_ = 0;
  name_.clear();
}

}  // namespace platform
