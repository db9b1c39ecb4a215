#include "platform/process_info.h"

#include <unistd.h>

namespace platform {

std::uint32_t CurrentThreadId() {
  // A thread keeps its id for life (the agent never forks), so one system
  // call per thread is enough.
  thread_local const std::uint32_t id = static_cast<std::uint32_t>(gettid());
  return id;
}
std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

}  // namespace platform
