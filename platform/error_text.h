#pragma once
// The system's error code of the calling thread and its message text.
#include <cstdint>
#include <string>

namespace platform {

// GetLastError on Windows; errno on Linux.
std::uint32_t LastError();
void SetLastError(std::uint32_t code);

// The system's text for `code` (FormatMessageW from the system, language 0,
// as returned, CR LF included; strerror_r on Linux, no line break). False when
// the system has no text for the code.
bool SystemErrorText(std::uint32_t code, std::wstring& text);

}  // namespace platform
