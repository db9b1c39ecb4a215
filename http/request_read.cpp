// Reading the request text from the socket.
#include <cctype>
#include <cstring>
#include <string_view>

#include "foundation/conversions.h"
#include "http/debug_print.h"
#include "http/request.h"
#include "http/server_limits.h"
#include "platform/clock.h"

namespace {

constexpr std::size_t kNotYet = std::string::npos;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// The body length a head announces: its first Content-Length line's decimal
// value, 0 without one. A value beyond the request limit stands for "more
// than may be read", which the limit then refuses.
std::size_t AnnouncedBodyLength(std::string_view head) {
  constexpr std::string_view kName = "content-length:";
  for (std::size_t start = head.find('\n'); start != std::string_view::npos;
       start = head.find('\n', start)) {
    std::string_view line = head.substr(++start);
    if (!StartsWithNoCase(line, kName)) continue;
    line.remove_prefix(kName.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    std::size_t length = 0;
    for (char c : line) {
      if (c < '0' || c > '9') break;
      length = length * 10 + static_cast<std::size_t>(c - '0');
      if (length > kMaxRequestBytes) return kMaxRequestBytes + 1;
    }
    return length;
  }
  return 0;
}

// How long the whole request is once its head has arrived (the head, its
// blank line and the announced body), or kNotYet while the head is still
// coming. A bare LF blank line ends a head too.
std::size_t CompleteLength(const std::string& text) {
  std::size_t end = text.find("\r\n\r\n");
  std::size_t blank = 4;
  const std::size_t bare = text.find("\n\n");
  if (bare != std::string::npos && (end == std::string::npos || bare < end)) {
    end = bare;
    blank = 2;
  }
  if (end == std::string::npos) return kNotYet;
  return end + blank + AnnouncedBodyLength(std::string_view(text).substr(0, end));
}

}  // namespace

Request::Request(platform::SocketHandle socket, HTTPServer* server,
                 const platform::IpAddress& client)
    : start_time(platform::TickCount()), socket_(socket), client_(client), server_(server) {}

bool Request::ReadRequest() {
  const int wait_ms = ServerTimeouts().io_wait_ms;
  std::string text;
  char buffer[kReceiveChunk + 1];
  // The request ends once its head and the body its Content-Length announces
  // have arrived, however many pieces they came in. A client that falls
  // silent, or closes its side, ends it with what it sent.
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
    if (n == 0) break;  // the peer closed its side
    text.append(buffer, strnlen(buffer, static_cast<std::size_t>(n)));
    bytes_received += n;
    if (text.size() > kMaxRequestBytes) {
      SetErrorResponse(kStatusBadRequest);  // one client must not exhaust memory
      return true;
    }
    const std::size_t complete = CompleteLength(text);
    if (complete != kNotYet && text.size() >= complete) break;
  }
  ParseRequest(text);
  return true;
}
