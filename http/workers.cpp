#include "http/workers.h"

#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "http/answer.h"
#include "http/connection_queue.h"
#include "http/debug_print.h"
#include "http/draining_sockets.h"
#include "http/http_server.h"
#include "http/live_servers.h"
#include "http/open_connections.h"
#include "http/request.h"
#include "http/server_limits.h"
#include "platform/clock.h"

namespace {

// Takes one from the finishing count if there is one. False when none was
// left: a queued connection was counted on a finishing worker meanwhile.
bool TakeFinishing(ConnectionQueue& queue) {
  int count = queue.finishing.load();
  while (count > 0 && !queue.finishing.compare_exchange_weak(count, count - 1)) {
  }
  return count > 0;
}

// The graceful close, for a worker counted as finishing. Should the close
// have to wait for the peer here, a connection counted on this worker goes
// to a sleeper instead. True while the worker is still counted.
bool CloseAsFinishing(ConnectionQueue& queue, platform::SocketHandle socket) {
  if (CloseWithoutWaiting(socket)) return true;
  if (!TakeFinishing(queue)) queue.work_event.Set();
  DrainAndClose(socket, platform::TickCount());
  return false;
}

void SendAnswer(Stream& stream, const std::string& response) {
  stream.SendWithin(response.data(), static_cast<int>(response.size()),
                    ServerTimeouts().io_wait_ms);
  stream.Finish();
}

// Serves one connection. True when the worker is still counted as finishing.
bool ServeConnection(ConnectionQueue& queue, ReadyConnection& ready) {
  const platform::SocketHandle socket = ready.connection.Socket();
  DebugPrint(L"HandleRequest for %d", static_cast<int>(socket));
  std::uint32_t started = platform::TickCount();
  const std::uint64_t serial = ready.connection.server_serial;
  if (HTTPServer* server = live_servers::BeginServing(serial)) {
    try {
      Stream& stream = *ready.connection.stream;
      Request request(ready.connection.client, stream.Secure());
      Answer(*server, request, ready.text, ready.too_long);
      SendAnswer(stream, request.Response());
    } catch (...) {
      // A failure while handling or sending costs this connection only.
    }
    live_servers::EndServing(serial);
  } else {
    DebugPrint(L"The server of %d is gone: not answered", static_cast<int>(socket));
  }
  DebugPrint(L"Closing connection: %d", static_cast<int>(socket));
  // From here on the worker looks at the queue within moments.
  ++queue.finishing;
  bool counted = CloseAsFinishing(queue, socket);
  DebugPrint(L"Handled %d in %d ms", static_cast<int>(socket),
             static_cast<int>(platform::TickCount() - started));
  return counted;
}

// Ends an idle worker beyond the kept ones, so that a burst of connections
// does not leave its threads (and their memory) behind for good. Decided
// under the queue mutex: an entry queued meanwhile is seen and served.
bool RetireIdleWorker(ConnectionQueue& queue) {
  std::lock_guard<std::timed_mutex> hold(queue.mutex);
  if (!queue.entries.empty() || queue.idle_workers.load() <= kKeptIdleWorkers) return false;
  --queue.idle_workers;
  --queue.workers;
  return true;
}

// Takes the next connection, waiting for the work event while there is none.
// False when this worker should end.
bool TakeConnection(ConnectionQueue& queue, ReadyConnection& entry) {
  for (;;) {
    while (!queue.mutex.try_lock_for(std::chrono::milliseconds(ServerTimeouts().worker_mutex_ms))) {
    }
    entry = ReadyConnection{};
    if (queue.entries.empty()) {
      queue.work_event.Reset();
    } else {
      // Every queued entry is a connection: no sentinel value, since the OS
      // may hand out any descriptor (0 too, with standard input closed).
      entry = std::move(queue.entries.front());
      queue.entries.pop_front();
      --queue.idle_workers;
    }
    queue.mutex.unlock();
    if (entry.connection.stream != nullptr) return true;
    if (!queue.work_event.WaitFor(ServerTimeouts().idle_worker_exit_ms) &&
        RetireIdleWorker(queue)) {
      return false;
    }
  }
}

// After an answer, with nothing queued: a connection already waiting at the
// same server's socket, taken here instead of through the listener and the
// queue, which would cost a wake-up of another thread.
bool AcceptNext(ConnectionQueue& queue, std::uint64_t serial, ReadyConnection& entry) {
  if (!platform::kAcceptsWithoutWaiting) return false;
  {
    std::unique_lock<std::timed_mutex> hold(queue.mutex, std::try_to_lock);
    if (!hold.owns_lock() || !queue.entries.empty()) return false;
  }
  HTTPServer* server = live_servers::BeginServing(serial);
  if (server == nullptr) return false;
  const bool accepted = server->AcceptWaiting(entry);
  live_servers::EndServing(serial);
  return accepted;
}

void WorkerThread() {
  ConnectionQueue& queue = TheConnectionQueue();
  ++queue.idle_workers;
  // A worker started for a burst may find every connection taken before it
  // first waits: it too must end when idle beyond the kept ones, or it would
  // wait for good.
  while (!queue.work_event.WaitFor(ServerTimeouts().idle_worker_exit_ms)) {
    if (RetireIdleWorker(queue)) return;
  }
  ReadyConnection entry;
  while (TakeConnection(queue, entry)) {
    std::uint64_t serial = 0;
    do {
      // Uncounted before the look: the look serves whatever was counted on
      // this worker (or on another that has not looked yet).
      if (ServeConnection(queue, entry)) TakeFinishing(queue);
      serial = entry.connection.server_serial;
      entry = ReadyConnection{};  // its stream's buffers go now, not at the next connection
      ConnectionEnded();
    } while (AcceptNext(queue, serial, entry));
    ++queue.idle_workers;
  }
}

bool StartWorker() {
  // Counted before it starts, so that no one sees it at work uncounted.
  ++TheConnectionQueue().workers;
  try {
    std::thread(WorkerThread).detach();
    return true;
  } catch (const std::system_error&) {
    // No thread now: the connection stays queued for the next free worker.
    --TheConnectionQueue().workers;
    return false;
  }
}

}  // namespace

