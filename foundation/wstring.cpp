#include "foundation/wstring.h"

#include <climits>
#include <cstring>
#include <cwchar>

namespace {

constexpr int kCharSize = static_cast<int>(sizeof(wchar_t));

IAtlStringMgr* RequireManager(IAtlStringMgr* manager) {
  if (manager == nullptr) AtlThrow(kEFail);
  return manager;
}

int CheckedLength(std::size_t length) {
  if (length > static_cast<std::size_t>(INT_MAX - 1)) AtlThrow(kEInvalidArg);
  return static_cast<int>(length);
}

int TextLength(const wchar_t* text) { return text == nullptr ? 0 : CheckedLength(wcslen(text)); }

void CopyChars(wchar_t* to, const wchar_t* from, int count) {
  std::memmove(to, from, static_cast<std::size_t>(count) * sizeof(wchar_t));
}

}  // namespace

CWString::CWString() : CWString(ProcessStringManager()) {}

CWString::CWString(IAtlStringMgr* manager) { Attach(RequireManager(manager)->GetNilString()); }

CWString::CWString(const wchar_t* text) : CWString() { SetString(text); }

CWString::CWString(const wchar_t* text, int length) : CWString() { SetString(text, length); }

CWString::CWString(std::wstring_view text) : CWString() {
  SetString(text.data(), CheckedLength(text.size()));
}

CWString::CWString(const CWString& other) noexcept : chars_(other.chars_) { Data()->AddRef(); }

CWString::CWString(CWString&& other) noexcept : chars_(other.chars_) {
  other.Attach(Data()->manager->GetNilString());
}

CWString::~CWString() { Data()->Release(); }

CWString& CWString::operator=(const CWString& other) noexcept {
  if (chars_ != other.chars_) {
    other.Data()->AddRef();
    Data()->Release();
    chars_ = other.chars_;
  }
  return *this;
}

CWString& CWString::operator=(CWString&& other) noexcept {
  if (this != &other) {
    std::swap(chars_, other.chars_);
  }
  return *this;
}

CWString& CWString::operator=(const wchar_t* text) {
  SetString(text);
  return *this;
}

void CWString::Empty() noexcept {
  // Taking the nil block before releasing the old one keeps this right when the
  // old block is the nil block itself.
  StringData* old = Data();
  Attach(old->manager->GetNilString());
  old->Release();
}

void CWString::SetString(const wchar_t* text) { SetString(text, TextLength(text)); }

void CWString::SetString(const wchar_t* text, int length) {
  if (length < 0) AtlThrow(kEInvalidArg);
  if (length == 0) return Empty();
  if (text == nullptr) AtlThrow(kEInvalidArg);
  // The text may lie inside this string's own block: keep its offset, since
  // growing may move the block (its content is carried over).
  std::ptrdiff_t offset = text - chars_;
  bool inside = !Data()->IsShared() && offset >= 0 && offset <= GetLength();
  wchar_t* buffer = PrepareWrite(length);
  CopyChars(buffer, inside ? buffer + offset : text, length);
  SetLength(length);
}

void CWString::Append(const wchar_t* text) { Append(text, TextLength(text)); }

void CWString::Append(const wchar_t* text, int length) {
  if (length < 0) AtlThrow(kEInvalidArg);
  if (length == 0) return;
  if (text == nullptr) AtlThrow(kEInvalidArg);
  int old_length = GetLength();
  if (length > INT_MAX - 1 - old_length) AtlThrow(kEOutOfMemory);
  std::ptrdiff_t offset = text - chars_;
  bool inside = !Data()->IsShared() && offset >= 0 && offset <= old_length;
  wchar_t* buffer = PrepareWrite(old_length + length);
  CopyChars(buffer + old_length, inside ? buffer + offset : text, length);
  SetLength(old_length + length);
}

wchar_t* CWString::GetBuffer(int min_length) {
  if (min_length < 0) AtlThrow(kEInvalidArg);
  return PrepareWrite(min_length);
}

void CWString::ReleaseBuffer(int new_length) {
  if (new_length < 0) new_length = static_cast<int>(wcsnlen(chars_, Data()->capacity + 1u));
  if (new_length > Data()->capacity) AtlThrow(kEInvalidArg);
  if (new_length == 0) return Empty();
  SetLength(new_length);
}

int CWString::Find(const wchar_t* text, int start) const noexcept {
  if (text == nullptr || start < 0 || start > GetLength()) return -1;
  const wchar_t* hit = wcsstr(chars_ + start, text);
  return hit == nullptr ? -1 : static_cast<int>(hit - chars_);
}

int CWString::Replace(const wchar_t* old_text, const wchar_t* new_text) {
  int old_length = TextLength(old_text);
  if (old_length == 0) return 0;
  int new_length = TextLength(new_text);
  int count = 0;
  for (int at = Find(old_text); at >= 0; at = Find(old_text, at + old_length)) ++count;
  if (count == 0) return 0;
  long long result_length = GetLength() + static_cast<long long>(count) * (new_length - old_length);
  if (result_length > INT_MAX - 1) AtlThrow(kEOutOfMemory);
  // Build into a fresh string so that `new_text` may point into this one.
  CWString result(Data()->manager);
  wchar_t* out = result.GetBuffer(static_cast<int>(result_length));
  const wchar_t* source = chars_;
  for (int at = Find(old_text); at >= 0; at = Find(old_text, at + old_length)) {
    int kept = static_cast<int>(chars_ + at - source);
    CopyChars(out, source, kept), out += kept;
    CopyChars(out, new_text, new_length), out += new_length;
    source = chars_ + at + old_length;
  }
  CopyChars(out, source, static_cast<int>(chars_ + GetLength() - source));
  result.ReleaseBuffer(static_cast<int>(result_length));
  *this = std::move(result);
  return count;
}

bool CWString::operator==(const wchar_t* text) const noexcept {
  return wcscmp(chars_, text == nullptr ? L"" : text) == 0;
}

wchar_t* CWString::PrepareWrite(int length) {
  if (length < GetLength()) length = GetLength();
  if (Data()->IsShared()) {
    Fork(length);
  } else if (Data()->capacity < length) {
    Grow(length);
  }
  return chars_;
}

void CWString::Fork(int length) {
  StringData* old = Data();
  StringData* block = old->manager->Allocate(length, kCharSize);
  if (block == nullptr) AtlThrow(kEOutOfMemory);
  int kept = old->length < length ? old->length : length;
  CopyChars(block->Chars(), old->Chars(), kept + 1);
  block->length = kept;
  Attach(block);
  old->Release();
}

void CWString::Grow(int length) {
  StringData* old = Data();
  int capacity = old->capacity;
  long long grown = capacity > 1073741824 ? capacity + 1048576LL : capacity + capacity / 2LL;
  if (grown < length) grown = length;
  if (grown > INT_MAX - 1) grown = length;
  StringData* block = old->manager->Reallocate(old, static_cast<int>(grown), kCharSize);
  if (block == nullptr) AtlThrow(kEOutOfMemory);
  Attach(block);
}

void CWString::SetLength(int length) {
  Data()->length = length;
  chars_[length] = L'\0';
}
