#include "http/waiting_room.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/plain_stream.h"
#include "http/server_limits.h"
#include "platform/poller.h"
#include "tests/support/http_client.h"

namespace {

Connection Plain(platform::SocketHandle socket) {
  Connection connection;
  connection.stream = std::make_unique<PlainStream>(socket);
  return connection;
}

// A connected pair over loopback: the client's end and the server's end.
struct SocketPair {
  platform::SocketHandle client = platform::kNoSocket, server = platform::kNoSocket;
  SocketPair() {
    platform::SocketsStartup();
    platform::SocketHandle listener = platform::CreateTcpSocket();
    platform::BindAnyAddress(listener, 0);
    platform::ListenOn(listener, 4);
    client = platform::ConnectLoopback(platform::LocalPort(listener));
    server = platform::AcceptConnection(listener);
    platform::CloseSocket(listener);
  }
  void Send(const std::string& bytes) const {
    platform::SendBytes(client, bytes.data(), static_cast<int>(bytes.size()));
  }
  ~SocketPair() {
    if (client != platform::kNoSocket) platform::CloseSocket(client);
  }
};

// `count` connections over loopback, made at once: the listener hands each
// over only after a second or so without bytes (Linux), so they share that
// wait. Client and server ends are not paired up.
struct IdleConnections {
  std::vector<platform::SocketHandle> clients, servers;
  explicit IdleConnections(int count) {
    platform::SocketsStartup();
    platform::SocketHandle listener = platform::CreateTcpSocket();
    platform::BindAnyAddress(listener, 0);
    platform::ListenOn(listener, count + 8);
    for (int i = 0; i < count; ++i) {
      clients.push_back(platform::ConnectLoopback(platform::LocalPort(listener)));
    }
    for (int i = 0; i < count; ++i) servers.push_back(platform::AcceptConnection(listener));
    platform::CloseSocket(listener);
  }
  ~IdleConnections() {
    for (platform::SocketHandle s : clients) platform::CloseSocket(s);
  }
};

// A room over a fake clock that records what leaves it.
class WaitingRoomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ServerTimeouts();
    ServerTimeouts().io_wait_ms = 10000;
    ServerTimeouts().request_deadline_ms = 30000;
  }
  void TearDown() override {
    for (platform::SocketHandle s : dismissed_) platform::CloseSocket(s);
    for (const ReadyConnection& a : delivered_) platform::CloseSocket(a.connection.Socket());
    ServerTimeouts() = saved_;
  }
  // Rounds until something leaves or a few real seconds pass (bytes on
  // loopback arrive within moments).
  void RunUntilLeft(std::size_t left) {
    for (int i = 0; i < 200 && delivered_.size() + dismissed_.size() < left; ++i) {
      room_.RunOnce(20);
    }
  }
  void Settle() {
    for (int i = 0; i < 5; ++i) room_.RunOnce(20);
  }

  std::int64_t now_ = 1'000'000;
  std::vector<ReadyConnection> delivered_;
  std::vector<platform::SocketHandle> dismissed_;
  WaitingRoom room_{[this](ReadyConnection&& a) { delivered_.push_back(std::move(a)); },
                    [this](platform::SocketHandle s) { dismissed_.push_back(s); },
                    [this] { return now_; }};
  HttpTimeouts saved_;
};

TEST(Poller, ReportsReadableSocketsAndWakes) {
  SocketPair a, b;
  platform::Poller poller;
  ASSERT_TRUE(poller.Valid());
  ASSERT_TRUE(poller.Add(a.server));
  ASSERT_TRUE(poller.Add(b.server));
  std::vector<platform::SocketHandle> ready;
  EXPECT_EQ(poller.Wait(ready, 16, 0), 0);
  b.Send("x");
  EXPECT_EQ(poller.Wait(ready, 16, 5000), 1);
  EXPECT_EQ(ready, std::vector<platform::SocketHandle>{b.server});
  // Level-triggered: unread bytes are reported again.
  EXPECT_EQ(poller.Wait(ready, 16, 0), 1);
  poller.Remove(b.server);
  EXPECT_EQ(poller.Wait(ready, 16, 0), 0);
  poller.Wake();
  EXPECT_EQ(poller.Wait(ready, 16, 5000), 0);  // returns at once, nothing ready
  platform::CloseSocket(a.client);
  a.client = platform::kNoSocket;
  EXPECT_EQ(poller.Wait(ready, 16, 5000), 1) << "the peer's close is readable";
  platform::CloseSocket(a.server);
  platform::CloseSocket(b.server);
}

TEST_F(WaitingRoomTest, ARequestInManyPiecesIsDeliveredWhole) {
  SocketPair pair;
  room_.Admit(Plain(pair.server));
  const std::string request = "GET /?format=json HTTP/1.1\r\nHost: x\r\n\r\n";
  for (char c : request) {
    EXPECT_TRUE(delivered_.empty());
    pair.Send(std::string(1, c));
    now_ += 500;  // well inside the read wait, and 20 s for the whole request
    Settle();
  }
  RunUntilLeft(1);
  ASSERT_EQ(delivered_.size(), 1u);
  EXPECT_EQ(delivered_[0].text, request);
  EXPECT_FALSE(delivered_[0].too_long);
  EXPECT_EQ(delivered_[0].received, static_cast<int>(request.size()));
  EXPECT_EQ(room_.Waiting(), 0u);
}

