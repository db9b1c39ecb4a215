#pragma once
// One information event in the system's event log under `source`: the
// Application event log on Windows (RegisterEventSourceW, ReportEventW with
// one insertion string, DeregisterEventSource); syslog(LOG_INFO) with `source`
// as identity on Linux. Failures drop the event silently.
#include <string>

namespace platform {

void WriteEventLog(const std::wstring& source, const std::wstring& text);

}  // namespace platform
