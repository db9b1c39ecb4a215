#pragma once
// String memory: the block header, the manager interface and the process-wide
// manager that takes every string buffer from a private heap of its own.
#include <atomic>
#include <cstdint>

#include "platform/heap.h"

class IAtlStringMgr;

// Header in front of every string buffer; capacity + 1 characters follow it.
struct StringData {
  IAtlStringMgr* manager;
  std::int32_t length;    // characters in use, terminator not counted
  std::int32_t capacity;  // characters that fit, terminator not counted
  std::atomic<std::int32_t> references;

  wchar_t* Chars() noexcept { return reinterpret_cast<wchar_t*>(this + 1); }
  void AddRef() noexcept { references.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference; the block that reaches zero goes back to its manager.
  void Release() noexcept;
  bool IsShared() const noexcept { return references.load(std::memory_order_acquire) > 1; }
};

// Allocator of string blocks. Returns null on failure; never throws.
class IAtlStringMgr {
 public:
  virtual StringData* Allocate(int chars, int char_size) noexcept = 0;
  virtual void Free(StringData* block) noexcept = 0;
  virtual StringData* Reallocate(StringData* block, int chars, int char_size) noexcept = 0;
  virtual StringData* GetNilString() noexcept = 0;
  virtual IAtlStringMgr* Clone() noexcept = 0;
  virtual ~IAtlStringMgr() = default;
};

// The manager over a private heap. The nil block (length 0, capacity 0, one
// NUL) is shared by every empty string and never freed. Thread safe.
class COVStringMgr : public IAtlStringMgr {
 public:
  COVStringMgr() noexcept;
  ~COVStringMgr() override = default;

  StringData* Allocate(int chars, int char_size) noexcept override;
  void Free(StringData* block) noexcept override;
  // Copies min(old length, chars) characters into a new block and ends it with
  // NUL at its new length; on null the old block is untouched.
  StringData* Reallocate(StringData* block, int chars, int char_size) noexcept override;
  StringData* GetNilString() noexcept override;
  IAtlStringMgr* Clone() noexcept override { return this; }

  StringData* NilBlock() noexcept { return &nil_.data; }

 private:
  struct Nil {
    StringData data;
    wchar_t terminator[2];
  };
  Nil nil_;
  platform::PrivateHeap heap_;
};

// The process-wide manager pointer every string object uses by default. It is
// set during static initialisation before any static string exists; tests may
// swap it (a null pointer makes string creation raise E_FAIL).
IAtlStringMgr*& ProcessStringManager() noexcept;
COVStringMgr& ProcessStringHeap() noexcept;
