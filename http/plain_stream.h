#pragma once
// PlainStream: a connection's bytes as they cross the socket. Open at once;
// an answer goes in pieces of platform::kSendPieceBytes, each waiting for the
// peer up to the send wait.
#include "http/stream.h"

class PlainStream final : public Stream {
 public:
  using Stream::Stream;
  Opening Open() override { return Opening::Done; }
  bool Opened() const override { return true; }
  int ReceiveNow(char* buffer, int size) override;
  int SendWithin(const char* bytes, int size, int wait_ms) override;
  void Finish() override {}
  bool Secure() const override { return false; }
  std::wstring Failure() const override;
};

class PlainStreamMaker final : public StreamMaker {
 public:
  std::unique_ptr<Stream> Make(platform::SocketHandle socket) const override {
    return std::make_unique<PlainStream>(socket);
  }
  bool Secure() const override { return false; }
};
