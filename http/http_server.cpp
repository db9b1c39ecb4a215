#include "http/http_server.h"

#include <chrono>
#include <thread>

#include "foundation/conversions.h"
#include "http/debug_print.h"
#include "http/live_servers.h"
#include "http/plain_stream.h"
#include "http/server_limits.h"
#include "platform/clock.h"

namespace {

constexpr int kListenBacklog = 0x7FFFFFFF;

}  // namespace

HttpTimeouts& ServerTimeouts() {
  static HttpTimeouts timeouts;
  return timeouts;
}

HTTPServer::HTTPServer()
    : serial_(live_servers::Register(this)), streams_(std::make_shared<PlainStreamMaker>()) {}

void HTTPServer::UseStreams(std::shared_ptr<const StreamMaker> streams) {
  if (streams != nullptr) streams_ = std::move(streams);
}

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
    platform::SocketHandle left = TakeListeningSocket();
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

void HTTPServer::Stop() {
  stop_requested_ = true;
  platform::SocketHandle s = TakeListeningSocket();
  if (s != platform::kNoSocket) platform::StopListening(s);
  DebugPrint(L"Server Stopping");
}
