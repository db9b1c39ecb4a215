#include "platform/debug_output.h"

#include <windows.h>

namespace platform {

bool DebugOutputEnabled() { return true; }

void DebugOutput(const std::wstring& text) { OutputDebugStringW(text.c_str()); }

}  // namespace platform
