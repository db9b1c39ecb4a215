// The server speaking TLS, over loopback, against a client of the same
// library: the handshake and the request wait in the room, the answer goes
// back through TLS, and clients that do not complete a handshake get
// nothing and take no worker.
#include <gtest/gtest.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "http/waiting_room.h"
#include "tests/http/server_fixtures.h"
#include "tests/tls/test_data.h"
#include "tls/tls_credentials.h"
#include "tls/tls_stream.h"

namespace {

using namespace server_fixtures;
using testing_support::BodyOf;
using testing_support::Exchange;

std::shared_ptr<const tls::TlsCredentials> TestCredentials() {
  tls::TlsFiles files;
  files.cert_file = TlsTestPath("server.pem");
  files.key_file = TlsTestPath("server.key");
  return tls::TlsCredentials::Load(files).credentials;
}

// A blocking TLS client that trusts the test CA.
class TlsClient {
 public:
  explicit TlsClient(std::uint16_t port) : socket_(platform::ConnectLoopback(port)) {
    mbedtls_ssl_init(&ssl_);
    mbedtls_ssl_config_init(&config_);
    mbedtls_x509_crt_init(&ca_);
    mbedtls_ctr_drbg_init(&random_);
    mbedtls_entropy_init(&entropy_);
    const std::string ca = TlsTestFile("ca.pem");
    ready_ =
        socket_ != platform::kNoSocket &&
        mbedtls_ctr_drbg_seed(&random_, mbedtls_entropy_func, &entropy_, nullptr, 0) == 0 &&
        mbedtls_x509_crt_parse_file(&ca_, ca.c_str()) == 0 &&
        mbedtls_ssl_config_defaults(&config_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                    MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    if (!ready_) return;
    mbedtls_ssl_conf_ca_chain(&config_, &ca_, nullptr);
    mbedtls_ssl_conf_authmode(&config_, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_rng(&config_, mbedtls_ctr_drbg_random, &random_);
    ready_ = mbedtls_ssl_setup(&ssl_, &config_) == 0 &&
             mbedtls_ssl_set_hostname(&ssl_, "localhost") == 0;
    mbedtls_ssl_set_bio(&ssl_, &socket_, Send, Receive, nullptr);
  }
  ~TlsClient() {
    mbedtls_ssl_free(&ssl_);
    mbedtls_ssl_config_free(&config_);
    mbedtls_x509_crt_free(&ca_);
    mbedtls_ctr_drbg_free(&random_);
    mbedtls_entropy_free(&entropy_);
    if (socket_ != platform::kNoSocket) platform::CloseSocket(socket_);
  }
  bool Handshake() { return ready_ && mbedtls_ssl_handshake(&ssl_) == 0; }
  // Each record goes at once, not held back until the last is acknowledged.
  void SendRecordsAtOnce() { platform::SendPiecesAtOnce(socket_); }
  std::string Version() { return mbedtls_ssl_get_version(&ssl_); }
  bool Write(const std::string& bytes) {
    return mbedtls_ssl_write(&ssl_, reinterpret_cast<const unsigned char*>(bytes.data()),
                             bytes.size()) == static_cast<int>(bytes.size());
  }
  // Everything up to the server's close_notify (true) or another end.
  bool ReadToTheEnd(std::string& text) {
    unsigned char buffer[4096];
    for (;;) {  // ends: every read takes bytes, or the stream ends
      const int n = mbedtls_ssl_read(&ssl_, buffer, sizeof buffer);
      if (n > 0) {
        text.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
        continue;
      }
      return n == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY;
    }
  }

 private:
  static int Send(void* socket, const unsigned char* bytes, std::size_t size) {
    const int n = platform::SendBytes(*static_cast<platform::SocketHandle*>(socket),
                                      reinterpret_cast<const char*>(bytes), static_cast<int>(size));
    return n < 0 ? MBEDTLS_ERR_SSL_INTERNAL_ERROR : n;
  }
  static int Receive(void* socket, unsigned char* buffer, std::size_t size) {
    const int n =
        platform::ReceiveWithin(*static_cast<platform::SocketHandle*>(socket),
                                reinterpret_cast<char*>(buffer), static_cast<int>(size), 20000);
    return n >= 0 ? n : MBEDTLS_ERR_SSL_TIMEOUT;
  }

  platform::SocketHandle socket_;
  bool ready_ = false;
  mbedtls_ssl_context ssl_;
  mbedtls_ssl_config config_;
  mbedtls_x509_crt ca_;
  mbedtls_ctr_drbg_context random_;
  mbedtls_entropy_context entropy_;
};

Connection TlsConnection(platform::SocketHandle socket,
                         std::shared_ptr<const tls::TlsCredentials> credentials) {
  Connection connection;
  connection.stream = std::make_unique<tls::TlsStream>(std::move(credentials), socket);
  return connection;
}

class TlsServerTest : public HttpServerTest {
 protected:
  void SetUp() override {
    HttpServerTest::SetUp();
    credentials_ = TestCredentials();
    ASSERT_NE(credentials_, nullptr);
    server_.UseStreams(std::make_shared<tls::TlsStreamMaker>(credentials_));
  }
  std::shared_ptr<const tls::TlsCredentials> credentials_;
  SizedServer server_;
};

TEST_F(TlsServerTest, AnswersThroughTlsAndEndsWithCloseNotify) {
  RunningServer running(server_);
  for (std::size_t size : {std::size_t{5}, std::size_t{100000}}) {
    server_.body_size = size;
    TlsClient client(running.port());
    ASSERT_TRUE(client.Handshake());
    // A client that can do TLS 1.3 gets it, where the library has it.
    EXPECT_EQ(client.Version(), KV_EXPECT_TLS13 ? "TLSv1.3" : "TLSv1.2");
    ASSERT_TRUE(client.Write("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    std::string response;
    EXPECT_TRUE(client.ReadToTheEnd(response));
    EXPECT_EQ(BodyOf(response), std::string(size, 'b'));
  }
}

TEST_F(TlsServerTest, ARequestInManyRecordsIsServedWhole) {
  RunningServer running(server_);
  TlsClient client(running.port());
  ASSERT_TRUE(client.Handshake());
  const std::string request = "POST /echo HTTP/1.1\r\nContent-Length: 9\r\n\r\nport=8167";
  for (char c : request) ASSERT_TRUE(client.Write(std::string(1, c)));
  std::string response;
  client.ReadToTheEnd(response);
  EXPECT_EQ(BodyOf(response), "8167");
}

TEST_F(TlsServerTest, PlainHttpGetsNoAnswerAndNoWorker) {
  TraceLog trace;
  RunningServer running(server_);
  std::string response = Exchange(running.port(), "GET /?format=json HTTP/1.1\r\n\r\n");
  EXPECT_EQ(response.find("HTTP/"), std::string::npos) << response;
  EXPECT_TRUE(trace.WaitFor(L"Opening the stream of "));  // the handshake failed
  EXPECT_EQ(trace.Count(L"HandleRequest for "), 0);
}

TEST_F(TlsServerTest, HalfAHandshakeIsClosedAfterTheReadWait) {
  ServerTimeouts().io_wait_ms = 300;
  TraceLog trace;
  RunningServer running(server_);
  // A handshake record that announces 200 bytes and brings 10.
  platform::SocketHandle s = platform::ConnectLoopback(running.port());
  const char start[] = "\x16\x03\x01\x00\xc8\x01\x00\x00\xc4\x03\x03\x00\x00\x00\x00";
  platform::SendBytes(s, start, sizeof start - 1);
  ASSERT_EQ(platform::WaitReadable(s, 20000), platform::WaitResult::Ready);
  char byte;
  EXPECT_LE(platform::Receive(s, &byte, 1), 0) << "closed, nothing sent";
  platform::CloseSocket(s);
  EXPECT_EQ(trace.Count(L"HandleRequest for "), 0);
}

TEST_F(TlsServerTest, AHandshakeThatTricklesEndsWithinTheReadWait) {
  ServerTimeouts().io_wait_ms = 300;
  TraceLog trace;
  RunningServer running(server_);
  // One byte of a ClientHello every 200 ms: each arrives within the read
  // wait, but the handshake as a whole must end within it.
  platform::SocketHandle s = platform::ConnectLoopback(running.port());
  const unsigned char hello[] = {0x16, 0x03, 0x01, 0x00, 0xc8, 0x01, 0x00, 0x00, 0xc4, 0x03, 0x03};
  bool closed = false;
  for (int i = 0; i < 60 && !closed; ++i) {
    platform::SendBytes(s, reinterpret_cast<const char*>(&hello[i % sizeof hello]), 1);
    closed = platform::WaitReadable(s, 200) == platform::WaitResult::Ready;
  }
  EXPECT_TRUE(closed) << "still open after 12 s of trickling";
  platform::CloseSocket(s);
  EXPECT_EQ(trace.Count(L"HandleRequest for "), 0);
}

TEST_F(TlsServerTest, AHandshakeWithNoRequestIsClosedAfterTheReadWait) {
  ServerTimeouts().io_wait_ms = 300;
  TraceLog trace;
  RunningServer running(server_);
  TlsClient client(running.port());
  ASSERT_TRUE(client.Handshake());
  std::string response;
  client.ReadToTheEnd(response);
  EXPECT_EQ(response, "");
  EXPECT_EQ(trace.Count(L"HandleRequest for "), 0);
}

// One client's stream of one-byte records: a round of the room reads a
// bounded share of it, so the room's other sockets are looked at between
// the shares, and the request is still taken in whole.
TEST(TlsWaitingRoomTest, ARoundGivesATricklingClientABoundedShare) {
  platform::SocketsStartup();
  platform::SocketHandle listener = platform::CreateTcpSocket();
  platform::BindAnyAddress(listener, 0);
  platform::ListenOn(listener, 4);
  TlsClient client(platform::LocalPort(listener));
  platform::SocketHandle server_end = platform::AcceptConnection(listener);
  platform::CloseSocket(listener);
  std::vector<ReadyConnection> delivered;
  std::vector<platform::SocketHandle> dismissed;
  WaitingRoom room([&](ReadyConnection&& a) { delivered.push_back(std::move(a)); },
                   [&](platform::SocketHandle s) { dismissed.push_back(s); }, [] { return 0; });
  room.Admit(TlsConnection(server_end, TestCredentials()));
  const std::string request = "GET / HTTP/1.1\r\nX: " + std::string(400, 'a') + "\r\n\r\n";
  std::atomic<int> step{0};    // 1: handshake done, 2: go on, 3: all records sent
  client.SendRecordsAtOnce();  // so that all of them are there before the round
  std::thread sender([&] {
    const bool shaken = client.Handshake();
    step = 1;
    for (int i = 0; i < 2000 && step != 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (char c : request) {
      if (!shaken || !client.Write(std::string(1, c))) break;
    }
    step = 3;
  });
  for (int i = 0; i < 500 && step == 0; ++i) room.RunOnce(20);
  step = 2;
  sender.join();
  room.RunOnce(0);
  EXPECT_TRUE(delivered.empty()) << "a whole request's records read in one round";
  for (int i = 0; i < 200 && delivered.empty() && dismissed.empty(); ++i) room.RunOnce(20);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].text, request);
  platform::CloseSocket(delivered[0].connection.Socket());
}

// Half handshakes each hold a session: past the room's cap, a new one
// closes the oldest, so that their memory is bounded.
TEST(TlsWaitingRoomTest, PastTheSessionCapTheOldestHalfHandshakeIsClosed) {
  platform::SocketsStartup();
  platform::SocketHandle listener = platform::CreateTcpSocket();
  platform::BindAnyAddress(listener, 0);
  platform::ListenOn(listener, 8);
  std::vector<platform::SocketHandle> dismissed;
  WaitingRoom room([](ReadyConnection&& a) { platform::CloseSocket(a.connection.Socket()); },
                   [&](platform::SocketHandle s) { dismissed.push_back(s); }, [] { return 0; },
                   WaitingRoom::kOpeningCrowd, 2);
  const char start[] = "\x16\x03\x01\x00\xc8\x01\x00\x00\xc4\x03\x03\x00\x00\x00\x00";
  std::vector<platform::SocketHandle> clients, servers;
  const std::shared_ptr<const tls::TlsCredentials> credentials = TestCredentials();
  for (int i = 0; i < 3; ++i) {
    clients.push_back(platform::ConnectLoopback(platform::LocalPort(listener)));
    servers.push_back(platform::AcceptConnection(listener));
    room.Admit(TlsConnection(servers.back(), credentials));
    platform::SendBytes(clients.back(), start, sizeof start - 1);
    for (int round = 0; round < 50 && room.Waiting() + dismissed.size() < clients.size(); ++round) {
      room.RunOnce(20);
    }
    for (int round = 0; round < 5; ++round) room.RunOnce(20);
  }
  EXPECT_EQ(dismissed, std::vector<platform::SocketHandle>{servers[0]});
  EXPECT_EQ(room.Waiting(), 2u);
  for (platform::SocketHandle s : dismissed) platform::CloseSocket(s);
  for (platform::SocketHandle s : clients) platform::CloseSocket(s);
  platform::CloseSocket(listener);
}

}  // namespace
