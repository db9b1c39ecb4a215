#pragma once
// What the server tests share: a server whose handler answers with a body of
// a chosen size (or holds), a listener on its own thread, the trace, and
// clients that stall or hold.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/debug_print.h"
#include "http/http_server.h"
#include "http/request.h"
#include "http/server_limits.h"
#include "tests/support/http_client.h"

namespace server_fixtures {

using testing_support::FreePort;

// Collects the trace and lets a test wait for a line.
class TraceLog {
 public:
  TraceLog() {
    SetDebugSink([this](const std::wstring& line) {
      std::lock_guard<std::mutex> hold(mutex_);
      lines_.push_back(line);
      changed_.notify_all();
    });
  }
  ~TraceLog() { SetDebugSink(nullptr); }
  bool WaitFor(const std::wstring& needle, int count = 1, int timeout_ms = 20000) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                             [&] { return CountLocked(needle) >= count; });
  }
  int Count(const std::wstring& needle) {
    std::lock_guard<std::mutex> hold(mutex_);
    return CountLocked(needle);
  }

 private:
  int CountLocked(const std::wstring& needle) {
    int n = 0;
    for (const auto& l : lines_) n += l.find(needle) != std::wstring::npos;
    return n;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::wstring> lines_;
};

// A server whose handler answers with a body of a chosen size.
class SizedServer : public HTTPServer {
 public:
  bool HandleRequest(Request& request, const std::wstring& path) override {
    if (plain) return HTTPServer::HandleRequest(request, path);
    if (path == L"/echo") {
      request.SetResponseText(kStatusOk, request.GetParam("port").c_str(), L".txt");
      return true;
    }
    if (path == L"/static") return HTTPServer::HandleRequest(request, L"/data.txt");
    if (path.rfind(L"/files", 0) == 0) return HTTPServer::HandleRequest(request, path.substr(6));
    if (path == L"/hold") {
      // Keeps its worker busy until the test lets go.
      std::unique_lock<std::mutex> lock(hold_mutex);
      ++held;
      hold_changed.notify_all();
      hold_changed.wait(lock, [this] { return released; });
    }
    std::string body(body_size, 'b');
    request.SetResponseText(kStatusOk, body.c_str(), L".txt");
    return true;
  }
  std::size_t body_size = 5;
  bool plain = false;  // only the base class's static files

  // Waits (bounded) until `count` requests are held in /hold.
  bool WaitHeld(int count) {
    std::unique_lock<std::mutex> lock(hold_mutex);
    return hold_changed.wait_for(lock, std::chrono::seconds(60), [&] { return held >= count; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(hold_mutex);
    released = true;
    hold_changed.notify_all();
  }
  ~SizedServer() override { Release(); }

 private:
  std::mutex hold_mutex;
  std::condition_variable hold_changed;
  int held = 0;
  bool released = false;
};

// Runs Listen on its own thread and stops it at the end.
class RunningServer {
 public:
  explicit RunningServer(SizedServer& server, const std::wstring& directory = L"")
      : server_(server), port_(FreePort()) {
    thread_ = std::thread([this, directory] { result_ = server_.Listen(port_, directory); });
    for (int i = 0; i < 6000 && !server_.IsListening(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~RunningServer() { Stop(); }
  bool Stop() {
    if (thread_.joinable()) {
      server_.Stop();
      thread_.join();
    }
    return result_;
  }
  std::uint16_t port() const { return port_; }

 private:
  SizedServer& server_;
  std::uint16_t port_;
  std::thread thread_;
  bool result_ = false;
};

// A client that sends one whole receive chunk of a request and then nothing:
// it waits for the read wait, holding no worker. (A client that sends
// nothing at all may not even be handed to the server at once: Linux accepts
// a connection when its first bytes arrive.)
inline platform::SocketHandle StalledClient(std::uint16_t port) {
  platform::SocketHandle s = platform::ConnectLoopback(port);
  std::string start = "GET /" + std::string(kReceiveChunk - 5, 'a');
  platform::SendBytes(s, start.data(), static_cast<int>(start.size()));
  return s;
}

// A client whose whole request holds its worker in the handler until the
// server releases it.
inline platform::SocketHandle HeldClient(std::uint16_t port) {
  platform::SocketHandle s = platform::ConnectLoopback(port);
  const std::string request = "GET /hold HTTP/1.1\r\n\r\n";
  platform::SendBytes(s, request.data(), static_cast<int>(request.size()));
  return s;
}

// Polls a condition until it holds; the bound is far above what a healthy run
// needs, so only a real fault makes it run out.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::seconds bound = std::chrono::seconds(90)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class HttpServerTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = ServerTimeouts();
    ServerTimeouts().io_wait_ms = 3000;
    ServerTimeouts().drain_ms = 3000;
    // Idle workers beyond the kept ones end soon, so that none left by an
    // earlier test is still counted when a later one looks.
    ServerTimeouts().idle_worker_exit_ms = 200;
  }
  void TearDown() override { ServerTimeouts() = saved_; }
  HttpTimeouts saved_;
};

}  // namespace server_fixtures
