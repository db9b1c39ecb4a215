#include "platform/shared_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/posix/file_identity.h"
#include "platform/posix/file_io.h"

namespace platform {
namespace {

// Where glibc keeps the objects shm_open names.
constexpr const char* kShmFolder = "/dev/shm";
// Our writer's object: the block, from the next multiple of 8 room for the attachment, and
// at the very end the trailer, four words: the attachment's length, the block's size, this
// magic word, and the sequence number (odd while a copy is under way).
constexpr std::uint64_t kTrailerMagic = 0x314B4C5351564B00ull;  // "\0KVQSLK1"
struct Trailer {
  std::uint64_t attachment_length, block_size, magic, sequence;
};
constexpr std::size_t kTrailerBytes = sizeof(Trailer);
// Bounds on the retries of a read that met a copy under way. Our monitor copies once a
// second and a copy takes well under a microsecond, so these are reached only by a writer
// that copies without pause; the read then fails (EBUSY) rather than give a mix.
constexpr int kSequencedReadTries = 2000;
constexpr int kPlainReadTries = 16;

std::size_t AttachmentAt(std::size_t size) { return (size + 7) / 8 * 8; }

// Everything our writer's object holds for a block of `size` bytes.
std::size_t ObjectBytes(std::size_t size) {
  return AttachmentAt(size) + kMaxAttachmentBytes + kTrailerBytes;
}

std::string ObjectName(const std::wstring& name) {
  std::string object(1, '/');
  object += NarrowPath(name);
  return object;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Whether a writer other than this descriptor holds the object's lock.
bool HeldByALiveWriter(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

struct OpenObject {
  int fd;
  std::string name;
  off_t size;
  std::uint64_t identity;  // device and inode
};

// The descriptor of the last closed object stays open for the next open of the same name:
// asking it whether its object still has a name (fstat) costs less than looking the name up
// again. A removed object has no links left, and a monitor that starts anew removes the old
// one, so an object that still has its name is the current one.
struct KeptDescriptors {
  std::mutex mutex;
  std::vector<OpenObject> open;  // handed out
  OpenObject kept{-1, {}, 0, 0};
};

KeptDescriptors& Descriptors() {
  // Never destroyed: a late close during process exit still finds it.
  static KeptDescriptors* descriptors = new KeptDescriptors;
  return *descriptors;
}

// The reason an opened object is not to be trusted, or empty text.
std::string Untrusted(const struct stat& status, const std::string& object) {
  const std::string path = kShmFolder + object;
  if (!S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return path + " is not a regular file";
  }
  if (status.st_uid != 0 && status.st_uid != geteuid()) {
    errno = EPERM;
    return path + " belongs to another user (uid " + std::to_string(status.st_uid) + ")";
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    errno = EPERM;
    return path + " may be written by other users";
  }
  return {};
}

// Opens `object` without following a link or waiting on a FIFO, and checks
// it; -1 with errno (and `refusal` for an object that is there) otherwise.
int OpenTrusted(const std::string& object, std::size_t block_size, int kept, std::string& refusal,
                off_t& size, std::uint64_t& identity) {
  int fd = kept;
  struct stat status {};
  if (fd >= 0 && (fstat(fd, &status) != 0 || status.st_nlink == 0)) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) {
    fd = shm_open(object.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) {
      if (errno == ELOOP) refusal = kShmFolder + object + " is a symbolic link";
      return -1;
    }
    if (fstat(fd, &status) != 0) status.st_mode = 0;
  }
  refusal = Untrusted(status, object);
  const bool usable = refusal.empty() && HeldByALiveWriter(fd);
  if (!usable && refusal.empty() && static_cast<std::size_t>(status.st_size) < block_size) {
    errno = EINVAL;
    refusal = kShmFolder + object + " is " + std::to_string(status.st_size) +
              " bytes, too small for a block";
  }
  if (!usable) {
    const int error = refusal.empty() ? ENOENT : errno;  // a dead writer's block is missing
    close(fd);
    errno = error;
    return -1;
  }
  size = status.st_size;
  identity = FileIdentity(status);
  return fd;
}

bool ReadAt(int fd, void* buffer, std::size_t length, std::size_t offset) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, static_cast<char*>(buffer) + done, length - done,
                      static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EINVAL;  // the object is smaller than asked for
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The attachment published with the block, read inside the same sequence
// window; empty when its length is beyond what a writer publishes or what
// the object holds.
bool ReadAttachment(int fd, const Trailer& trailer, off_t object_size, std::string& attachment) {
  attachment.clear();
  const std::uint64_t at = AttachmentAt(trailer.block_size);
  const std::uint64_t length = trailer.attachment_length;
  if (length == 0 || length > kMaxAttachmentBytes ||
      at + length + kTrailerBytes > static_cast<std::uint64_t>(object_size)) {
    return true;
  }
  attachment.resize(static_cast<std::size_t>(length));
  return ReadAt(fd, attachment.data(), attachment.size(), at);
}

// Which object, as it was opened: a monitor that starts anew makes a new one.
struct ObjectKey {
  std::uint64_t identity = 0;
  off_t size = 0;
  bool operator==(const ObjectKey&) const = default;
};

// The last sequenced copy, with its attachment: while the object and its sequence number stay the
// same, the writer has not written, so a read between two of the monitor's refreshes is a copy of
// this one, without reading the object again.
struct LastCopy {
  std::mutex mutex;
  ObjectKey key;
  std::uint64_t sequence = 1;  // odd: none yet
  std::string block, attachment;
};

LastCopy& TheLastCopy() {
  static LastCopy* last = new LastCopy;  // never destroyed, as the descriptors
  return *last;
}

bool CopyOfLast(const ObjectKey& key, std::uint64_t sequence, char* view, std::size_t size,
                std::string* attachment) {
  LastCopy& last = TheLastCopy();
  std::lock_guard<std::mutex> hold(last.mutex);
  if (key.identity == 0 || !(last.key == key) || last.sequence != sequence ||
      last.block.size() != size) {
    return false;
  }
  std::memcpy(view, last.block.data(), size);
  if (attachment != nullptr) *attachment = last.attachment;
  return true;
}

void KeepAsLast(const ObjectKey& key, std::uint64_t sequence, const char* view, std::size_t size,
                const std::string& attachment) {
  LastCopy& last = TheLastCopy();
  std::lock_guard<std::mutex> hold(last.mutex);
  last.key = key;
  last.sequence = sequence;
  last.block.assign(view, size);
  last.attachment = attachment;
}

// A copy taken between two equal, even sequence numbers: no copy by the
// writer overlapped it. `sequenced` is false when the object has no trailer.
bool ReadSequenced(int fd, const ObjectKey& key, char* view, std::size_t size,
                   std::string* attachment, bool& sequenced) {
  const std::size_t at = static_cast<std::size_t>(key.size) - kTrailerBytes;
  for (int attempt = 0; attempt < kSequencedReadTries; ++attempt) {
    Trailer before{}, after{};
    if (!ReadAt(fd, &before, sizeof before, at)) return false;
    if (before.magic != kTrailerMagic) {
      sequenced = false;
      return true;
    }
    if (before.block_size < size) {
      errno = EINVAL;  // a smaller block than asked for
      return false;
    }
    if ((before.sequence & 1) != 0) {
      sched_yield();
      continue;
    }
    if (CopyOfLast(key, before.sequence, view, size, attachment)) return true;
    std::string own;
    if (ReadAt(fd, view, size, 0) && ReadAttachment(fd, before, key.size, own) &&
        ReadAt(fd, &after.sequence, sizeof after.sequence, at + offsetof(Trailer, sequence)) &&
        after.sequence == before.sequence) {
      KeepAsLast(key, before.sequence, view, size, own);
      if (attachment != nullptr) *attachment = std::move(own);
      return true;
    }
    sched_yield();
  }
  errno = EBUSY;
  return false;
}

// Without a sequence word: two copies in a row that agree.
bool ReadAgreeing(int fd, char* view, std::size_t size) {
  std::vector<char> again(size);
  if (!ReadAt(fd, view, size, 0)) return false;
  for (int attempt = 0; attempt < kPlainReadTries; ++attempt) {
    if (!ReadAt(fd, again.data(), size, 0)) return false;
    if (std::memcmp(view, again.data(), size) == 0) return true;
    std::memcpy(view, again.data(), size);
  }
  errno = EBUSY;
  return false;
}

}  // namespace

MappingHandle OpenSharedMemoryReadOnly(const std::wstring& name, std::wstring* refusal,
                                       std::size_t block_size) {
  const std::string object = ObjectName(name);
  KeptDescriptors& d = Descriptors();
  std::lock_guard<std::mutex> hold(d.mutex);
  int kept = -1;
  if (d.kept.fd >= 0 && d.kept.name == object) std::swap(kept, d.kept.fd);
  std::string why;
  off_t size = 0;
  std::uint64_t identity = 0;
  int fd = OpenTrusted(object, block_size, kept, why, size, identity);
  if (fd < 0) {
    if (refusal != nullptr) *refusal = Widen(why);
    return kNoMapping;
  }
  try {
    d.open.push_back({fd, object, size, identity});
  } catch (const std::bad_alloc&) {
    // Unrecorded, it is simply closed when done with instead of kept.
  }
  // Descriptor 0 is never ours to hand out here (stdin), so +1 keeps 0 as "none".
  return static_cast<MappingHandle>(fd) + 1;
}

const void* MapReadOnlyView(MappingHandle mapping, std::size_t size, std::string* attachment) {
  if (attachment != nullptr) attachment->clear();
  const int fd = static_cast<int>(mapping - 1);
  off_t object_size = -1;
  std::uint64_t identity = 0;
  {
    KeptDescriptors& d = Descriptors();
    std::lock_guard<std::mutex> hold(d.mutex);
    for (const OpenObject& o : d.open) {
      if (o.fd != fd) continue;
      object_size = o.size;
      identity = o.identity;
    }
  }
  // The view is a fresh copy of the object's bytes rather than a mapping:
  // unmapping in a process with many threads makes the kernel flush every
  // core's address translations, which cost more than the whole request.
  char* view = new (std::nothrow) char[size];
  if (view == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  if (object_size < 0) {
    struct stat status {};
    object_size = fstat(fd, &status) == 0 ? status.st_size : 0;
  }
  bool sequenced = static_cast<std::size_t>(object_size) >= kTrailerBytes;
  bool read = false;
  if (sequenced) {
    read = ReadSequenced(fd, {identity, object_size}, view, size, attachment, sequenced);
  }
  if (!sequenced) read = ReadAgreeing(fd, view, size);
  if (!read) {
    const int error = errno;
    delete[] view;
    errno = error;
    return nullptr;
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
    if (it->fd != fd) continue;
    if (d.kept.fd >= 0) close(d.kept.fd);
    d.kept = std::move(*it);
    d.open.erase(it);
    return;
  }
  close(fd);
}

SharedMemoryWriter::~SharedMemoryWriter() { Remove(); }

bool SharedMemoryWriter::Create(const std::wstring& name, std::size_t size) {
  Remove();
  int fd = shm_open(ObjectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  return MapCreated(fd, name, size);
}

bool SharedMemoryWriter::CreateExclusive(const std::wstring& name, std::size_t size,
                                         std::string& why) {
  Remove();
  const std::string object = ObjectName(name);
  const std::string path = kShmFolder + object;
  // Two rounds: a stale object of ours is removed once, then the name is
  // taken anew (another writer taking it meanwhile is refused next round).
  for (int round = 0; round < 2; ++round) {
    int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      if (MapCreated(fd, name, size)) return true;
      why = path + ": " + std::strerror(errno);
      shm_unlink(object.c_str());
      return false;
    }
    if (errno != EEXIST) break;
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) continue;  // gone meanwhile
    if (status.st_uid != geteuid()) {
      why = path + " belongs to another user (uid " + std::to_string(status.st_uid) +
            "); remove it, or run the monitor as that user";
      return false;
    }
    if (S_ISREG(status.st_mode)) {
      int existing = shm_open(object.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
      const bool live = existing >= 0 && HeldByALiveWriter(existing);
      if (existing >= 0) close(existing);
      if (live) {
        why = path + " is being published by another running monitor";
        return false;
      }
    }
    if (shm_unlink(object.c_str()) != 0 && errno != ENOENT) break;
  }
  why = path + ": " + std::strerror(errno);
  return false;
}

bool SharedMemoryWriter::MapCreated(std::int64_t handle, const std::wstring& name,
                                    std::size_t size) {
  const int fd = static_cast<int>(handle);
  const std::size_t total = ObjectBytes(size);
  void* data = MAP_FAILED;
  if (ftruncate(fd, static_cast<off_t>(total)) == 0) {
    data = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  if (data == MAP_FAILED) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  // Held for the writer's lifetime: readers serve the block only while it is
  // held. A second writer of the same object (a test's) simply does not get it.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  fcntl(fd, F_OFD_SETLK, &lock);
  auto* trailer = reinterpret_cast<Trailer*>(static_cast<char*>(data) + total - kTrailerBytes);
  trailer->block_size = size;
  trailer->magic = kTrailerMagic;
  name_ = name;
  size_ = size;
  data_ = data;
  handle_ = fd + 1;  // 0 stays "none"
  return true;
}

void SharedMemoryWriter::Publish(const void* bytes, std::size_t size, std::string_view attachment) {
  if (data_ == nullptr) return;
  if (size > size_) size = size_;
  if (attachment.size() > kMaxAttachmentBytes) attachment = {};
  auto* trailer =
      reinterpret_cast<Trailer*>(static_cast<char*>(data_) + ObjectBytes(size_) - kTrailerBytes);
  std::atomic_ref<std::uint64_t> sequence(trailer->sequence);
  const std::uint64_t start = sequence.load(std::memory_order_relaxed);
  sequence.store(start | 1, std::memory_order_relaxed);  // odd: a copy is under way
  std::atomic_thread_fence(std::memory_order_release);
  std::memcpy(data_, bytes, size);
  if (attachment != attachment_) {
    std::memcpy(static_cast<char*>(data_) + AttachmentAt(size_), attachment.data(),
                attachment.size());
    trailer->attachment_length = attachment.size();
    attachment_.assign(attachment);
  }
  sequence.store((start | 1) + 1, std::memory_order_release);
}

void SharedMemoryWriter::Leave() {
  if (data_ != nullptr) munmap(data_, ObjectBytes(size_));
  attachment_.clear();
  if (handle_ > 0) close(static_cast<int>(handle_ - 1));
  data_ = nullptr;
  handle_ = 0;
  name_.clear();
}

void SharedMemoryWriter::Remove() {
  if (data_ == nullptr) return;
  // Unlinked before the lock goes with the descriptor: no reader meets the
  // object unheld while it still has its name.
  shm_unlink(ObjectName(name_).c_str());
  Leave();
}

}  // namespace platform
