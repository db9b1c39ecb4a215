#pragma once
// Stream: the bytes of one accepted connection, as the server reads its
// request and sends its answer. A plain socket is one (http/plain_stream.h);
// TLS over a socket is another, made outside this folder. The server never
// learns which, but for Secure().
//
// A stream refers to its socket and never closes it: the server ends every
// connection with its graceful close. Used by one thread at a time: the
// waiting room's, then a worker's.
#include <memory>
#include <string>

#include "platform/socket.h"

class Stream {
 public:
  explicit Stream(platform::SocketHandle socket) : socket_(socket) {}
  virtual ~Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  platform::SocketHandle Socket() const noexcept { return socket_; }

  // A stream may open with an exchange of its own (a TLS handshake) before
  // it carries bytes. Open takes it as far as the bytes that have arrived
  // allow, without waiting. Until Opened, Receive and Send fail.
  enum class Opening { Done, Waiting, Failed };
  virtual Opening Open() = 0;
  virtual bool Opened() const = 0;

  // The bytes that have arrived, without waiting: their count, 0 when the
  // peer ended the connection, platform::kReceiveTimedOut when none are
  // there yet, -1 on a failure. A stream may hold bytes that its socket no
  // longer shows as readable, so a reader that stops before the stream runs
  // dry must come back without waiting for the socket.
  virtual int ReceiveNow(char* buffer, int size) = 0;

  // Sends the whole answer, waiting up to `wait_ms` for each piece to go:
  // the count sent (less than `size` when the peer stopped taking them), or
  // -1. Then Finish says the stream's own goodbye, if it has one, without
  // waiting.
  virtual int SendWithin(const char* bytes, int size, int wait_ms) = 0;
  virtual void Finish() = 0;

  // Whether the bytes are protected on the wire.
  virtual bool Secure() const = 0;
  // The last failure, for the trace.
  virtual std::wstring Failure() const = 0;

 private:
  platform::SocketHandle socket_;
};

// Makes the stream of each accepted connection; shared by the listener and
// the rooms, so it is used from several threads at once.
class StreamMaker {
 public:
  virtual ~StreamMaker() = default;
  virtual std::unique_ptr<Stream> Make(platform::SocketHandle socket) const = 0;
  // Whether its streams are Secure.
  virtual bool Secure() const = 0;
};
