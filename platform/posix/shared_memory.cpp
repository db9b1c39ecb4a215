#include "platform/shared_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/posix/file_io.h"

namespace platform {
namespace {

std::string ObjectName(const std::wstring& name) {
  std::string object(1, '/');
  object += NarrowPath(name);
  return object;
}

// The descriptor of the last closed object stays open for the next open of
// the same name: asking it whether its object still has a name (fstat) costs
// less than looking the name up again. A removed object has no links left,
// and a monitor that starts anew removes the old one, so an object that
// still has its name is the current one.
struct KeptDescriptors {
  std::mutex mutex;
  std::vector<std::pair<int, std::string>> open;  // handed out, with their names
  int kept = -1;
  std::string kept_name;
};

KeptDescriptors& Descriptors() {
  // Never destroyed: a late close during process exit still finds it.
  static KeptDescriptors* descriptors = new KeptDescriptors;
  return *descriptors;
}

bool StillNamed(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 && status.st_nlink > 0;
}

// The kept descriptor when it is for `object` and still named, else -1.
int TakeKept(KeptDescriptors& d, const std::string& object) {
  int fd = d.kept;
  if (fd < 0 || d.kept_name != object) return -1;
  d.kept = -1;
  if (StillNamed(fd)) return fd;
  close(fd);
  return -1;
}

}  // namespace

MappingHandle OpenSharedMemoryReadOnly(const std::wstring& name) {
  const std::string object = ObjectName(name);
  KeptDescriptors& d = Descriptors();
  std::lock_guard<std::mutex> hold(d.mutex);
  int fd = TakeKept(d, object);
  if (fd < 0) fd = shm_open(object.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return kNoMapping;
  try {
    d.open.emplace_back(fd, object);
  } catch (const std::bad_alloc&) {
    // Unrecorded, it is simply closed when done with instead of kept.
  }
  // Descriptor 0 is never ours to hand out here (stdin), so +1 keeps 0 as "none".
  return static_cast<MappingHandle>(fd) + 1;
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
  if (mapping == kNoMapping) return;
  const int fd = static_cast<int>(mapping - 1);
  KeptDescriptors& d = Descriptors();
  std::lock_guard<std::mutex> hold(d.mutex);
  for (auto it = d.open.begin(); it != d.open.end(); ++it) {
    if (it->first != fd) continue;
    if (d.kept >= 0) close(d.kept);
    d.kept = fd;
    d.kept_name.swap(it->second);
    d.open.erase(it);
    return;
  }
  close(fd);
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
