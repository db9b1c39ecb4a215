#pragma once
// RequestText: a request's text as its pieces arrive. The request is whole
// once its head has ended (CR LF CR LF, or a bare LF LF) and the body its
// first Content-Length line announces has arrived, however many pieces they
// came in. Past kMaxRequestBytes it is too long (answered 400).
#include <string>

class RequestText {
 public:
  enum class State { Incomplete, Complete, TooLong };

  // Adds `length` received bytes; as before, a piece ends at its first NUL.
  State Append(const char* piece, int length);
  State state() const { return state_; }
  const std::string& text() const { return text_; }
  std::string Take() { return std::move(text_); }
  // Bytes received, NULs and all (the trace counts them).
  int received() const { return received_; }

 private:
  // Finds where the head ends, looking only at bytes not searched before,
  // so that a request costs time in proportion to its length however
  // finely it is split.
  void FindWholeLength();

  std::string text_;
  int received_ = 0;
  State state_ = State::Incomplete;
  std::size_t searched_ = 0;      // bytes of text_ known to hold no head end
  std::size_t whole_length_ = 0;  // head, blank line and body, once known
  bool head_ended_ = false;
};
