#include "platform/error_text.h"

#include <windows.h>

namespace platform {

std::uint32_t LastError() { return GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

bool SystemErrorText(std::uint32_t code, std::wstring& text) {
  wchar_t buffer[8192] = {};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, 8142, nullptr);
  if (n == 0) return false;
  text.assign(buffer, n);
  return true;
}

}  // namespace platform
