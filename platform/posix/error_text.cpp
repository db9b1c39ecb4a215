#include "platform/error_text.h"

#include <errno.h>
#include <string.h>

#include <cstdio>

#include "platform/text.h"

namespace platform {

std::uint32_t LastError() { return static_cast<std::uint32_t>(errno); }
void SetLastError(std::uint32_t code) { errno = static_cast<int>(code); }

bool SystemErrorText(std::uint32_t code, std::wstring& text) {
  char buffer[1024];
  // The GNU strerror_r returns its text (possibly a static one).
  const char* message = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  // glibc answers "Unknown error N" for codes it has no text for.
  char unknown[64];
  std::snprintf(unknown, sizeof unknown, "Unknown error %d", static_cast<int>(code));
  if (message == nullptr || strcmp(message, unknown) == 0) return false;
  std::string_view view(message);
  text.assign(AnsiToWide(view, nullptr, 0), L'\0');
  AnsiToWide(view, text.data(), text.size());
  return true;
}

}  // namespace platform
