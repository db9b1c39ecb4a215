#include "platform/heap.h"

#include <malloc.h>

#include <memory_resource>
#include <new>

namespace platform {
namespace {

// The pool needs the size back on deallocation, so each block carries it in a
// header of one maximal alignment unit.
constexpr std::size_t kHeader = alignof(std::max_align_t);

std::pmr::synchronized_pool_resource* Pool(void* impl) {
  return static_cast<std::pmr::synchronized_pool_resource*>(impl);
}

}  // namespace

PrivateHeap::PrivateHeap()
    : impl_(new (std::nothrow)
                std::pmr::synchronized_pool_resource(std::pmr::new_delete_resource())) {}

PrivateHeap::~PrivateHeap() { delete Pool(impl_); }

void* PrivateHeap::Allocate(std::size_t bytes) noexcept {
  if (impl_ == nullptr || bytes > (static_cast<std::size_t>(-1) >> 1)) return nullptr;
  try {
    auto* raw = static_cast<unsigned char*>(Pool(impl_)->allocate(bytes + kHeader, kHeader));
    *reinterpret_cast<std::size_t*>(raw) = bytes + kHeader;
    return raw + kHeader;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void PrivateHeap::Free(void* block) noexcept {
  if (impl_ == nullptr || block == nullptr) return;
  unsigned char* raw = static_cast<unsigned char*>(block) - kHeader;
  Pool(impl_)->deallocate(raw, *reinterpret_cast<std::size_t*>(raw), kHeader);
}

void ReturnFreeMemory() noexcept { malloc_trim(0); }

}  // namespace platform
