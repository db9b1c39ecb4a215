// Reading the request text from the socket.
#include <cstring>

#include "foundation/conversions.h"
#include "http/debug_print.h"
#include "http/request.h"
#include "http/server_limits.h"
#include "platform/clock.h"

Request::Request(platform::SocketHandle socket, HTTPServer* server,
                 const platform::IpAddress& client)
    : start_time(platform::TickCount()), socket_(socket), client_(client), server_(server) {}

bool Request::ReadRequest() {
  const int wait_ms = ServerTimeouts().io_wait_ms;
  std::string text;
  char buffer[kReceiveChunk + 1];
  // The end of a request shows only as a short read or as silence: neither the
  // blank line nor Content-Length is looked at.
  for (bool first = true;; first = false) {
    std::memset(buffer, 0, sizeof buffer);
    int n = platform::ReceiveWithin(socket_, buffer, kReceiveChunk, wait_ms);
    if (n == platform::kReceiveTimedOut) {
      if (first) return false;  // nothing at all arrived: nothing is sent
      break;
    }
    if (n < 0) {
      wchar_t what[64];
      swprintf(what, 64, L"recv() on %d", static_cast<int>(socket_));
      DebugPrint(L"Winsock Error: %ls, err=%d", what, platform::SocketError());
      return false;
    }
    text.append(buffer, strnlen(buffer, static_cast<std::size_t>(n)));
    bytes_received += n;
    if (text.size() > kMaxRequestBytes) {
      SetErrorResponse(kStatusBadRequest);  // one client must not exhaust memory
      return true;
    }
    if (n != kReceiveChunk) break;
  }
  ParseRequest(text);
  return true;
}
