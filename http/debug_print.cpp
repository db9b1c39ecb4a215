#include "http/debug_print.h"

#include <cstdarg>
#include <cwchar>
#include <string>

namespace {

constexpr int kTraceBuffer = 8192;
constexpr int kTraceMaxChars = 8182;

}  // namespace

void DebugPrint(const wchar_t* format, ...) {
  if (format == nullptr) return;
  // Formatting costs more than the rest of a request's trace: skip it when
  // nobody would see the text.
  if (!DebugChannelActive()) return;
  wchar_t buffer[kTraceBuffer];
  va_list args;
  va_start(args, format);
  int n = vswprintf(buffer, kTraceMaxChars + 1, format, args);
  va_end(args);
  if (n < 0) n = static_cast<int>(wcsnlen(buffer, kTraceMaxChars));
  std::wstring text(buffer, static_cast<size_t>(n));
  text += L"\r\n";
  WriteDebugText(text);
}
