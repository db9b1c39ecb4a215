#pragma once
// A tiny blocking HTTP client over loopback, and a free-port finder. Test
// support only.
#include <string>

#include "platform/socket.h"

namespace testing_support {

// A port nothing listens on right now.
inline std::uint16_t FreePort() {
  platform::SocketsStartup();
  platform::SocketHandle s = platform::CreateTcpSocket();
  platform::BindAnyAddress(s, 0);
  std::uint16_t port = platform::LocalPort(s);
  platform::CloseSocket(s);
  return port;
}

// Reads until the server closes (at most `wait_ms` per read), and closes.
inline std::string ReceiveUntilClosed(platform::SocketHandle s, int wait_ms = 20000) {
  std::string response;
  char buffer[4096];
  while (platform::WaitReadable(s, wait_ms) == platform::WaitResult::Ready) {
    int n = platform::Receive(s, buffer, sizeof buffer);
    if (n <= 0) break;
    response.append(buffer, static_cast<std::size_t>(n));
  }
  platform::CloseSocket(s);
  return response;
}

// Sends `request` and reads until the server closes (at most `wait_ms` per
// read). Returns everything received.
inline std::string Exchange(std::uint16_t port, const std::string& request, int wait_ms = 20000) {
  platform::SocketsStartup();
  platform::SocketHandle s = platform::ConnectLoopback(port);
  if (s == platform::kNoSocket) return "<connect failed>";
  std::size_t sent = 0;
  while (sent < request.size()) {
    int n = platform::SendBytes(s, request.data() + sent, static_cast<int>(request.size() - sent));
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  return ReceiveUntilClosed(s, wait_ms);
}

inline std::string BodyOf(const std::string& response) {
  std::size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

}  // namespace testing_support
