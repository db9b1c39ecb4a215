#pragma once
// TlsSession: one connection's TLS, as a byte stream over its socket. The
// handshake and the reading never wait (the waiting room polls the socket);
// the sending waits as a plain send does, for each piece up to a limit.
// Used by one thread at a time: the room's, then a worker's.
#include <memory>
#include <string>

#include "platform/socket.h"
#include "tls/tls_credentials.h"

namespace tls {

class TlsSession {
 public:
  TlsSession(std::shared_ptr<const TlsCredentials> credentials, platform::SocketHandle socket);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  enum class Step { Done, Waiting, Failed };
  // Takes the handshake as far as the bytes that have arrived allow.
  Step Handshake();
  bool HandshakeDone() const { return handshake_done_; }

  // The decrypted bytes that have arrived, without waiting: their count, 0
  // when the peer ended the connection, platform::kReceiveTimedOut when
  // none are there yet, -1 on a failure.
  int ReceiveNow(char* buffer, int size);

  // Sends `size` bytes, waiting up to `wait_ms` for each piece to go: the
  // count sent (less than `size` when the peer stopped taking them), or -1.
  int SendWithin(const char* bytes, int size, int wait_ms);

  // Our close_notify alert, if the socket takes it at once.
  void SayGoodbye();

  // The last failure, for the trace.
  std::wstring Failure() const { return failure_; }

 private:
  static int SendToSocket(void* self, const unsigned char* bytes, std::size_t size);
  static int ReceiveFromSocket(void* self, unsigned char* buffer, std::size_t size);
  void NoteFailure(int code);

  std::shared_ptr<const TlsCredentials> credentials_;
  platform::SocketHandle socket_;
  struct Context;
  std::unique_ptr<Context> context_;
  bool handshake_done_ = false;
  int send_wait_ms_ = 0;
  std::wstring failure_;
};

}  // namespace tls
