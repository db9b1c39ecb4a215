#include "http/request_text.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "http/server_limits.h"

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

RequestText::State RequestText::Append(const char* piece, int length) {
  if (state_ != State::Incomplete || length <= 0) return state_;
  text_.append(piece, strnlen(piece, static_cast<std::size_t>(length)));
  received_ += length;
  if (text_.size() > kMaxRequestBytes) {
    state_ = State::TooLong;  // one client must not exhaust memory
  } else {
    const std::size_t complete = CompleteLength(text_);
    if (complete != kNotYet && text_.size() >= complete) state_ = State::Complete;
  }
  return state_;
}
