#pragma once
// Poller: which of many sockets have something to read, in one wait, from
// one thread: epoll on Linux, WSAPoll on Windows. The sockets stay as they
// are (blocking); the poller only says which ones a receive will not block
// on: data, the peer's end of stream, or an error to collect.
//
// Linux: level-triggered epoll (a socket with unread bytes is reported
// again at the next wait), woken from other threads through an eventfd.
// Windows: WSAPoll over the registered sockets, woken through a UDP socket
// on loopback that sends itself a byte. WSAPoll is chosen over I/O
// completion ports because it keeps the same readiness model as epoll (no
// overlapped buffers per connection) and wine implements it faithfully; its
// cost grows with the number of sockets per wait, which stays in the low
// thousands on the desktop systems it serves.
//
// Thread safety: Add, Remove and Wait belong to one thread; Wake may be
// called from any thread.
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/socket.h"

namespace platform {

class Poller {
 public:
  Poller();
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // False when the system refused the poller's own resources.
  bool Valid() const;
  // Watches `s` for reading; false when the system refuses (then it is not
  // watched). A socket is added once.
  bool Add(SocketHandle s);
  // Stops watching `s` (before it is closed or given to another thread).
  void Remove(SocketHandle s);
  // Waits up to `timeout_ms` (-1: no limit) for readable sockets or a Wake.
  // `ready` receives the readable sockets (at most `max_ready`); returns
  // their count, 0 after the wait or a wake, -1 on failure.
  int Wait(std::vector<SocketHandle>& ready, std::size_t max_ready, int timeout_ms);
  // Ends the current or the next Wait early.
  void Wake();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
