#include "platform/poller.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace

struct Poller::State {
  SOCKET wake = INVALID_SOCKET;  // UDP on loopback, bound to itself
  sockaddr_in wake_address{};
  std::vector<WSAPOLLFD> polled;                           // [0] is the wake socket
  std::unordered_map<SocketHandle, std::size_t> position;  // index in polled
};

Poller::Poller() : state_(std::make_unique<State>()) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  SOCKET wake = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (wake == INVALID_SOCKET) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long non_blocking = 1;
  if (bind(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(wake, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ioctlsocket(wake, FIONBIO, &non_blocking) != 0) {
    closesocket(wake);
    return;
  }
  state_->wake = wake;
  state_->wake_address = address;
  state_->polled.push_back(WSAPOLLFD{wake, POLLRDNORM, 0});
}

Poller::~Poller() {
  if (state_->wake != INVALID_SOCKET) {
    closesocket(state_->wake);
    WSACleanup();
  }
}

bool Poller::Valid() const { return state_->wake != INVALID_SOCKET; }

bool Poller::Add(SocketHandle s) {
  if (state_->position.count(s) != 0) return false;
  state_->position[s] = state_->polled.size();
  state_->polled.push_back(WSAPOLLFD{Sock(s), POLLRDNORM, 0});
  return true;
}

void Poller::Remove(SocketHandle s) {
  auto found = state_->position.find(s);
  if (found == state_->position.end()) return;
  // The last entry takes the removed one's place.
  const std::size_t index = found->second;
  const WSAPOLLFD last = state_->polled.back();
  state_->polled[index] = last;
  state_->position[static_cast<SocketHandle>(last.fd)] = index;
  state_->polled.pop_back();
  state_->position.erase(s);
}

int Poller::Wait(std::vector<SocketHandle>& ready, std::size_t max_ready, int timeout_ms) {
  ready.clear();
  for (WSAPOLLFD& entry : state_->polled) entry.revents = 0;
  const int count =
      WSAPoll(state_->polled.data(), static_cast<ULONG>(state_->polled.size()), timeout_ms);
  if (count == SOCKET_ERROR) return -1;
  if (state_->polled[0].revents != 0) {
    char drained[64];
    while (recv(state_->wake, drained, sizeof drained, 0) > 0) {
    }
  }
  for (std::size_t i = 1; i < state_->polled.size() && ready.size() < max_ready; ++i) {
    // POLLHUP and POLLERR come without POLLRDNORM: a receive then reports them.
    if (state_->polled[i].revents != 0) ready.push_back(state_->polled[i].fd);
  }
  return static_cast<int>(ready.size());
}

void Poller::Wake() {
  const char one = 1;
  sendto(state_->wake, &one, 1, 0, reinterpret_cast<const sockaddr*>(&state_->wake_address),
         sizeof state_->wake_address);
}

}  // namespace platform
