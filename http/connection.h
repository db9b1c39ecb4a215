#pragma once
// Connection: an accepted connection on its way through the server, from
// the listener through the waiting room to a worker. Whoever holds it ends
// it: served and closed, or dismissed.
#include <cstdint>
#include <memory>
#include <string>

#include "http/stream.h"
#include "platform/net_address.h"

struct Connection {
  std::unique_ptr<Stream> stream;
  // The server it came to, by its serial in the live servers' registry:
  // a connection may outlive its server.
  std::uint64_t server_serial = 0;
  platform::IpAddress client;

  platform::SocketHandle Socket() const noexcept {
    return stream != nullptr ? stream->Socket() : platform::kNoSocket;
  }
};

// A connection whose request has arrived, or ended short of it: ready to be
// served.
struct ReadyConnection {
  Connection connection;
  std::string text;       // the request as received
  bool too_long = false;  // beyond kMaxRequestBytes: answered 400
  int received = 0;       // bytes received
};
