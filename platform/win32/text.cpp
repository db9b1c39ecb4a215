#include "platform/text.h"

#include <windows.h>

#include <climits>

namespace platform {
namespace {

int Clamp(std::size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

std::size_t ToWide(UINT code_page, std::string_view in, wchar_t* out, std::size_t capacity) {
  if (in.empty()) return 0;
  int needed = MultiByteToWideChar(code_page, 0, in.data(), Clamp(in.size()), nullptr, 0);
  if (needed <= 0) return 0;
  if (out != nullptr && capacity > 0) {
    if (capacity >= static_cast<std::size_t>(needed)) {
      MultiByteToWideChar(code_page, 0, in.data(), Clamp(in.size()), out, needed);
    } else {
      // The API writes nothing when the buffer is short: convert whole, copy part.
      wchar_t* tmp = new wchar_t[needed];
      MultiByteToWideChar(code_page, 0, in.data(), Clamp(in.size()), tmp, needed);
      for (std::size_t i = 0; i < capacity; ++i) out[i] = tmp[i];
      delete[] tmp;
    }
  }
  return static_cast<std::size_t>(needed);
}

std::size_t FromWide(UINT code_page, std::wstring_view in, char* out, std::size_t capacity) {
  if (in.empty()) return 0;
  int needed =
      WideCharToMultiByte(code_page, 0, in.data(), Clamp(in.size()), nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return 0;
  if (out != nullptr && capacity > 0) {
    if (capacity >= static_cast<std::size_t>(needed)) {
      WideCharToMultiByte(code_page, 0, in.data(), Clamp(in.size()), out, needed, nullptr, nullptr);
    } else {
      char* tmp = new char[needed];
      WideCharToMultiByte(code_page, 0, in.data(), Clamp(in.size()), tmp, needed, nullptr, nullptr);
      for (std::size_t i = 0; i < capacity; ++i) out[i] = tmp[i];
      delete[] tmp;
    }
  }
  return static_cast<std::size_t>(needed);
}

}  // namespace

std::size_t AnsiToWide(std::string_view in, wchar_t* out, std::size_t capacity) {
  return ToWide(CP_ACP, in, out, capacity);
}

std::size_t Utf8OrAnsiToWide(std::string_view in, wchar_t* out, std::size_t capacity) {
  const bool utf8 = in.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(),
                                                      Clamp(in.size()), nullptr, 0) > 0;
  return ToWide(utf8 ? CP_UTF8 : CP_ACP, in, out, capacity);
}

std::size_t WideToAnsi(std::wstring_view in, char* out, std::size_t capacity) {
  return FromWide(CP_ACP, in, out, capacity);
}

std::size_t WideToUtf8(std::wstring_view in, char* out, std::size_t capacity) {
  return FromWide(CP_UTF8, in, out, capacity);
}

void LowerCase(wchar_t* text, std::size_t length) {
  while (length > 0) {
    DWORD piece = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    CharLowerBuffW(text, piece);
    text += piece;
    length -= piece;
  }
}

wchar_t UpperCaseChar(wchar_t ch) {
  // CharUpperW treats a pointer value below 0x10000 as a single character.
  return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(
      CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(ch)))));
}

}  // namespace platform

namespace platform {

bool IsSpace(wchar_t ch) { return iswspace(ch) != 0; }

}  // namespace platform
