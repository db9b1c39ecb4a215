#pragma once
// HTTPServer: a small HTTP/1.1 server. Start runs its listener on its own
// thread (http/listener.cpp). Accepted connections wait in a process-wide
// waiting room (http/waiting_room.h) until their request has arrived; then
// they go to the process-wide queue, and workers (http/workers.h), started on
// demand, serve one connection at a time: parse the request, call
// HandleRequest, send the response, and hand the connection to the graceful
// close. Every response closes its connection. Open connections are capped
// (ServerTimeouts().max_connections): at the cap the listener accepts no
// more until one ends, and the kernel's backlog holds the rest. Where a
// listening socket never blocks (Linux), a worker that has answered and finds
// the queue empty takes the next waiting connection itself, so that under
// load an answer costs no hand-over between threads.
//
// HandleRequest runs on worker threads, several at once. Its contract: true,
// the response built on the Request is sent; false, 404; an exception, 500.
// The base class serves static files below the directory given to Start.
//
// Destroying the server is the stop step: the listening socket is closed and
// Listen returns true after tracing "Server Stopped". A stop always takes
// effect, even one that comes before the listener thread has started, and
// destroying a started server waits for its listener thread and for the
// answers its workers are sending.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "http/connection.h"
#include "http/stream.h"
#include "platform/net_address.h"
#include "platform/socket.h"

class Request;
class WaitingRoom;

class HTTPServer {
 public:
  HTTPServer();
  virtual ~HTTPServer();
  HTTPServer(const HTTPServer&) = delete;
  HTTPServer& operator=(const HTTPServer&) = delete;

  virtual bool HandleRequest(Request& request, const std::wstring& path);
  // Header lines (each ending in CR LF) for the answers the server gives
  // itself (400, 404, 500, 501) when the handler set none. None here.
  virtual std::string OwnAnswerHeaderLines() { return std::string(); }

  // The address to listen on (before Start): all IPv4 interfaces unless set.
  // An IPv6 address listens dual-stack (IPv4 clients too, as ::ffff:a.b.c.d).
  void SetListenAddress(const platform::IpAddress& address) {
    listen_address_ = address;
    listen_address_set_ = true;
  }

  // What makes each connection's stream (before Start): plain sockets
  // unless set.
  void UseStreams(std::shared_ptr<const StreamMaker> streams);
  // Whether its connections come over secure streams.
  bool Secure() const noexcept { return streams_->Secure(); }

  // Starts the listener thread and returns true at once; set-up failures show
  // in the trace, and to a caller that asks WaitForSetup.
  bool Start(std::uint16_t port, const std::wstring& directory);
  // The listening socket's set-up after Start: Pending until the listener
  // has bound and listened (Listening) or given up (Failed, with the socket
  // error in SetupError; 0 when none applies).
  enum class SetupState { Pending, Listening, Failed };
  // Waits up to `timeout_ms` for the set-up to end; the state then.
  SetupState WaitForSetup(int timeout_ms) const;
  int SetupError() const noexcept { return setup_error_; }
  // Sets up the socket and runs the accept loop on the calling thread. False
  // when set-up fails, true after an orderly stop.
  bool Listen(std::uint16_t port, const std::wstring& directory);
  // The stop step (also run by the destructor). Holds until the next Start.
  void Stop();
  // Waits until no listener thread that Start began is left.
  void WaitForListener();
  // For a worker with nothing queued: a connection already waiting at this
  // server's socket, accepted within the cap. True when its request is whole
  // (in `ready`, to be served now); false when none was waiting, or it went
  // to a waiting room as the listener's would.
  bool AcceptWaiting(ReadyConnection& ready);

  bool IsListening() const noexcept { return listening_; }
  std::uint16_t BoundPort() const noexcept { return bound_port_; }
  const std::wstring& Directory() const noexcept { return directory_; }

 private:
  bool ListenUntilStopped(std::uint16_t port, const std::wstring& directory);
  bool SetupFailed(int error);  // records the failure; false
  // The listener: accepts up to the cap and passes each connection on.
  void AcceptLoop();
  // An accepted connection: to the workers when its request is already
  // whole, else to a waiting room.
  void PassOn(platform::SocketHandle socket, const platform::IpAddress& client);
  // The same up to the queue: true with `ready` when the request is whole.
  bool TakeIn(platform::SocketHandle socket, const platform::IpAddress& client,
              ReadyConnection& ready);
  // Taking the listening socket away (the stop step) waits for a worker's
  // accept on it, so that none accepts on a number the system reuses.
  platform::SocketHandle TakeListeningSocket();

  std::atomic<bool> listening_{false};
  std::wstring directory_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<platform::SocketHandle> socket_{platform::kNoSocket};
  std::mutex worker_accept_mutex_;  // held by a worker's accept on socket_
  std::atomic<std::uint16_t> bound_port_{0};
  std::atomic<int> listener_threads_{0};  // started by Start and not yet ended
  const std::uint64_t serial_;            // in the live servers' registry
  std::atomic<SetupState> setup_state_{SetupState::Pending};
  std::atomic<int> setup_error_{0};
  std::shared_ptr<const StreamMaker> streams_;
  platform::IpAddress listen_address_;
  bool listen_address_set_ = false;
};
