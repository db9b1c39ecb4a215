#include "platform/event_log.h"

#include <windows.h>

namespace platform {

void WriteEventLog(const std::wstring& source, const std::wstring& text) {
  HANDLE handle = RegisterEventSourceW(nullptr, source.c_str());
  if (handle == nullptr) return;
  const wchar_t* strings[1] = {text.c_str()};
  ReportEventW(handle, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(handle);
}

}  // namespace platform
