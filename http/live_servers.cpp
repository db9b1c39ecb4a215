#include "http/live_servers.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace live_servers {
namespace {

struct Entry {
  HTTPServer* server;
  int serving;  // connections in service
};

struct Registry {
  std::mutex mutex;
  std::condition_variable served;
  std::unordered_map<std::uint64_t, Entry> serving;  // by serial
  std::uint64_t next = 1;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // workers use it until the end
  return *registry;
}

}  // namespace

std::uint64_t Register(HTTPServer* server) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> hold(registry.mutex);
  const std::uint64_t serial = registry.next++;
  registry.serving.emplace(serial, Entry{server, 0});
  return serial;
}

void Retire(std::uint64_t serial) {
  Registry& registry = TheRegistry();
  std::unique_lock<std::mutex> hold(registry.mutex);
  // Answers end within their send waits.
  registry.served.wait(hold, [&] {
    auto found = registry.serving.find(serial);
    return found == registry.serving.end() || found->second.serving == 0;
  });
  registry.serving.erase(serial);
}

HTTPServer* BeginServing(std::uint64_t serial) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> hold(registry.mutex);
  auto found = registry.serving.find(serial);
  if (found == registry.serving.end()) return nullptr;
  ++found->second.serving;
  return found->second.server;
}

void EndServing(std::uint64_t serial) {
  Registry& registry = TheRegistry();
  {
    std::lock_guard<std::mutex> hold(registry.mutex);
    auto found = registry.serving.find(serial);
    if (found != registry.serving.end() && found->second.serving > 0) --found->second.serving;
  }
  registry.served.notify_all();
}

}  // namespace live_servers
