#include "platform/poller.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

struct Poller::State {
  int epoll = -1;
  int wake = -1;  // an eventfd: written by Wake, drained by Wait
  std::vector<epoll_event> events;
};

Poller::Poller() : state_(std::make_unique<State>()) {
  state_->epoll = epoll_create1(EPOLL_CLOEXEC);
  state_->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state_->epoll >= 0 && state_->wake >= 0) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = -1;  // the wake descriptor, never a socket's number
    if (epoll_ctl(state_->epoll, EPOLL_CTL_ADD, state_->wake, &event) != 0) {
      close(state_->wake);
      state_->wake = -1;
    }
  }
}

Poller::~Poller() {
  if (state_->epoll >= 0) close(state_->epoll);
  if (state_->wake >= 0) close(state_->wake);
}

bool Poller::Valid() const { return state_->epoll >= 0 && state_->wake >= 0; }

bool Poller::Add(SocketHandle s) {
  epoll_event event{};
  // RDHUP: a peer that closes its side is reported even when nothing is left to read.
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.fd = static_cast<int>(s);
  return epoll_ctl(state_->epoll, EPOLL_CTL_ADD, static_cast<int>(s), &event) == 0;
}

void Poller::Remove(SocketHandle s) {
  epoll_event unused{};
  epoll_ctl(state_->epoll, EPOLL_CTL_DEL, static_cast<int>(s), &unused);
}

int Poller::Wait(std::vector<SocketHandle>& ready, std::size_t max_ready, int timeout_ms) {
  ready.clear();
  if (max_ready == 0) max_ready = 1;
  state_->events.resize(max_ready);
  int count;
  do {
    count =
        epoll_wait(state_->epoll, state_->events.data(), static_cast<int>(max_ready), timeout_ms);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return -1;
  for (int i = 0; i < count; ++i) {
    const int fd = state_->events[static_cast<std::size_t>(i)].data.fd;
    if (fd == -1) {
      std::uint64_t wakes;
      [[maybe_unused]] ssize_t n = read(state_->wake, &wakes, sizeof wakes);
      continue;
    }
    ready.push_back(fd);
  }
  return static_cast<int>(ready.size());
}

void Poller::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(state_->wake, &one, sizeof one);
}

}  // namespace platform
