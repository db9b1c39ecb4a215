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
