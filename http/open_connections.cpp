#include "http/open_connections.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "http/server_limits.h"
#include "platform/socket.h"

namespace {

struct OpenConnections {
  std::mutex mutex;
  std::condition_variable ended;
  std::size_t open = 0;
};

OpenConnections& TheOpenConnections() {
  static OpenConnections* connections = new OpenConnections;  // used until the end
  return *connections;
}

}  // namespace

std::size_t ConnectionCap() {
  if (ServerTimeouts().max_connections > 0) return ServerTimeouts().max_connections;
  // The limit is raised once at start (SocketsStartup), before the first
  // accept, and read once then: not again at every connection.
  static const std::size_t limit = platform::OpenFileLimit();
  if (limit == 0) return kCapWithoutDescriptorLimit;
  return limit > 2 * kDescriptorReserve ? limit - kDescriptorReserve : limit / 2;
}

bool WaitBelowCap(const std::atomic<bool>& stop) {
  OpenConnections& connections = TheOpenConnections();
  std::unique_lock<std::mutex> hold(connections.mutex);
  // At the cap the kernel's backlog holds the next connections; the stop
  // step is seen within one wait.
  while (connections.open >= ConnectionCap()) {
    if (stop) return false;
    connections.ended.wait_for(hold, std::chrono::milliseconds(kAcceptBackoffMs));
  }
  return !stop;
}

void ConnectionOpened() {
  std::lock_guard<std::mutex> hold(TheOpenConnections().mutex);
  ++TheOpenConnections().open;
}

bool BelowCap() {
  std::lock_guard<std::mutex> hold(TheOpenConnections().mutex);
  return TheOpenConnections().open < ConnectionCap();
}

void ConnectionEnded() {
  OpenConnections& connections = TheOpenConnections();
  {
    std::lock_guard<std::mutex> hold(connections.mutex);
    if (connections.open > 0) --connections.open;
  }
  connections.ended.notify_one();
}
