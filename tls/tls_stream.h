#pragma once
// TlsStream: one connection's TLS over its socket, as the server's stream.
// Its session (two record buffers) is made at the first Open, so that a
// connection that never sends costs none. The opening is the handshake;
// neither it nor the reading waits (the waiting room polls the socket). The
// sending waits as a plain send does, for each piece up to a limit; Finish
// sends our close_notify alert if the socket takes it at once.
#include <memory>
#include <string>

#include "http/stream.h"
#include "tls/tls_credentials.h"

namespace tls {

class TlsStream final : public Stream {
 public:
  TlsStream(std::shared_ptr<const TlsCredentials> credentials, platform::SocketHandle socket);
  ~TlsStream() override;

  Opening Open() override;
  bool Opened() const override { return handshake_done_; }
  int ReceiveNow(char* buffer, int size) override;
  int SendWithin(const char* bytes, int size, int wait_ms) override;
  void Finish() override;
  bool Secure() const override { return true; }
  std::wstring Failure() const override { return failure_; }

 private:
  bool MakeSession();
  static int SendToSocket(void* self, const unsigned char* bytes, std::size_t size);
  static int ReceiveFromSocket(void* self, unsigned char* buffer, std::size_t size);
  void NoteFailure(int code);

  std::shared_ptr<const TlsCredentials> credentials_;
  struct Context;
  std::unique_ptr<Context> context_;
  bool failed_ = false;
  bool handshake_done_ = false;
  int send_wait_ms_ = 0;
  std::wstring failure_;
};

// Makes a TlsStream with the same credentials for every connection.
class TlsStreamMaker final : public StreamMaker {
 public:
  explicit TlsStreamMaker(std::shared_ptr<const TlsCredentials> credentials)
      : credentials_(std::move(credentials)) {}
  std::unique_ptr<Stream> Make(platform::SocketHandle socket) const override {
    return std::make_unique<TlsStream>(credentials_, socket);
  }
  bool Secure() const override { return true; }

 private:
  std::shared_ptr<const TlsCredentials> credentials_;
};

}  // namespace tls