ConnectionQueue& TheConnectionQueue() {
  // Never destroyed: workers wait on it until the process is gone, and
  // destroying a condition variable with waiters blocks the exit.
  static ConnectionQueue* queue = new ConnectionQueue;
  return *queue;
}

void DismissConnection(platform::SocketHandle socket) {
  CloseGracefully(socket);
  ConnectionEnded();
}

void QueueConnection(ReadyConnection&& ready) {
  ConnectionQueue& queue = TheConnectionQueue();
  const platform::SocketHandle socket = ready.connection.Socket();
  if (!queue.mutex.try_lock_for(std::chrono::milliseconds(ServerTimeouts().queue_mutex_ms))) {
    DismissConnection(socket);
    return;
  }
  bool start_thread = false;
  try {
    queue.entries.push_back(std::move(ready));
    start_thread = static_cast<int>(queue.entries.size()) > queue.idle_workers.load();
  } catch (const std::bad_alloc&) {
    // No room to queue it: this connection is closed, the server goes on.
    queue.mutex.unlock();
    DebugPrint(L"Out of memory queueing socket %d", static_cast<int>(socket));
    DismissConnection(socket);
    return;
  }
  queue.mutex.unlock();
  // Signalled after the unlock, so the woken worker does not block at once on
  // the mutex still held here. A worker about to look at the queue takes
  // this entry, so a sleeper is woken only when none is on its way. A worker
  // that takes this entry first and finds the queue empty only makes the
  // next waiter look once more.
  if (TakeFinishing(queue)) {
    queue.work_event.SetQuietly();
  } else {
    queue.work_event.Set();
  }
  DebugPrint(L"Set event for %d, startthread=%d", static_cast<int>(socket), start_thread ? 1 : 0);
  if (start_thread) StartWorker();
}
