#pragma once
// CWString: reference-counted, copy-on-write wide text whose buffers come from
// a string manager (by default the process-wide one over the private heap).
//
// Copies share one block (one atomic increment); the first write to a shared
// block copies it. Failures raise CAtlException: E_INVALIDARG for a negative or
// out-of-range length, E_OUTOFMEMORY when the manager supplies no block, E_FAIL
// when there is no manager. An object may be used by one thread at a time;
// copies of it may live on other threads.
#include <cstddef>
#include <string_view>

#include "foundation/hresult.h"
#include "foundation/string_mgr.h"

class CWString {
 public:
  CWString();
  explicit CWString(IAtlStringMgr* manager);
  CWString(const wchar_t* text);  // NOLINT: implicit like the system's strings
  CWString(const wchar_t* text, int length);
  CWString(std::wstring_view text);
  CWString(const CWString& other) noexcept;
  CWString(CWString&& other) noexcept;
  ~CWString();

  CWString& operator=(const CWString& other) noexcept;
  CWString& operator=(CWString&& other) noexcept;
  CWString& operator=(const wchar_t* text);

  int GetLength() const noexcept { return Data()->length; }
  bool IsEmpty() const noexcept { return GetLength() == 0; }
  const wchar_t* GetString() const noexcept { return chars_; }
  operator const wchar_t*() const noexcept { return chars_; }
  std::wstring_view View() const noexcept {
    return {chars_, static_cast<std::size_t>(GetLength())};
  }
  wchar_t operator[](int index) const noexcept { return chars_[index]; }

  void Empty() noexcept;
  void SetString(const wchar_t* text, int length);
  void SetString(const wchar_t* text);
  void Append(const wchar_t* text, int length);
  void Append(const wchar_t* text);
  CWString& operator+=(const wchar_t* text) { return Append(text), *this; }
  CWString& operator+=(const CWString& text) {
    return Append(text.GetString(), text.GetLength()), *this;
  }
  CWString& operator+=(wchar_t ch) { return Append(&ch, 1), *this; }

  // A private buffer of at least `min_length` characters (plus terminator);
  // ReleaseBuffer sets the final length (-1: up to the first NUL).
  wchar_t* GetBuffer(int min_length);
  void ReleaseBuffer(int new_length = -1);

  // Replaces every occurrence of `old_text`, left to right without overlap
  // (case-sensitive; an empty search text replaces nothing). Returns the count.
  int Replace(const wchar_t* old_text, const wchar_t* new_text);
  // Index of the first occurrence of `text` at or after `start`, or -1.
  int Find(const wchar_t* text, int start = 0) const noexcept;

  bool operator==(const wchar_t* text) const noexcept;
  bool operator==(const CWString& other) const noexcept { return *this == other.GetString(); }

  // For tests of sharing: the block behind the characters.
  const StringData* Block() const noexcept { return Data(); }

 private:
  StringData* Data() const noexcept { return reinterpret_cast<StringData*>(chars_) - 1; }
  void Attach(StringData* block) noexcept { chars_ = block->Chars(); }
  // Makes the block private with room for `length` characters (at least the
  // current length) and returns its characters.
  wchar_t* PrepareWrite(int length);
  void Fork(int length);
  void Grow(int length);
  void SetLength(int length);

  wchar_t* chars_;
};

inline bool operator==(const wchar_t* text, const CWString& s) noexcept { return s == text; }
