#include "platform/clock.h"

#include <time.h>

namespace platform {

LocalTime Now() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  return {static_cast<std::uint16_t>(local.tm_year + 1900),
          static_cast<std::uint16_t>(local.tm_mon + 1),
          static_cast<std::uint16_t>(local.tm_mday),
          static_cast<std::uint16_t>(local.tm_hour),
          static_cast<std::uint16_t>(local.tm_min),
          static_cast<std::uint16_t>(local.tm_sec),
          static_cast<std::uint16_t>(now.tv_nsec / 1000000)};
}

std::uint32_t TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(now.tv_sec * 1000ull + now.tv_nsec / 1000000);
}

}  // namespace platform
