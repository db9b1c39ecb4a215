// The listener: the accept loop, the connection cap, and the handing on of
// each accepted connection to the workers or a waiting room.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "http/debug_print.h"
#include "http/http_server.h"
#include "http/open_connections.h"
#include "http/server_limits.h"
#include "http/waiting_room.h"
#include "http/workers.h"

namespace {

std::int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A waiting room of the process, and its thread, started at first use.
// Null when the system refused either.
WaitingRoom* MakeWaitingRoom(std::size_t crowd, std::size_t max_opening = 0) {
  auto* made = new WaitingRoom(QueueConnection, DismissConnection, MonotonicMs, crowd, max_opening);
  if (made->Valid() && made->StartThread()) return made;
  DebugPrint(L"Cannot start the waiting room");
  delete made;
  return nullptr;
}

WaitingRoom* TheWaitingRoom() {
  static WaitingRoom* room = MakeWaitingRoom(WaitingRoom::kCrowd);
  return room;
}

// The rooms of streams that open first (TLS), one per processor: a
// handshake's key exchange and signature run on its room's thread, so that
// handshakes use every processor while their waiting still costs no thread.
// Taken in turn.
WaitingRoom* NextOpeningRoom() {
  static const std::vector<WaitingRoom*> rooms = [] {
    std::vector<WaitingRoom*> made;
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxOpeningRooms);
    for (unsigned i = 0; i < count; ++i) {
      if (WaitingRoom* room =
              MakeWaitingRoom(WaitingRoom::kOpeningCrowd, kMaxOpeningStreams / count)) {
        made.push_back(room);
      }
    }
    return made;
  }();
  static std::atomic<std::size_t> next{0};
  return rooms.empty() ? nullptr : rooms[next++ % rooms.size()];
}

}  // namespace

void HTTPServer::AcceptLoop() {
  TheWaitingRoom();  // started before the first connection needs it
  while (!stop_requested_) {
    if (!WaitBelowCap(stop_requested_)) break;
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
    ConnectionOpened();
    PassOn(connection, client);
  }
}

void HTTPServer::PassOn(platform::SocketHandle socket, const platform::IpAddress& client) {
  ReadyConnection ready;
  if (TakeIn(socket, client, ready)) QueueConnection(std::move(ready));
}

bool HTTPServer::TakeIn(platform::SocketHandle socket, const platform::IpAddress& client,
                        ReadyConnection& ready) {
  Connection connection;
  try {
    connection.stream = streams_->Make(socket);
  } catch (...) {
    DismissConnection(socket);  // no memory for it: closed, the server goes on
    return false;
  }
  connection.server_serial = serial_;
  connection.client = client;
  // A stream that opens first (a TLS handshake) opens in a room of its own.
  if (!connection.stream->Opened()) {
    WaitingRoom* room = NextOpeningRoom();
    if (room == nullptr) {
      DismissConnection(socket);
    } else {
      room->Admit(std::move(connection));
    }
    return false;
  }
  // A request is usually whole when its connection is accepted (Linux
  // accepts once the first bytes are in): it then goes straight to the
  // workers. Anything less waits in the room, with what has arrived.
  RequestText so_far;
  char piece[kReceiveChunk + 1];
  const int n = connection.stream->ReceiveNow(piece, kReceiveChunk);
  if (n == 0 || (n > 0 && so_far.Append(piece, n) != RequestText::State::Incomplete)) {
    ready.connection = std::move(connection);
    ready.too_long = so_far.state() == RequestText::State::TooLong;
    ready.received = so_far.received();
    ready.text = so_far.Take();
    return true;
  }
  if (n < 0 && n != platform::kReceiveTimedOut) {
    DebugPrint(L"Winsock Error: recv() on %d, err=%d", static_cast<int>(socket),
               platform::SocketError());
    DismissConnection(socket);
  } else if (WaitingRoom* room = TheWaitingRoom()) {
    room->Admit(std::move(connection), std::move(so_far));
  } else {
    DismissConnection(socket);  // nowhere to wait: closed, the server goes on
  }
  return false;
}

bool HTTPServer::AcceptWaiting(ReadyConnection& ready) {
  if (!platform::kAcceptsWithoutWaiting || stop_requested_) return false;
  // Another worker at the same socket: the listener is there too.
  std::unique_lock<std::mutex> hold(worker_accept_mutex_, std::try_to_lock);
  const platform::SocketHandle listening = socket_;
  if (!hold.owns_lock() || listening == platform::kNoSocket || !BelowCap()) return false;
  platform::IpAddress client;
  const platform::SocketHandle socket = platform::AcceptWaiting(listening, &client);
  hold.unlock();
  if (socket == platform::kNoSocket) return false;
  ConnectionOpened();
  DebugPrint(L"Accepted request on socket %d", static_cast<int>(socket));
  return TakeIn(socket, client, ready);
}

platform::SocketHandle HTTPServer::TakeListeningSocket() {
  std::lock_guard<std::mutex> hold(worker_accept_mutex_);
  return socket_.exchange(platform::kNoSocket);
}
