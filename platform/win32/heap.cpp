#include "platform/heap.h"

#include <windows.h>

namespace platform {

PrivateHeap::PrivateHeap() : impl_(HeapCreate(0, 0, 0)) {
  if (impl_ != nullptr) {
    ULONG low_fragmentation = 2;
    HeapSetInformation(impl_, HeapCompatibilityInformation, &low_fragmentation,
                       sizeof(low_fragmentation));
  }
}

PrivateHeap::~PrivateHeap() {
  if (impl_ != nullptr) HeapDestroy(impl_);
}

void* PrivateHeap::Allocate(std::size_t bytes) noexcept {
  return impl_ == nullptr ? nullptr : HeapAlloc(impl_, 0, bytes);
}

void PrivateHeap::Free(void* block) noexcept {
  if (impl_ != nullptr && block != nullptr) HeapFree(impl_, 0, block);
}

void ReturnFreeMemory() noexcept { HeapCompact(GetProcessHeap(), 0); }

}  // namespace platform
