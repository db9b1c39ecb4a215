#include "http/http_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/conversions.h"
#include "http/connection_queue.h"
#include "http/debug_print.h"
#include "http/draining_sockets.h"
#include "http/live_servers.h"
#include "http/request.h"
#include "http/server_limits.h"
#include "http/waiting_room.h"
#include "platform/clock.h"

namespace {

constexpr int kListenBacklog = 0x7FFFFFFF;

// A TLS connection's answer goes in records of up to 16 KiB each; every
// record waits for the peer as a plain piece does.
void SendResponseThroughTls(Request& request, tls::TlsSession& session) {
  const std::string& response = request.Response();
  const int sent = session.SendWithin(response.data(), static_cast<int>(response.size()),
                                      ServerTimeouts().io_wait_ms);
  if (sent > 0) {
    request.send_position += sent;
    request.bytes_sent += sent;
  }
  session.SayGoodbye();
}

void SendResponse(Request& request) {
  const std::string& response = request.Response();
  if (response.size() > static_cast<std::size_t>(kSendChunk)) {
    platform::SendPiecesAtOnce(request.Socket());
  }
  for (;;) {
    std::size_t left = response.size() - request.send_position;
    int chunk = left < static_cast<std::size_t>(kSendChunk) ? static_cast<int>(left) : kSendChunk;
    // A client that takes nothing for the whole wait ends the sending. Every
    // piece is followed by more: the next piece, or for the last one the end
    // of stream that CloseConnection sends at once, which then leaves in the
    // same packet as the last bytes.
    int sent = platform::SendWithin(request.Socket(), response.data() + request.send_position,
                                    chunk, ServerTimeouts().io_wait_ms, true);
    if (sent > 0) {
      request.send_position += sent;
      request.bytes_sent += sent;
    }
    // A short chunk ends the sending; a buffer of whole chunks ends with an
    // empty one.
    if (sent < 0 || (sent == 0 && chunk > 0) || chunk < kSendChunk) return;
  }
}

// Takes one from the finishing count if there is one. False when none was
// left: a queued connection was counted on a finishing worker meanwhile.
bool TakeFinishing(ConnectionQueue& queue) {
  int count = queue.finishing.load();
  while (count > 0 && !queue.finishing.compare_exchange_weak(count, count - 1)) {
  }
  return count > 0;
}

// The start of the graceful close: our end of stream, then the socket goes
// to the draining thread. The peer has our whole answer; what it still
// sends is discarded there, and the socket closed once the peer closes too,
// so the caller is free at once. False when the socket could not be handed
// over and the caller must drain it itself.
bool CloseWithoutWaiting(platform::SocketHandle socket) {
  DebugPrint(L"Closing socket %d", static_cast<int>(socket));
  platform::ShutdownSocket(socket, platform::ShutdownHow::Send);
  return HandOverForDraining(socket);
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

// Serves one connection. True when the worker is still counted as finishing.
bool ServeConnection(ConnectionQueue& queue, const QueueEntry& entry) {
  DebugPrint(L"HandleRequest for %d", static_cast<int>(entry.socket));
  std::uint32_t started = platform::TickCount();
  if (live_servers::BeginServing(entry.server_serial)) {
    try {
      Request request(entry.socket, entry.server, entry.client);
      request.UseRequestText(entry.text, entry.too_long, entry.received);
      if (entry.tls != nullptr) {
        SendResponseThroughTls(request, *entry.tls);
      } else {
        SendResponse(request);
      }
    } catch (...) {
      // A failure while reading, handling or sending costs this connection only.
    }
    live_servers::EndServing(entry.server_serial);
  } else {
    DebugPrint(L"The server of %d is gone: not answered", static_cast<int>(entry.socket));
  }
  DebugPrint(L"Closing connection: %d", static_cast<int>(entry.socket));
  // From here on the worker looks at the queue within moments.
  ++queue.finishing;
  bool counted = CloseAsFinishing(queue, entry.socket);
  DebugPrint(L"Handled %d in %d ms", static_cast<int>(entry.socket),
             static_cast<int>(platform::TickCount() - started));
  return counted;
}

// The open connections, from accept until served or dismissed, against the
// cap. Process-wide, like the queue.
struct OpenConnections {
  std::mutex mutex;
  std::condition_variable ended;
  std::size_t open = 0;
};

OpenConnections& TheOpenConnections() {
  static OpenConnections* connections = new OpenConnections;  // used until the end
  return *connections;
}

std::size_t ConnectionCap() {
  if (ServerTimeouts().max_connections > 0) return ServerTimeouts().max_connections;
  const std::size_t limit = platform::OpenFileLimit();
  if (limit == 0) return kCapWithoutDescriptorLimit;
  return limit > 2 * kDescriptorReserve ? limit - kDescriptorReserve : limit / 2;
}

void ConnectionEnded() {
  OpenConnections& connections = TheOpenConnections();
  {
    std::lock_guard<std::mutex> hold(connections.mutex);
    if (connections.open > 0) --connections.open;
  }
  connections.ended.notify_one();
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
bool TakeConnection(ConnectionQueue& queue, QueueEntry& entry) {
  for (;;) {
    while (!queue.mutex.try_lock_for(std::chrono::milliseconds(ServerTimeouts().worker_mutex_ms))) {
    }
    entry = QueueEntry{};
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
    if (entry.socket != platform::kNoSocket) return true;
    if (!queue.work_event.WaitFor(ServerTimeouts().idle_worker_exit_ms) &&
        RetireIdleWorker(queue)) {
      return false;
    }
  }
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
  QueueEntry entry;
  while (TakeConnection(queue, entry)) {
    // Uncounted before the look: the look serves whatever was counted on
    // this worker (or on another that has not looked yet).
    if (ServeConnection(queue, entry)) TakeFinishing(queue);
    entry.tls.reset();  // its buffers go now, not at the next connection
    ConnectionEnded();
    ++queue.idle_workers;
  }
}

bool StartWorker();

// Queues a connection whose request has arrived for the workers, starting
// one when there are more entries than idle workers.
void QueueConnection(Arrival&& arrival) {
  ConnectionQueue& queue = TheConnectionQueue();
  const platform::SocketHandle socket = arrival.socket;
  if (!queue.mutex.try_lock_for(std::chrono::milliseconds(ServerTimeouts().queue_mutex_ms))) {
    HTTPServer::CloseConnection(socket);
    ConnectionEnded();
    return;
  }
  bool start_thread = false;
  try {
    queue.entries.push_back(std::move(arrival));
    start_thread = static_cast<int>(queue.entries.size()) > queue.idle_workers.load();
  } catch (const std::bad_alloc&) {
    // No room to queue it: this connection is closed, the server goes on.
    queue.mutex.unlock();
    DebugPrint(L"Out of memory queueing socket %d", static_cast<int>(socket));
    HTTPServer::CloseConnection(socket);
    ConnectionEnded();
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

// A connection that leaves the waiting room without a request to serve.
void DismissConnection(platform::SocketHandle socket) {
  HTTPServer::CloseConnection(socket);
  ConnectionEnded();
}

std::int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The one waiting room of the process, and its thread, started at first use.
// Null when the system refused either.
WaitingRoom* MakeWaitingRoom(std::size_t crowd, std::size_t max_sessions = 0) {
  auto* made =
      new WaitingRoom(QueueConnection, DismissConnection, MonotonicMs, crowd, max_sessions);
  if (made->Valid() && made->StartThread()) return made;
  DebugPrint(L"Cannot start the waiting room");
  delete made;
  return nullptr;
}

WaitingRoom* TheWaitingRoom() {
  static WaitingRoom* room = MakeWaitingRoom(WaitingRoom::kCrowd);
  return room;
}

// The rooms of TLS connections, one per processor: a handshake's key
// exchange and signature run on its room's thread, so that handshakes use
// every processor while their waiting still costs no thread. Taken in turn.
WaitingRoom* NextTlsRoom() {
  static const std::vector<WaitingRoom*> rooms = [] {
    std::vector<WaitingRoom*> made;
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxTlsRooms);
    for (unsigned i = 0; i < count; ++i) {
      if (WaitingRoom* room =
              MakeWaitingRoom(WaitingRoom::kTlsCrowd, kMaxWaitingTlsSessions / count)) {
        made.push_back(room);
      }
    }
    return made;
  }();
  static std::atomic<std::size_t> next{0};
  return rooms.empty() ? nullptr : rooms[next++ % rooms.size()];
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

namespace {
std::atomic<ExtraHeaderProvider> g_extra_header_provider{nullptr};
}  // namespace

void SetExtraHeaderProvider(ExtraHeaderProvider provider) { g_extra_header_provider = provider; }

std::string ProvidedExtraHeaderLines() {
  ExtraHeaderProvider provider = g_extra_header_provider.load();
  return provider == nullptr ? std::string() : provider();
}

HttpTimeouts& ServerTimeouts() {
  static HttpTimeouts timeouts;
  return timeouts;
}

ConnectionQueue& TheConnectionQueue() {
  // Never destroyed: workers wait on it until the process is gone, and
  // destroying a condition variable with waiters blocks the exit.
  static ConnectionQueue* queue = new ConnectionQueue;
  return *queue;
}

HTTPServer::HTTPServer() : serial_(live_servers::Register()) {}

HTTPServer::~HTTPServer() {
  Stop();
  // The listener thread reads this object until it has ended, a worker
  // until its answer is sent; connections still waiting find it gone.
  WaitForListener();
  live_servers::Retire(serial_);
}

void HTTPServer::WaitForListener() {
  // Ends soon after the stop step: set-up returns on its own, and the
  // accept loop sees the stop flag or its closed socket.
  while (listener_threads_.load() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool HTTPServer::Start(std::uint16_t port, const std::wstring& directory) {
  // Cleared here rather than by the listener, so that a Stop made before the
  // listener thread runs is not undone by it.
  stop_requested_ = false;
  setup_state_ = SetupState::Pending;
  ++listener_threads_;
  try {
    // The thread's own copy of the directory is its start record.
    std::thread([this, port, directory] {
      ListenUntilStopped(port, directory);
      --listener_threads_;  // the last touch of this object
    }).detach();
  } catch (...) {
    --listener_threads_;
    SetupFailed(0);
  }
  return true;
}

bool HTTPServer::Listen(std::uint16_t port, const std::wstring& directory) {
  stop_requested_ = false;
  return ListenUntilStopped(port, directory);
}

bool HTTPServer::ListenUntilStopped(std::uint16_t port, const std::wstring& directory) {
  try {
    directory_ = directory;
    if (!directory_.empty() && (directory_.back() == L'\\' || directory_.back() == L'/')) {
      directory_.pop_back();
    }
    if (!platform::SocketsStartup()) return SetupFailed(platform::SocketError());
    const bool v6 = listen_address_set_ && listen_address_.v6;
    platform::SocketHandle s = platform::CreateTcpSocket(v6);
    if (s == platform::kNoSocket) {
      const int error = platform::SocketError();
      DebugPrint(L"Winsock Error: %ls, err=%d", L"Could not create listen socket", error);
      return SetupFailed(error);
    }
    if (port == 0) port = platform::ServicePort("http");
    if (port == 0) port = 80;
    const wchar_t* failed = nullptr;
    if (listen_address_set_ ? !platform::BindAddress(s, listen_address_, port)
                            : !platform::BindAnyAddress(s, port)) {
      failed = L"bind() error";
    } else if (!platform::ListenOn(s, kListenBacklog)) {
      failed = L"listen() error";
    }
    if (failed != nullptr) {
      const int error = platform::SocketError();
      DebugPrint(L"Winsock Error: %ls, err=%d", failed, error);
      platform::CloseSocket(s);
      return SetupFailed(error);
    }
    socket_ = s;
    bound_port_ = platform::LocalPort(s);
    setup_state_ = SetupState::Listening;
    DebugPrint(L"HTTP Server Started: %ls [%ls] on port %d",
               AnsiToWide(platform::HostName()).GetString(),
               AnsiToWide(platform::HostAddress()).GetString(), static_cast<int>(port));
    listening_ = true;
    AcceptLoop();
    listening_ = false;
    // A stop that came before the socket was stored found nothing to close.
    platform::SocketHandle left = socket_.exchange(platform::kNoSocket);
    if (left != platform::kNoSocket) platform::StopListening(left);
    platform::SocketsCleanup();
    DebugPrint(L"Server Stopped");
    return true;
  } catch (...) {
    listening_ = false;
    if (setup_state_ == SetupState::Pending) SetupFailed(0);
    return false;
  }
}

bool HTTPServer::SetupFailed(int error) {
  setup_error_ = error;
  setup_state_ = SetupState::Failed;
  return false;
}

HTTPServer::SetupState HTTPServer::WaitForSetup(int timeout_ms) const {
  const std::uint32_t started = platform::TickCount();
  while (setup_state_ == SetupState::Pending &&
         static_cast<int>(platform::TickCount() - started) < timeout_ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return setup_state_;
}

void HTTPServer::AcceptLoop() {
  WaitingRoom* room = TheWaitingRoom();
  while (!stop_requested_) {
    if (!WaitBelowCap()) break;
    platform::IpAddress client;
    platform::SocketHandle connection = platform::AcceptConnection(socket_, &client);
    if (connection == platform::kNoSocket) {
      if (stop_requested_) break;
      int error = platform::SocketError();
      DebugPrint(L"Winsock Error: %ls, err=%d", L"accept() error", error);
      if (platform::IsResourceShortage(error)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptBackoffMs));
      }
      continue;
    }
    DebugPrint(L"Accepted request on socket %d", static_cast<int>(connection));
    {
      std::lock_guard<std::mutex> hold(TheOpenConnections().mutex);
      ++TheOpenConnections().open;
    }
    PassOn(connection, client, room);
  }
}

void HTTPServer::PassOn(platform::SocketHandle connection, const platform::IpAddress& client,
                        WaitingRoom* room) {
  // A TLS connection starts with its handshake, which only the room runs.
  if (tls_ != nullptr) {
    WaitingRoom* tls_room = NextTlsRoom();
    if (tls_room == nullptr) return DismissConnection(connection);
    return tls_room->Admit(connection, this, client, RequestText(), tls_, serial_);
  }
  // A request is usually whole when its connection is accepted (Linux
  // accepts once the first bytes are in): it then goes straight to the
  // workers. Anything less waits in the room, with what has arrived.
  RequestText so_far;
  char piece[kReceiveChunk + 1];
  const int n = platform::ReceiveWithin(connection, piece, kReceiveChunk, 0);
  if (n == 0 || (n > 0 && so_far.Append(piece, n) != RequestText::State::Incomplete)) {
    Arrival arrival;
    arrival.socket = connection;
    arrival.server = this;
    arrival.server_serial = serial_;
    arrival.client = client;
    arrival.too_long = so_far.state() == RequestText::State::TooLong;
    arrival.received = so_far.received();
    arrival.text = so_far.Take();
    QueueConnection(std::move(arrival));
  } else if (n < 0 && n != platform::kReceiveTimedOut) {
    DebugPrint(L"Winsock Error: recv() on %d, err=%d", static_cast<int>(connection),
               platform::SocketError());
    DismissConnection(connection);
  } else if (room != nullptr) {
    room->Admit(connection, this, client, std::move(so_far), nullptr, serial_);
  } else {
    DismissConnection(connection);  // nowhere to wait: closed, the server goes on
  }
}

bool HTTPServer::WaitBelowCap() {
  OpenConnections& connections = TheOpenConnections();
  std::unique_lock<std::mutex> hold(connections.mutex);
  // At the cap the kernel's backlog holds the next connections; the stop
  // step is seen within one wait.
  while (connections.open >= ConnectionCap()) {
    if (stop_requested_) return false;
    connections.ended.wait_for(hold, std::chrono::milliseconds(kAcceptBackoffMs));
  }
  return !stop_requested_;
}

void HTTPServer::Stop() {
  stop_requested_ = true;
  platform::SocketHandle s = socket_.exchange(platform::kNoSocket);
  if (s != platform::kNoSocket) platform::StopListening(s);
  DebugPrint(L"Server Stopping");
}

void HTTPServer::CloseConnection(platform::SocketHandle socket) {
  if (!CloseWithoutWaiting(socket)) DrainAndClose(socket, platform::TickCount());
}