TEST_F(WaitingRoomTest, APostBodySplitAcrossPiecesIsWaitedFor) {
  SocketPair pair;
  room_.Admit(Plain(pair.server));
  pair.Send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nport=");
  Settle();
  EXPECT_TRUE(delivered_.empty()) << "the body is not complete yet";
  pair.Send("8080&");
  RunUntilLeft(1);
  ASSERT_EQ(delivered_.size(), 1u);
  EXPECT_EQ(delivered_[0].text, "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nport=8080&");
}

TEST_F(WaitingRoomTest, SilenceEndsAtTheReadWait) {
  SocketPair silent, partial;
  room_.Admit(Plain(silent.server));
  room_.Admit(Plain(partial.server));
  partial.Send("GET / HT");
  Settle();
  now_ += 9999;
  Settle();
  EXPECT_TRUE(delivered_.empty() && dismissed_.empty()) << "one millisecond early";
  now_ += 1;
  room_.RunOnce(0);
  // Nothing at all: closed without an answer. Something: served with it.
  EXPECT_EQ(dismissed_, std::vector<platform::SocketHandle>{silent.server});
  ASSERT_EQ(delivered_.size(), 1u);
  EXPECT_EQ(delivered_[0].text, "GET / HT");
}

TEST_F(WaitingRoomTest, TheWholeRequestHasADeadline) {
  ServerTimeouts().request_deadline_ms = 30000;
  SocketPair trickle;
  room_.Admit(Plain(trickle.server));
  // One byte every 9 s keeps the read wait from ending, never the deadline.
  for (int i = 0; i < 3; ++i) {
    trickle.Send("G");
    Settle();
    now_ += 9000;
    room_.RunOnce(0);
  }
  EXPECT_TRUE(dismissed_.empty());
  EXPECT_EQ(now_, 1'000'000 + 27000);
  trickle.Send("E");
  Settle();
  now_ += 3000;  // 30 s after admission
  room_.RunOnce(0);
  EXPECT_EQ(dismissed_, std::vector<platform::SocketHandle>{trickle.server});
  EXPECT_TRUE(delivered_.empty());
}

TEST_F(WaitingRoomTest, TheRequestLimitAndOneBytePast) {
  SocketPair exact, past;
  room_.Admit(Plain(exact.server));
  room_.Admit(Plain(past.server));
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: ";
  auto request_of = [&](std::size_t total) {
    // A request of exactly `total` bytes, its body filling the rest.
    std::string text;
    for (std::size_t body = total - head.size() - 9;; --body) {
      text = head + std::to_string(body) + "\r\n\r\n" + std::string(body, 'a');
      if (text.size() <= total) return text + std::string(total - text.size(), 'a');
    }
  };
  const std::string at_limit = request_of(kMaxRequestBytes);
  const std::string beyond = request_of(kMaxRequestBytes + 1);
  ASSERT_EQ(at_limit.size(), kMaxRequestBytes);
  exact.Send(at_limit);
  past.Send(beyond);
  RunUntilLeft(2);
  ASSERT_EQ(delivered_.size(), 2u);
  for (const ReadyConnection& a : delivered_) {
    EXPECT_EQ(a.too_long, a.connection.Socket() == past.server);
    if (a.connection.Socket() == exact.server) {
      EXPECT_EQ(a.text.size(), kMaxRequestBytes);
    }
  }
}

TEST_F(WaitingRoomTest, APeerThatClosesOrResetsLeavesAtOnce) {
  SocketPair head_then_gone, closes;
  room_.Admit(Plain(head_then_gone.server));
  room_.Admit(Plain(closes.server));
  head_then_gone.Send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
  Settle();
  platform::CloseSocket(head_then_gone.client);
  head_then_gone.client = platform::kNoSocket;
  platform::CloseSocket(closes.client);
  closes.client = platform::kNoSocket;
  RunUntilLeft(2);
  // Served with what arrived, as a worker reading it would have been; the
  // answer then finds nobody, which costs nothing here.
  EXPECT_EQ(delivered_.size() + dismissed_.size(), 2u);
  EXPECT_EQ(room_.Waiting(), 0u);
}

TEST_F(WaitingRoomTest, ManyIdleConnectionsWaitWithoutAThreadEach) {
  IdleConnections idle(200);
  for (platform::SocketHandle s : idle.servers) room_.Admit(Plain(s));
  SocketPair active;
  room_.Admit(Plain(active.server));
  active.Send("GET / HTTP/1.1\r\n\r\n");
  RunUntilLeft(1);
  ASSERT_EQ(delivered_.size(), 1u);
  EXPECT_EQ(delivered_[0].connection.Socket(), active.server);
  EXPECT_EQ(room_.Waiting(), 200u);
  now_ += 10000;
  room_.RunOnce(0);
  EXPECT_EQ(dismissed_.size(), 200u);
}

}  // namespace
