// The listener, the workers and the graceful close, over real loopback
// sockets. The first test relies on being the first to start workers in this
// process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "http/connection_queue.h"
#include "http/debug_print.h"
#include "http/http_server.h"
#include "http/request.h"
#include "http/server_limits.h"
#include "tests/http/server_fixtures.h"
#include "tests/support/http_client.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace server_fixtures;
using testing_support::BodyOf;
using testing_support::Exchange;
using testing_support::FreePort;

TEST_F(HttpServerTest, FirstConnectionStartsAWorkerAndBusyWorkersGetCompany) {
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  ASSERT_TRUE(server.IsListening());
  EXPECT_EQ(TheConnectionQueue().workers.load(), 0);
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET / HTTP/1.1\r\n\r\n")), "bbbbb");
  EXPECT_EQ(trace.Count(L"startthread=1"), 1);
  EXPECT_EQ(TheConnectionQueue().workers.load(), 1);
  // The worker traces "Handled" after the client already has the answer,
  // and counts itself idle again after that.
  ASSERT_TRUE(trace.WaitFor(L"Handled ", 1));
  for (int i = 0; i < 2000 && TheConnectionQueue().idle_workers.load() < 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(TheConnectionQueue().idle_workers.load(), 1);

  // A client that sends only the start of a request takes no worker.
  platform::SocketHandle stalled = StalledClient(running.port());
  // Two requests whose handling takes long: the idle worker takes one, so a
  // second must be started for the other, and both are served at once.
  platform::SocketHandle a = HeldClient(running.port());
  platform::SocketHandle b = HeldClient(running.port());
  ASSERT_TRUE(server.WaitHeld(2));
  EXPECT_EQ(trace.Count(L"HandleRequest for "), 3);  // never for the stalled client
  EXPECT_EQ(trace.Count(L"Handled "), 1);
  EXPECT_EQ(TheConnectionQueue().workers.load(), 2);
  server.Release();
  EXPECT_EQ(BodyOf(testing_support::ReceiveUntilClosed(a)), "bbbbb");
  EXPECT_EQ(BodyOf(testing_support::ReceiveUntilClosed(b)), "bbbbb");
  // Closed mid-request, the stalled client is served what it sent. Wait for
  // that here, so that its trace cannot fall into the next test's.
  platform::CloseSocket(stalled);
  EXPECT_TRUE(trace.WaitFor(L"Handled ", 4));
}

TEST_F(HttpServerTest, SilentClientIsClosedWithNothingSent) {
  ServerTimeouts().io_wait_ms = 300;
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  platform::SocketHandle s = platform::ConnectLoopback(running.port());
  char byte;
  ASSERT_EQ(platform::WaitReadable(s, 20000), platform::WaitResult::Ready);
  EXPECT_EQ(platform::Receive(s, &byte, 1), 0);  // closed, nothing sent
  platform::CloseSocket(s);
  EXPECT_TRUE(trace.WaitFor(L"Closing socket "));
  EXPECT_EQ(trace.Count(L"HandleRequest for "), 0) << "it never took a worker";
}

TEST_F(HttpServerTest, ResponsesOfWholeChunksArriveComplete) {
  SizedServer server;
  RunningServer running(server);
  // Headers for a body of 1000 bytes take 121 bytes; pick the body so that
  // the whole response is exactly 2048 bytes.
  std::size_t header =
      std::string(
          "HTTP/1.1 200 OK\r\nCache-Control: max-age=0\r\nConnection: close\r\nPragma: no-cache\r\n"
          "Content-Type: text/plain\r\nContent-Length: 1000\r\n\r\n")
          .size();
  for (std::size_t total : {std::size_t{2048}, std::size_t{1024 * 40}, std::size_t{1500}}) {
    server.body_size = total - header - (total - header >= 10000 ? 1 : 0);
    std::string response = Exchange(running.port(), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(BodyOf(response), std::string(server.body_size, 'b')) << total;
  }
}

TEST_F(HttpServerTest, StopWhileWaitingInAcceptEndsListen) {
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  ASSERT_TRUE(server.IsListening());
  EXPECT_TRUE(running.Stop());
  EXPECT_FALSE(server.IsListening());
  EXPECT_EQ(trace.Count(L"Server Stopping"), 1);
  EXPECT_EQ(trace.Count(L"Server Stopped"), 1);
  EXPECT_EQ(trace.Count(L"accept() error"), 0);
}

TEST_F(HttpServerTest, BindToAPortInUseIsTraced) {
  TraceLog trace;
  platform::SocketsStartup();
  platform::SocketHandle holder = platform::CreateTcpSocket();
  ASSERT_TRUE(platform::BindAnyAddress(holder, 0));
  ASSERT_TRUE(platform::ListenOn(holder, 5));
  SizedServer server;
  EXPECT_FALSE(server.Listen(platform::LocalPort(holder), L""));
#ifdef _WIN32
  EXPECT_EQ(trace.Count(L"Winsock Error: bind() error, err=10048"), 1);
#else
  EXPECT_EQ(trace.Count(L"Winsock Error: bind() error, err=98"), 1);
#endif
  platform::CloseSocket(holder);
}

// A worker's look at the listening socket never waits; where it may accept
// (Linux) it takes a connection that is waiting, and the listener's own
// accept still waits for the next. (A connection waits to be accepted once
// its first byte is in.)
TEST_F(HttpServerTest, AWorkersAcceptNeverWaits) {
  platform::SocketsStartup();
  platform::SocketHandle listener = platform::CreateTcpSocket();
  ASSERT_TRUE(platform::BindAnyAddress(listener, 0));
  ASSERT_TRUE(platform::ListenOn(listener, 5));
  const std::uint16_t port = platform::LocalPort(listener);
  EXPECT_EQ(platform::AcceptWaiting(listener), platform::kNoSocket);
  const auto connect_and_send = [port] {
    platform::SocketHandle s = platform::ConnectLoopback(port);
    platform::SendBytes(s, "G", 1);
    return s;
  };
  platform::SocketHandle first = connect_and_send();
  platform::SocketHandle taken = platform::kNoSocket;
  for (int i = 0; i < 200 && platform::kAcceptsWithoutWaiting && taken == platform::kNoSocket;
       ++i) {
    taken = platform::AcceptWaiting(listener);
    if (taken == platform::kNoSocket) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(taken != platform::kNoSocket, platform::kAcceptsWithoutWaiting);
  if (taken == platform::kNoSocket) taken = platform::AcceptConnection(listener);
  platform::SocketHandle late = platform::kNoSocket;
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    late = connect_and_send();
  });
  platform::SocketHandle second = platform::AcceptConnection(listener);
  later.join();
  EXPECT_NE(second, platform::kNoSocket);
  for (platform::SocketHandle s : {first, taken, late, second, listener}) {
    if (s != platform::kNoSocket) platform::CloseSocket(s);
  }
}

TEST_F(HttpServerTest, RestartBindsTheSamePortAtOnce) {
  SizedServer server;
  std::uint16_t port;
  {
    RunningServer first(server);
    port = first.port();
    EXPECT_EQ(BodyOf(Exchange(port, "GET / HTTP/1.1\r\n\r\n")), "bbbbb");
  }
  SizedServer again;
  std::thread t([&] { again.Listen(port, L""); });
  for (int i = 0; i < 6000 && !again.IsListening(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(again.IsListening());
  again.Stop();
  t.join();
}

TEST_F(HttpServerTest, ManyConcurrentClientsAreAllAnswered) {
  SizedServer server;
  RunningServer running(server);
  constexpr int kClients = 200;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      if (BodyOf(Exchange(running.port(), "GET /x HTTP/1.1\r\n\r\n")) == "bbbbb") ++answered;
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(answered.load(), kClients);
}

TEST_F(HttpServerTest, BackToBackConnectionsAreTakenWithoutWaitingOutIdleWorkers) {
  // Clients that reconnect at once keep connections arriving while workers
  // finish the previous ones, which is when a connection is left to a
  // finishing worker rather than a sleeper. Idle workers wait a minute here,
  // so a connection that no one was told of would sit far beyond the bound
  // below instead of being picked up by a worker's timed look.
  ServerTimeouts().idle_worker_exit_ms = 60000;
  SizedServer server;
  RunningServer running(server);
  constexpr int kClients = 4;
  constexpr int kRequests = 300;
  std::atomic<int> answered{0};
  std::atomic<int> slow{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      for (int r = 0; r < kRequests; ++r) {
        const auto started = std::chrono::steady_clock::now();
        if (BodyOf(Exchange(running.port(), "GET /x HTTP/1.1\r\n\r\n")) == "bbbbb") ++answered;
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(20)) ++slow;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(answered.load(), kClients * kRequests);
  EXPECT_EQ(slow.load(), 0);
}

TEST_F(HttpServerTest, HostileClientsCostOnlyTheirConnection) {
  SizedServer server;
  RunningServer running(server);
  // Over the request limit: 400.
  std::string huge = "GET /?x=" + std::string(70000, 'a') + " HTTP/1.1\r\n\r\n";
  std::string response = Exchange(running.port(), huge);
  EXPECT_EQ(response.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << response.substr(0, 80);
  // A client that reads a little of a large answer and leaves.
  server.body_size = 4 << 20;
  platform::SocketHandle s = platform::ConnectLoopback(running.port());
  platform::SendBytes(s, "GET / HTTP/1.1\r\n\r\n", 18);
  char some[64];
  platform::WaitReadable(s, 20000);
  platform::Receive(s, some, sizeof some);
  platform::CloseSocket(s);
  server.body_size = 5;
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET / HTTP/1.1\r\n\r\n")), "bbbbb");
}

// Reads the whole answer up to the server's end of stream but keeps the
// connection open. False when the answer never ends.
bool ReadAnswerKeepOpen(platform::SocketHandle s) {
  platform::SendBytes(s, "GET / HTTP/1.1\r\n\r\n", 18);
  char buffer[4096];
  for (int i = 0; i < 1000; ++i) {
    if (platform::WaitReadable(s, 20000) != platform::WaitResult::Ready) return false;
    if (platform::Receive(s, buffer, sizeof buffer) <= 0) return true;
  }
  return false;
}

// Keeps sending pieces of `piece_size` bytes until the server has closed the
// connection for good (it is reset). False when that never happens within
// `limit` bytes.
bool SendUntilReset(platform::SocketHandle s, std::size_t piece_size, std::size_t limit) {
  const std::string piece(piece_size, 'x');
  for (std::size_t sent = 0; sent < limit; sent += piece.size()) {
    if (platform::SendBytes(s, piece.data(), static_cast<int>(piece.size())) < 0) return true;
    char byte;
    if (platform::WaitReadable(s, 0) == platform::WaitResult::Ready &&
        platform::Receive(s, &byte, 1) < 0) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST_F(HttpServerTest, PeerThatKeepsItsSideOpenDoesNotHoldAWorker) {
  ServerTimeouts().drain_ms = 600000;  // far longer than this test waits
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  platform::SocketHandle open = platform::ConnectLoopback(running.port());
  ASSERT_TRUE(ReadAnswerKeepOpen(open));
  // The worker is done with the connection while the peer still holds it.
  EXPECT_TRUE(trace.WaitFor(L"Handled "));
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET / HTTP/1.1\r\n\r\n")), "bbbbb");
  platform::CloseSocket(open);
}

TEST_F(HttpServerTest, GracefulCloseEndsAfterTheWaitOrTheByteLimit) {
  SizedServer server;
  RunningServer running(server);
  // A peer that keeps sending is cut off after kMaxDrainBytes.
  ServerTimeouts().drain_ms = 600000;
  platform::SocketHandle chatty = platform::ConnectLoopback(running.port());
  ASSERT_TRUE(ReadAnswerKeepOpen(chatty));
  EXPECT_TRUE(SendUntilReset(chatty, 1024, 64 * kMaxDrainBytes));
  platform::CloseSocket(chatty);
  // A peer that sends far less than the limit and never closes is closed
  // after the drain wait.
  ServerTimeouts().drain_ms = 200;
  platform::SocketHandle quiet = platform::ConnectLoopback(running.port());
  ASSERT_TRUE(ReadAnswerKeepOpen(quiet));
  EXPECT_TRUE(SendUntilReset(quiet, 1, 1000));
  platform::CloseSocket(quiet);
}

TEST_F(HttpServerTest, IdleWorkersBeyondTheKeptOnesEnd) {
  // The held requests keep their workers until released, however slowly the
  // machine starts them.
  SizedServer server;
  RunningServer running(server);
  std::vector<platform::SocketHandle> held;
  for (int i = 0; i < kKeptIdleWorkers + 14; ++i) held.push_back(HeldClient(running.port()));
  ASSERT_TRUE(server.WaitHeld(kKeptIdleWorkers + 14));
  EXPECT_GE(TheConnectionQueue().workers.load(), kKeptIdleWorkers + 14);
  server.Release();
  for (platform::SocketHandle s : held)
    EXPECT_EQ(BodyOf(testing_support::ReceiveUntilClosed(s)), "bbbbb");
  EXPECT_TRUE(WaitUntil([] { return TheConnectionQueue().workers.load() == kKeptIdleWorkers; }))
      << "workers " << TheConnectionQueue().workers.load();
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET / HTTP/1.1\r\n\r\n")), "bbbbb");
}

TEST_F(HttpServerTest, StaticFilesBelowTheDirectory) {
  testing_support::TempDir dir;
  testing_support::WriteFile(dir / "readme.txt", "read me");
  testing_support::WriteFile(dir / "index.htm", "index htm");
  testing_support::WriteFile(dir / "index.html", "index html");
  std::filesystem::create_directories(dir / "sub");
  SizedServer server;
  RunningServer running(server, dir.path().wstring() + L"/");
  std::string readme = Exchange(running.port(), "GET /files/readme.txt HTTP/1.1\r\n\r\n");
  EXPECT_EQ(BodyOf(readme), "read me");
  EXPECT_NE(readme.find("Content-Type: text/plain\r\n"), std::string::npos);
  std::string root = Exchange(running.port(), "GET /files HTTP/1.1\r\n\r\n");
  EXPECT_EQ(BodyOf(root), "index htm");
  EXPECT_NE(root.find("Content-Type: text/html\r\n"), std::string::npos);
  EXPECT_EQ(Exchange(running.port(), "GET /files/missing.txt HTTP/1.1\r\n\r\n")
                .rfind("HTTP/1.1 404 Not Found\r\n", 0),
            0u);
  EXPECT_EQ(Exchange(running.port(), "GET /files/sub HTTP/1.1\r\n\r\n")
                .rfind("HTTP/1.1 404 Not Found\r\n", 0),
            0u);
  std::filesystem::remove(dir / "index.htm");
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET /files HTTP/1.1\r\n\r\n")), "index html");
}

TEST_F(HttpServerTest, StaticFilesNeverOutsideTheDirectory) {
  testing_support::TempDir dir;
  std::filesystem::create_directories(dir / "www");
  std::filesystem::create_directories(dir / "www-secret");
  testing_support::WriteFile(dir / "www" / "page.txt", "page");
  testing_support::WriteFile(dir / "www-secret" / "key.txt", "secret");
  SizedServer server;
  server.plain = true;
  RunningServer running(server, (dir / "www").wstring());
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET /page.txt HTTP/1.1\r\n\r\n")), "page");
  for (const char* target :
       {"-secret/key.txt", "/..%2fwww-secret/key.txt", "/../www-secret/key.txt",
        "%2e%2e/www-secret/key.txt", "/..\\www-secret/key.txt"}) {
    std::string answer =
        Exchange(running.port(), std::string("GET ") + target + " HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(answer.rfind("HTTP/1.1 404 Not Found\r\n", 0) == 0 ||
                answer.rfind("HTTP/1.1 400 Bad Request\r\n", 0) == 0)
        << target << ": " << answer;
    EXPECT_EQ(answer.find("secret"), std::string::npos) << target;
  }
}

TEST_F(HttpServerTest, ABodyThatComesLaterIsWaitedFor) {
  // Long read waits: a request ended at a short read (or waited out) shows.
  ServerTimeouts().io_wait_ms = 60000;
  SizedServer server;
  RunningServer running(server);
  platform::SocketHandle s = platform::ConnectLoopback(running.port());
  ASSERT_NE(s, platform::kNoSocket);
  const std::string head =
      "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "content-length:  9\r\n\r\n";
  platform::SendBytes(s, head.data(), static_cast<int>(head.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  platform::SendBytes(s, "port=", 5);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  platform::SendBytes(s, "1234", 4);
  EXPECT_EQ(BodyOf(testing_support::ReceiveUntilClosed(s)), "1234");

  // A request of exactly one receive piece, head complete: answered at once,
  // not after the read wait (the client gives up long before it).
  std::string exact = "GET /echo?port=77&pad=";
  exact += std::string(kReceiveChunk - exact.size() - 13, 'p') + " HTTP/1.1\r\n\r\n";
  ASSERT_EQ(exact.size(), static_cast<std::size_t>(kReceiveChunk));
  EXPECT_EQ(BodyOf(Exchange(running.port(), exact, 20000)), "77");
}

TEST_F(HttpServerTest, StartersLearnWhetherTheSocketListens) {
  SizedServer first;
  const std::uint16_t port = FreePort();
  first.Start(port, L"");
  ASSERT_EQ(first.WaitForSetup(60000), HTTPServer::SetupState::Listening);
  SizedServer second;
  second.Start(port, L"");
  EXPECT_EQ(second.WaitForSetup(60000), HTTPServer::SetupState::Failed);
  EXPECT_EQ(platform::ClassifyListenError(second.SetupError()), platform::ListenFailure::PortInUse)
      << second.SetupError();
  SizedServer elsewhere;
  platform::IpAddress missing;  // 192.0.2.1 (TEST-NET-1): no machine has it
  missing.bytes[0] = 192, missing.bytes[1] = 0, missing.bytes[2] = 2, missing.bytes[3] = 1;
  elsewhere.SetListenAddress(missing);
  elsewhere.Start(FreePort(), L"");
  EXPECT_EQ(elsewhere.WaitForSetup(60000), HTTPServer::SetupState::Failed);
  EXPECT_EQ(platform::ClassifyListenError(elsewhere.SetupError()),
            platform::ListenFailure::AddressNotAvailable)
      << elsewhere.SetupError();
}

TEST_F(HttpServerTest, AStopAlwaysTakesEffectAndDestroyingWaitsForTheListener) {
  const std::uint16_t port = FreePort();
  SizedServer server;
  for (int i = 0; i < 100; ++i) {
    server.Start(port, L"");
    server.Stop();
    server.WaitForListener();
    ASSERT_FALSE(server.IsListening()) << "round " << i;
  }
  platform::SocketHandle s = platform::ConnectLoopback(port);
  EXPECT_EQ(s, platform::kNoSocket) << "a lost stop left the server listening";
  if (s != platform::kNoSocket) platform::CloseSocket(s);
  for (int i = 0; i < 100; ++i) {
    SizedServer short_lived;
    short_lived.Start(port, L"");
  }
}

#ifndef _WIN32
// Sends a request over a connected socket and reads the answer.
std::string ExchangeOver(int s, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return "";
  const std::string request = "GET / HTTP/1.1\r\n\r\n";
  platform::SendBytes(s, request.data(), static_cast<int>(request.size()));
  return testing_support::ReceiveUntilClosed(s);
}

TEST_F(HttpServerTest, AConnectionOnDescriptorZeroIsServed) {
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  // With standard input closed, an accepted connection may get descriptor 0
  // (the lowest free one): the first, or the second once the first is gone.
  const int saved_stdin = dup(0);
  const int first = socket(AF_INET, SOCK_STREAM, 0);
  const int second = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_TRUE(first >= 0 && second >= 0);
  close(0);
  EXPECT_EQ(BodyOf(ExchangeOver(first, running.port())), "bbbbb");
  EXPECT_EQ(BodyOf(ExchangeOver(second, running.port())), "bbbbb");
  // The server closes its end once the client has: then 0 is free again.
  EXPECT_TRUE(WaitUntil([] { return fcntl(0, F_GETFD) == -1; }));
  dup2(saved_stdin, 0);
  close(saved_stdin);
  EXPECT_GE(trace.Count(L"Accepted request on socket 0"), 1);
}
#endif

// Threads of this process right now (Linux); -1 where it cannot be read.
int ThreadCount() {
#ifndef _WIN32
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  int threads = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "Threads: %d", &threads) == 1) break;
  }
  std::fclose(status);
  return threads;
#else
  return -1;
#endif
}

TEST_F(HttpServerTest, IdleAndSlowClientsWaitWithoutWorkersWhileOthersAreServed) {
  ServerTimeouts().io_wait_ms = 60000;
  ServerTimeouts().request_deadline_ms = 120000;
  SizedServer server;
  RunningServer running(server);
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET / HTTP/1.1\r\n\r\n")), "bbbbb");
  const int threads_before = ThreadCount();
  const int workers_before = TheConnectionQueue().workers.load();
  std::vector<platform::SocketHandle> idle, slow;
  for (int i = 0; i < 500; ++i) idle.push_back(platform::ConnectLoopback(running.port()));
  for (int i = 0; i < 200; ++i) slow.push_back(platform::ConnectLoopback(running.port()));
  const std::string request = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
  for (std::size_t byte = 0; byte < 8; ++byte) {
    for (platform::SocketHandle s : slow) platform::SendBytes(s, &request[byte], 1);
    EXPECT_EQ(BodyOf(Exchange(running.port(), request)), "bbbbb") << byte;
  }
  EXPECT_EQ(TheConnectionQueue().workers.load(), workers_before);
  if (threads_before > 0) {
    EXPECT_LE(ThreadCount(), threads_before + 2);
  }
  // The slow clients finish their requests and are served.
  for (platform::SocketHandle s : slow) {
    platform::SendBytes(s, request.data() + 8, static_cast<int>(request.size() - 8));
  }
  for (platform::SocketHandle s : slow) {
    EXPECT_EQ(BodyOf(testing_support::ReceiveUntilClosed(s)), "bbbbb");
  }
  for (platform::SocketHandle s : idle) platform::CloseSocket(s);
}

TEST_F(HttpServerTest, AClientThatSendsItsHeadAndGoesOrResetsCostsNothing) {
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  platform::SocketHandle gone = platform::ConnectLoopback(running.port());
  const std::string head = "POST /echo HTTP/1.1\r\nContent-Length: 50\r\n\r\nport=1";
  platform::SendBytes(gone, head.data(), static_cast<int>(head.size()));
  platform::CloseSocket(gone);
  platform::SocketHandle reset = platform::ConnectLoopback(running.port());
  platform::SendBytes(reset, head.data(), static_cast<int>(head.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  platform::AbortSocket(reset);
  // Both leave the waiting room at once; the server goes on.
  EXPECT_TRUE(trace.WaitFor(L"Closing socket ", 2, 5000));
  EXPECT_EQ(BodyOf(Exchange(running.port(), "GET / HTTP/1.1\r\n\r\n")), "bbbbb");
}

TEST_F(HttpServerTest, ASlowRequestEndsAtTheWholeRequestDeadline) {
  ServerTimeouts().io_wait_ms = 2000;
  ServerTimeouts().request_deadline_ms = 600;
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  platform::SocketHandle s = platform::ConnectLoopback(running.port());
  const std::string request = "GET / HTTP/1.1\r\n\r\n";
  std::size_t sent = 0;
  // One byte every 100 ms: never silent for the read wait.
  for (; sent < request.size() - 1; ++sent) {
    if (platform::SendBytes(s, &request[sent], 1) != 1) break;
    if (platform::WaitReadable(s, 100) == platform::WaitResult::Ready) break;
  }
  char byte;
  ASSERT_EQ(platform::WaitReadable(s, 20000), platform::WaitResult::Ready);
  EXPECT_LE(platform::Receive(s, &byte, 1), 0) << "closed without an answer";
  EXPECT_LT(sent, request.size() - 1);
  EXPECT_EQ(trace.Count(L"took too long"), 1);
  platform::CloseSocket(s);
}

TEST_F(HttpServerTest, AtTheConnectionCapTheRestWaitInTheBacklog) {
  ServerTimeouts().max_connections = 3;
  TraceLog trace;
  SizedServer server;
  RunningServer running(server);
  std::vector<platform::SocketHandle> open;
  for (int i = 0; i < 3; ++i) open.push_back(StalledClient(running.port()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Connected by the kernel, but not accepted: no answer while three are open.
  platform::SocketHandle waiting = platform::ConnectLoopback(running.port());
  ASSERT_NE(waiting, platform::kNoSocket);
  const std::string request = "GET / HTTP/1.1\r\n\r\n";
  platform::SendBytes(waiting, request.data(), static_cast<int>(request.size()));
  EXPECT_EQ(platform::WaitReadable(waiting, 500), platform::WaitResult::Timeout);
  platform::CloseSocket(open.back());  // one ends: the waiting one is taken
  open.pop_back();
  EXPECT_EQ(BodyOf(testing_support::ReceiveUntilClosed(waiting)), "bbbbb");
  for (platform::SocketHandle s : open) platform::CloseSocket(s);
  EXPECT_TRUE(trace.WaitFor(L"Handled ", 4));  // the waiting one and the three stalled
}

TEST_F(HttpServerTest, AConnectionThatOutlivesItsServerIsClosedUnanswered) {
  TraceLog trace;
  platform::SocketHandle waiting = platform::kNoSocket;
  {
    SizedServer server;
    RunningServer running(server);
    waiting = platform::ConnectLoopback(running.port());
    const std::string head = "GET / HTTP/1.1\r\n";  // not yet whole: it waits in the room
    platform::SendBytes(waiting, head.data(), static_cast<int>(head.size()));
    ASSERT_TRUE(trace.WaitFor(L"Accepted request on socket "));
  }
  // Its end of stream hands it to a worker after its server is gone.
  platform::ShutdownSocket(waiting, platform::ShutdownHow::Send);
  EXPECT_TRUE(trace.WaitFor(L"is gone: not answered"));
  EXPECT_EQ(testing_support::ReceiveUntilClosed(waiting), "");
  platform::CloseSocket(waiting);
}

}  // namespace
