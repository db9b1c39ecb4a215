#include "platform/clock.h"

#include <windows.h>

namespace platform {

LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::uint32_t TickCount() { return GetTickCount(); }

}  // namespace platform
