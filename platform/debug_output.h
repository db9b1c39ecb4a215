#pragma once
// The debugger output channel: OutputDebugStringW on Windows; on Linux one
// whole line per write on standard error, only when the environment variable
// KVHTTP_TRACE is "1" (otherwise nothing, as on Windows with no debugger).
#include <string>

namespace platform {

// False when nothing would be shown, so callers can skip formatting.
bool DebugOutputEnabled();
void DebugOutput(const std::wstring& text);

}  // namespace platform
