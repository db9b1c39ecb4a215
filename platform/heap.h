#pragma once
// Private heap for the string manager.
//
// Windows: HeapCreate(0, 0, 0) with the low-fragmentation policy switched on
// (HeapSetInformation, compatibility information 2); access is serialised by
// the heap itself.
// Linux: a dedicated std::pmr::synchronized_pool_resource owned by this object.
//
// Thread safety: Allocate and Free may be called from any thread at once.
// Destroying the heap releases every block still allocated.
#include <cstddef>

namespace platform {

// Hands memory the process has freed back to the system where the allocator
// keeps it (malloc_trim on Linux; HeapCompact of the process heap on
// Windows). Costs a walk of the free lists: for after a burst, not per call.
void ReturnFreeMemory() noexcept;

class PrivateHeap {
 public:
  PrivateHeap();
  ~PrivateHeap();
  PrivateHeap(const PrivateHeap&) = delete;
  PrivateHeap& operator=(const PrivateHeap&) = delete;

  // Returns null when the heap cannot supply the block (never throws).
  void* Allocate(std::size_t bytes) noexcept;
  void Free(void* block) noexcept;

 private:
  void* impl_;
};

}  // namespace platform
