#include "foundation/string_mgr.h"

#include <cstring>
#include <new>

void StringData::Release() noexcept {
  if (references.fetch_sub(1, std::memory_order_acq_rel) <= 1) manager->Free(this);
}

COVStringMgr::COVStringMgr() noexcept {
  nil_.data.manager = this;
  nil_.data.length = 0;
  nil_.data.capacity = 0;
  nil_.data.references.store(2);
  nil_.terminator[0] = nil_.terminator[1] = L'\0';
  static_assert(offsetof(Nil, terminator) == sizeof(StringData),
                "the nil block's character must follow its header");
}

StringData* COVStringMgr::Allocate(int chars, int char_size) noexcept {
  if (chars < 0 || char_size <= 0) return nullptr;
  std::size_t bytes = sizeof(StringData) +
                      (static_cast<std::size_t>(chars) + 1) * static_cast<std::size_t>(char_size);
  void* memory = heap_.Allocate(bytes);
  if (memory == nullptr) return nullptr;
  auto* block = new (memory) StringData;
  block->manager = this;
  block->references.store(1, std::memory_order_relaxed);
  block->capacity = chars;
  block->length = 0;
  block->Chars()[0] = L'\0';
  return block;
}

void COVStringMgr::Free(StringData* block) noexcept {
  if (block == nullptr || block == &nil_.data) return;
  block->~StringData();
  heap_.Free(block);
}

StringData* COVStringMgr::Reallocate(StringData* block, int chars, int char_size) noexcept {
  if (chars < 0) return nullptr;
  StringData* grown = COVStringMgr::Allocate(chars, char_size);
  if (grown == nullptr) return nullptr;
  int kept = block->length < chars ? block->length : chars;
  std::memcpy(grown->Chars(), block->Chars(), static_cast<std::size_t>(kept) * char_size);
  // A shrinking block must end at its new length, not with the old next character.
  std::memset(reinterpret_cast<char*>(grown->Chars()) + static_cast<std::size_t>(kept) * char_size,
              0, static_cast<std::size_t>(char_size));
  grown->length = kept;
  Free(block);
  return grown;
}

StringData* COVStringMgr::GetNilString() noexcept {
  nil_.data.AddRef();
  return &nil_.data;
}

COVStringMgr& ProcessStringHeap() noexcept {
  // Constructed on first use, so before any static string that asks for it,
  // and therefore destroyed after every such string.
  static COVStringMgr manager;
  return manager;
}

IAtlStringMgr*& ProcessStringManager() noexcept {
  static IAtlStringMgr* pointer = &ProcessStringHeap();
  return pointer;
}
