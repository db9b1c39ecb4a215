#include "http/live_servers.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace live_servers {
namespace {

struct Registry {
  std::mutex mutex;
  std::condition_variable served;
  std::unordered_map<std::uint64_t, int> serving;  // serial -> connections in service
  std::uint64_t next = 1;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // workers use it until the end
  return *registry;
}

}  // namespace

std::uint64_t Register() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> hold(registry.mutex);
  const std::uint64_t serial = registry.next++;
  registry.serving.emplace(serial, 0);
  return serial;
}

void Retire(std::uint64_t serial) {
  Registry& registry = TheRegistry();
  std::unique_lock<std::mutex> hold(registry.mutex);
  // Answers end within their send waits.
  registry.served.wait(hold, [&] {
    auto found = registry.serving.find(serial);
    return found == registry.serving.end() || found->second == 0;
  });
  registry.serving.erase(serial);
}

bool BeginServing(std::uint64_t serial) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> hold(registry.mutex);
  auto found = registry.serving.find(serial);
  if (found == registry.serving.end()) return false;
  ++found->second;
  return true;
}

void EndServing(std::uint64_t serial) {
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::mutex> hold(registry.mutex);
    auto found = registry.serving.find(serial);
    if (found != registry.serving.end() && found->second > 0) --found->second;
  }
  registry.served.notify_all();
}

}  // namespace live_servers
