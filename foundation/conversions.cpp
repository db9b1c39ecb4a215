#include "foundation/conversions.h"

#include "platform/text.h"

std::string WideToAnsi(std::wstring_view text) {
  std::string out(platform::WideToAnsi(text, nullptr, 0), '\0');
  platform::WideToAnsi(text, out.data(), out.size());
  return out;
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out(platform::WideToUtf8(text, nullptr, 0), '\0');
  platform::WideToUtf8(text, out.data(), out.size());
  return out;
}

CWString AnsiToWide(std::string_view text) {
  CWString out;
  std::size_t length = platform::AnsiToWide(text, nullptr, 0);
  if (length == 0) return out;
  if (length > 0x7FFFFFF0u) AtlThrow(kEOutOfMemory);
  wchar_t* buffer = out.GetBuffer(static_cast<int>(length));
  platform::AnsiToWide(text, buffer, length);
  out.ReleaseBuffer(static_cast<int>(length));
  return out;
}
