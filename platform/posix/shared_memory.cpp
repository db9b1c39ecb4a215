#include "platform/shared_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/posix/file_io.h"

namespace platform {
namespace {

std::string ObjectName(const std::wstring& name) {
  std::string object(1, '/');
  object += NarrowPath(name);
  return object;
}

}  // namespace

MappingHandle OpenSharedMemoryReadOnly(const std::wstring& name) {
  int fd = shm_open(ObjectName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
  // Descriptor 0 is never ours to hand out here (stdin), so +1 keeps 0 as "none".
  return fd < 0 ? kNoMapping : static_cast<MappingHandle>(fd) + 1;
}

const void* MapReadOnlyView(MappingHandle mapping, std::size_t size) {
  int fd = static_cast<int>(mapping - 1);
  // The view is a fresh copy of the object's bytes rather than a mapping:
  // unmapping in a process with many threads makes the kernel flush every
  // core's address translations, which cost more than the whole request.
  char* view = new (std::nothrow) char[size];
  if (view == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, view + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      delete[] view;
      if (n == 0) errno = EINVAL;  // the object is smaller than the view
      return nullptr;
    }
    done += static_cast<std::size_t>(n);
  }
  return view;
}

void UnmapView(const void* view, std::size_t) { delete[] static_cast<const char*>(view); }

void CloseMapping(MappingHandle mapping) {
  if (mapping != kNoMapping) close(static_cast<int>(mapping - 1));
}

SharedMemoryWriter::~SharedMemoryWriter() { Remove(); }

bool SharedMemoryWriter::Create(const std::wstring& name, std::size_t size) {
  Remove();
  int fd = shm_open(ObjectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    return false;
  }
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (data == MAP_FAILED) return false;
  name_ = name;
  size_ = size;
  data_ = data;
  handle_ = 0;  // the mapping keeps the object; no descriptor is held
  return true;
}

void SharedMemoryWriter::Leave() {
  if (data_ != nullptr) munmap(data_, size_);
  data_ = nullptr;
  name_.clear();
}

void SharedMemoryWriter::Remove() {
  if (data_ == nullptr) return;
  std::wstring name = name_;
  Leave();
  shm_unlink(ObjectName(name).c_str());
}

}  // namespace platform
