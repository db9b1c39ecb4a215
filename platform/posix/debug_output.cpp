#include "platform/debug_output.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/file_io.h"

namespace platform {

bool DebugOutputEnabled() {
  static const bool enabled = [] {
    const char* value = getenv("KVHTTP_TRACE");
    return value != nullptr && strcmp(value, "1") == 0;
  }();
  return enabled;
}

void DebugOutput(const std::wstring& text) {
  if (!DebugOutputEnabled()) return;
  std::string line = NarrowPath(text);
  // Texts end in CR LF; the terminal wants one LF.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  line += '\n';
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
}

}  // namespace platform
