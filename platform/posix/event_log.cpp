#include "platform/event_log.h"

#include <syslog.h>

#include <mutex>

#include "platform/posix/file_io.h"

namespace platform {

void WriteEventLog(const std::wstring& source, const std::wstring& text) {
  // openlog keeps the identity pointer, so it must stay alive; one lock keeps
  // the identity and the message of one event together.
  static std::mutex lock;
  static std::string identity;
  std::lock_guard<std::mutex> hold(lock);
  identity = NarrowPath(source);
  openlog(identity.c_str(), LOG_PID, LOG_USER);
  syslog(LOG_INFO, "%s", NarrowPath(text).c_str());
  closelog();
}

}  // namespace platform
