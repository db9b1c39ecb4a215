#pragma once
// HTTPServer: a small HTTP/1.1 server. Start runs the listener on its own
// thread. Accepted connections wait in the process-wide waiting room (one
// thread, http/waiting_room.h) until their request has arrived; then they go
// to the process-wide queue, and workers, started on demand, serve one
// connection at a time: parse the request, call HandleRequest, send the
// response in 1024-byte chunks, and hand the connection to the graceful
// close. Every response closes its connection. Sixteen idle workers are
// kept; idle ones beyond them end after a while. Open connections are capped
// (ServerTimeouts().max_connections): at the cap the listener accepts no
// more until one ends, and the kernel's backlog holds the rest.
//
// HandleRequest runs on worker threads, several at once. Its contract: true,
// the response built on the Request is sent; false, 404; an exception, 500.
// The base class serves static files below the directory given to Start.
//
// Destroying the server is the stop step: the listening socket is closed and
// Listen returns true after tracing "Server Stopped". A stop always takes
// effect, even one that comes before the listener thread has started, and
// destroying a started server waits for its listener thread. Workers are not
// stopped.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/net_address.h"
#include "platform/socket.h"
#include "tls/tls_credentials.h"

class Request;

// Header lines (each ending in CR LF) for every answer whose handler did not
// set its own (Request::SetExtraHeaderLines), error answers included. One
// process-wide function, like the connection queue, so that an answer built
// for a connection that outlived its server never reaches into that server.
// None unless set; called on worker threads.
using ExtraHeaderProvider = std::string (*)();
void SetExtraHeaderProvider(ExtraHeaderProvider provider);
std::string ProvidedExtraHeaderLines();

class HTTPServer {
 public:
  HTTPServer();
  virtual ~HTTPServer();
  HTTPServer(const HTTPServer&) = delete;
  HTTPServer& operator=(const HTTPServer&) = delete;

  virtual bool HandleRequest(Request& request, const std::wstring& path);
  // The address to listen on (before Start): all IPv4 interfaces unless set.
  // An IPv6 address listens dual-stack (IPv4 clients too, as ::ffff:a.b.c.d).
  void SetListenAddress(const platform::IpAddress& address) {
    listen_address_ = address;
    listen_address_set_ = true;
  }

  // Speaks TLS only, with these credentials (before Start); null: plain HTTP.
  void UseTls(std::shared_ptr<const tls::TlsCredentials> credentials) {
    tls_ = std::move(credentials);
  }
  const std::shared_ptr<const tls::TlsCredentials>& Tls() const noexcept { return tls_; }

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

  bool IsListening() const noexcept { return listening_; }
  std::uint16_t BoundPort() const noexcept { return bound_port_; }
  const std::wstring& Directory() const noexcept { return directory_; }

  // The graceful close: shut down sending, discard what the peer still sends
  // (bounded in time and bytes), shut down both ways, close. Everything after
  // the first step happens on the draining thread, so the caller never waits
  // for the peer.
  static void CloseConnection(platform::SocketHandle socket);

 private:
  bool ListenUntilStopped(std::uint16_t port, const std::wstring& directory);
  bool SetupFailed(int error);  // records the failure; false
  void AcceptLoop();
  // Waits while the open connections are at the cap; false once stopped.
  bool WaitBelowCap();
  // An accepted connection: to the workers when its request is already
  // whole, else to the waiting room.
  void PassOn(platform::SocketHandle connection, const platform::IpAddress& client,
              class WaitingRoom* room);

  std::atomic<bool> listening_{false};
  std::wstring directory_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<platform::SocketHandle> socket_{platform::kNoSocket};
  std::atomic<std::uint16_t> bound_port_{0};
  std::atomic<int> listener_threads_{0};  // started by Start and not yet ended
  const std::uint64_t serial_;            // in the live servers' registry
  std::atomic<SetupState> setup_state_{SetupState::Pending};
  std::atomic<int> setup_error_{0};
  std::shared_ptr<const tls::TlsCredentials> tls_;
  platform::IpAddress listen_address_;
  bool listen_address_set_ = false;
};
