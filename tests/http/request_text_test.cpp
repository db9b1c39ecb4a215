#include "http/request_text.h"

#include <gtest/gtest.h>

#include <string>

#include "http/server_limits.h"

namespace {

// Appends `text` in pieces of `size` bytes; returns the state after each.
std::string StatesInPieces(const std::string& text, std::size_t size, RequestText& request) {
  std::string states;
  for (std::size_t at = 0; at < text.size(); at += size) {
    const std::string piece = text.substr(at, size);
    const RequestText::State state = request.Append(piece.data(), static_cast<int>(piece.size()));
    states += state == RequestText::State::Complete  ? 'C'
              : state == RequestText::State::TooLong ? 'L'
                                                     : '.';
  }
  return states;
}

// However a request is split, it is whole exactly when its last byte
// arrives, and its text is the same.
TEST(RequestTextTest, WholeAtTheSameByteInPiecesOfAnySize) {
  struct Case {
    std::string text;
    std::size_t whole_at;  // bytes after which it is whole
  };
  const Case cases[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", 27},
      {"GET / HTTP/1.1\nHost: a\n\n", 24},
      {"GET / HTTP/1.1\r\n\nx", 17},  // a bare blank line before CR LF CR LF
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcde", 43},
      {"POST / HTTP/1.1\r\ncontent-length:\t3\n\nxyz", 39},
  };
  for (const Case& c : cases) {
    for (std::size_t size : {1, 2, 3, 4, 7, 1000}) {
      RequestText request;
      const std::string states = StatesInPieces(c.text, size, request);
      const std::size_t whole_piece = (c.whole_at + size - 1) / size;  // 1-based
      EXPECT_EQ(states.find('C'), whole_piece - 1) << c.text << " in " << size;
      EXPECT_EQ(request.text(), c.text.substr(0, whole_piece * size)) << c.text << " in " << size;
    }
  }
}

TEST(RequestTextTest, AHeadWithoutEndIsTooLongPastTheLimit) {
  RequestText request;
  const std::string line = "X: " + std::string(60, 'y') + "\r\n";
  RequestText::State state = RequestText::State::Incomplete;
  while (state == RequestText::State::Incomplete) {
    state = request.Append(line.data(), static_cast<int>(line.size()));
  }
  EXPECT_EQ(state, RequestText::State::TooLong);
  EXPECT_GT(request.text().size(), kMaxRequestBytes);
  EXPECT_LE(request.text().size(), kMaxRequestBytes + line.size());
}

}  // namespace
