#include "http/request_text.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "foundation/ascii_text.h"
#include "http/server_limits.h"

namespace {

// The body length a head announces: its first Content-Length line's decimal
// value, 0 without one. A value beyond the request limit stands for "more
// than may be read", which the limit then refuses.
std::size_t AnnouncedBodyLength(std::string_view head) {
  constexpr std::string_view kName = "content-length:";
  for (std::size_t start = head.find('\n'); start != std::string_view::npos;
       start = head.find('\n', start)) {
    std::string_view line = head.substr(++start);
    if (!ascii::StartsWithNoCase(line, kName)) continue;
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

}  // namespace

void RequestText::FindWholeLength() {
  // A head end found in the new bytes may begin up to three bytes back.
  const std::size_t from = searched_ > 3 ? searched_ - 3 : 0;
  const std::string_view text(text_);
  std::size_t end = text.find("\r\n\r\n", from);
  std::size_t blank = 4;
  const std::size_t bare = text.find("\n\n", from);
  if (bare != std::string_view::npos && (end == std::string_view::npos || bare < end)) {
    end = bare;
    blank = 2;
  }
  searched_ = text_.size();
  if (end == std::string_view::npos) return;
  head_ended_ = true;
  whole_length_ = end + blank + AnnouncedBodyLength(text.substr(0, end));
}

RequestText::State RequestText::Append(const char* piece, int length) {
  if (state_ != State::Incomplete || length <= 0) return state_;
  text_.append(piece, strnlen(piece, static_cast<std::size_t>(length)));
  received_ += length;
  if (text_.size() > kMaxRequestBytes) {
    state_ = State::TooLong;  // one client must not exhaust memory
    return state_;
  }
  if (!head_ended_) FindWholeLength();
  if (head_ended_ && text_.size() >= whole_length_) state_ = State::Complete;
  return state_;
}
