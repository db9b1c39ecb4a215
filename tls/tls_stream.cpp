#include "tls/tls_stream.h"

#include <mbedtls/error.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>

#include <climits>

#include "tls/library_error.h"

namespace tls {

struct TlsStream::Context {
  mbedtls_ssl_context ssl;
  Context() { mbedtls_ssl_init(&ssl); }
  ~Context() { mbedtls_ssl_free(&ssl); }
};

TlsStream::TlsStream(std::shared_ptr<const TlsCredentials> credentials,
                     platform::SocketHandle socket)
    : Stream(socket), credentials_(std::move(credentials)) {}

bool TlsStream::MakeSession() {
  context_ = std::make_unique<Context>();
  const auto* config = static_cast<const mbedtls_ssl_config*>(credentials_->Config());
  const int result = mbedtls_ssl_setup(&context_->ssl, config);
  if (result != 0) {
    NoteFailure(result);
    failed_ = true;
    return false;
  }
  mbedtls_ssl_set_bio(&context_->ssl, this, SendToSocket, ReceiveFromSocket, nullptr);
  // A handshake flight is several records, each its own send: without this
  // the second would wait for the peer's delayed acknowledgement of the first.
  platform::SendPiecesAtOnce(Socket());
  return true;
}

TlsStream::~TlsStream() = default;

int TlsStream::SendToSocket(void* self, const unsigned char* bytes, std::size_t size) {
  auto* session = static_cast<TlsStream*>(self);
  const int length = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  const int sent = platform::SendWithin(session->Socket(), reinterpret_cast<const char*>(bytes),
                                        length, session->send_wait_ms_);
  if (sent > 0) return sent;
  return sent == 0 ? MBEDTLS_ERR_SSL_WANT_WRITE : MBEDTLS_ERR_NET_SEND_FAILED;
}

int TlsStream::ReceiveFromSocket(void* self, unsigned char* buffer, std::size_t size) {
  auto* session = static_cast<TlsStream*>(self);
  const int length = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  const int n =
      platform::ReceiveWithin(session->Socket(), reinterpret_cast<char*>(buffer), length, 0);
  if (n >= 0) return n;  // 0: the peer's end of stream
  return n == platform::kReceiveTimedOut ? MBEDTLS_ERR_SSL_WANT_READ : MBEDTLS_ERR_NET_RECV_FAILED;
}

void TlsStream::NoteFailure(int code) { failure_ = LibraryError(code); }

Stream::Opening TlsStream::Open() {
  if (handshake_done_) return Opening::Done;
  if (failed_ || (context_ == nullptr && !MakeSession())) return Opening::Failed;
  send_wait_ms_ = 0;
  const int result = mbedtls_ssl_handshake(&context_->ssl);
  if (result == 0) {
    handshake_done_ = true;
    return Opening::Done;
  }
  if (result == MBEDTLS_ERR_SSL_WANT_READ || result == MBEDTLS_ERR_SSL_WANT_WRITE) {
    return Opening::Waiting;
  }
  NoteFailure(result);
  return Opening::Failed;
}

int TlsStream::ReceiveNow(char* buffer, int size) {
  if (!handshake_done_) return -1;
  send_wait_ms_ = 0;
  const int n = mbedtls_ssl_read(&context_->ssl, reinterpret_cast<unsigned char*>(buffer),
                                 static_cast<std::size_t>(size));
  if (n >= 0) return n;
  if (n == MBEDTLS_ERR_SSL_WANT_READ || n == MBEDTLS_ERR_SSL_WANT_WRITE) {
    return platform::kReceiveTimedOut;
  }
  if (n == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || n == MBEDTLS_ERR_SSL_CONN_EOF) return 0;
  NoteFailure(n);
  return -1;
}

int TlsStream::SendWithin(const char* bytes, int size, int wait_ms) {
  if (!handshake_done_) return -1;
  send_wait_ms_ = wait_ms;
  int sent = 0;
  while (sent < size) {
    const int n =
        mbedtls_ssl_write(&context_->ssl, reinterpret_cast<const unsigned char*>(bytes) + sent,
                          static_cast<std::size_t>(size - sent));
    if (n > 0) {
      sent += n;
    } else if (n == MBEDTLS_ERR_SSL_WANT_WRITE) {
      break;  // the peer took nothing for the whole wait
    } else {
      NoteFailure(n);
      return sent > 0 ? sent : -1;
    }
  }
  return sent;
}

void TlsStream::Finish() {
  if (!handshake_done_) return;
  send_wait_ms_ = 0;
  mbedtls_ssl_close_notify(&context_->ssl);
}

}  // namespace tls
