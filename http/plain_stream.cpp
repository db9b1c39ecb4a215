#include "http/plain_stream.h"

#include <string>

#include "platform/socket.h"

int PlainStream::ReceiveNow(char* buffer, int size) {
  return platform::ReceiveWithin(Socket(), buffer, size, 0);
}

int PlainStream::SendWithin(const char* bytes, int size, int wait_ms) {
  int sent = 0;
  for (;;) {
    const int left = size - sent;
    const int chunk = left < platform::kSendPieceBytes ? left : platform::kSendPieceBytes;
    // A client that takes nothing for the whole wait ends the sending. Every
    // piece is followed by more: the next piece, or for the last one the end
    // of stream that the graceful close sends at once, which then leaves in
    // the same packet as the last bytes.
    const int n = platform::SendWithin(Socket(), bytes + sent, chunk, wait_ms, true);
    if (n > 0) sent += n;
    // A short chunk ends the sending; an answer of whole chunks ends with an
    // empty one.
    if (n < 0) return sent > 0 ? sent : -1;
    if ((n == 0 && chunk > 0) || chunk < platform::kSendPieceBytes) return sent;
  }
}

std::wstring PlainStream::Failure() const {
  return L"socket error " + std::to_wstring(platform::SocketError());
}
