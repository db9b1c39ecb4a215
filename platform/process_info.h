#pragma once
// Ids of the calling thread and of this process (GetCurrentThreadId and
// GetCurrentProcessId on Windows; gettid and getpid on Linux).
#include <cstdint>

namespace platform {

std::uint32_t CurrentThreadId();
std::uint32_t CurrentProcessId();

}  // namespace platform
