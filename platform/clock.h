#pragma once
// Local wall-clock time and a millisecond tick count.
#include <cstdint>

namespace platform {

struct LocalTime {
  std::uint16_t year, month, day, hour, minute, second, milliseconds;
};

LocalTime Now();            // GetLocalTime; localtime_r on Linux
std::uint32_t TickCount();  // GetTickCount; CLOCK_MONOTONIC on Linux

}  // namespace platform
