#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace platform {
namespace {

int Fd(SocketHandle s) { return static_cast<int>(s); }

WaitResult WaitFor(SocketHandle s, short events, int timeout_ms) {
  pollfd p{Fd(s), events, 0};
  for (;;) {
    int rc = poll(&p, 1, timeout_ms);
    if (rc > 0) return WaitResult::Ready;  // errors and hang-ups show in the next call
    if (rc == 0) return WaitResult::Timeout;
    if (errno != EINTR) return WaitResult::Failed;
  }
}

IpAddress FromSockaddr(const sockaddr_storage& peer) {
  IpAddress ip;
  if (peer.ss_family == AF_INET6) {
    ip.v6 = true;
    std::memcpy(ip.bytes.data(), &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, 16);
  } else if (peer.ss_family == AF_INET) {
    std::memcpy(ip.bytes.data(), &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, 4);
  }
  return ip;
}

}  // namespace

bool SocketsStartup() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  return true;
}

void SocketsCleanup() {}

std::size_t OpenFileLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return static_cast<std::size_t>(limit.rlim_cur);
}

SocketHandle CreateTcpSocket(bool v6) {
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd >= 0 && v6) {
    int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  }
  return fd < 0 ? kNoSocket : fd;
}

namespace {

bool BindWithOptions(SocketHandle s, const sockaddr* address, socklen_t length) {
  int on = 1;
  setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Connections are accepted once their request has begun to arrive.
  int defer_seconds = 1;
  setsockopt(Fd(s), IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer_seconds, sizeof defer_seconds);
  return bind(Fd(s), address, length) == 0;
}

}  // namespace

bool BindAnyAddress(SocketHandle s, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  return BindWithOptions(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

bool BindAddress(SocketHandle s, const IpAddress& ip, std::uint16_t port) {
  if (!ip.v6) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr, ip.bytes.data(), 4);
    address.sin_port = htons(port);
    return BindWithOptions(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  std::memcpy(&address.sin6_addr, ip.bytes.data(), 16);
  address.sin6_port = htons(port);
  return BindWithOptions(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

// Non-blocking, so that AcceptWaiting never waits; AcceptConnection waits
// in poll instead. Accepted sockets do not inherit it.
bool ListenOn(SocketHandle s, int backlog) {
  if (listen(Fd(s), backlog) != 0) return false;
  const int flags = fcntl(Fd(s), F_GETFL);
  return flags >= 0 && fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

SocketHandle AcceptWaiting(SocketHandle listener, IpAddress* client) {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(Fd(listener), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd >= 0) {
      if (client != nullptr) *client = FromSockaddr(peer);
      return fd;
    }
    if (errno != EINTR) return kNoSocket;
  }
}

SocketHandle AcceptConnection(SocketHandle listener, IpAddress* client) {
  for (;;) {
    const SocketHandle accepted = AcceptWaiting(listener, client);
    if (accepted != kNoSocket || (errno != EAGAIN && errno != EWOULDBLOCK)) return accepted;
    // Another thread may take the connection first: then this waits again.
    // StopListening's shutdown ends the wait, and the accept then fails.
    pollfd polled{Fd(listener), POLLIN, 0};
    if (poll(&polled, 1, -1) < 0 && errno != EINTR) return kNoSocket;
  }
}

int SocketError() { return errno; }

ListenFailure ClassifyListenError(int error) {
  if (error == EADDRINUSE) return ListenFailure::PortInUse;
  if (error == EADDRNOTAVAIL) return ListenFailure::AddressNotAvailable;
  return ListenFailure::Other;
}

bool IsResourceShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

WaitResult WaitReadable(SocketHandle s, int timeout_ms) { return WaitFor(s, POLLIN, timeout_ms); }
WaitResult WaitWritable(SocketHandle s, int timeout_ms) { return WaitFor(s, POLLOUT, timeout_ms); }

int WaitAnyReadable(const SocketHandle* sockets, bool* readable, std::size_t count,
                    int timeout_ms) {
  std::vector<pollfd> polled(count);
  for (std::size_t i = 0; i < count; ++i) polled[i] = pollfd{Fd(sockets[i]), POLLIN, 0};
  int rc;
  do {
    rc = poll(polled.data(), static_cast<nfds_t>(count), timeout_ms);
  } while (rc < 0 && errno == EINTR);
  for (std::size_t i = 0; i < count; ++i) readable[i] = rc > 0 && polled[i].revents != 0;
  return rc;
}

int Receive(SocketHandle s, char* buffer, int length) {
  for (;;) {
    ssize_t n = recv(Fd(s), buffer, static_cast<size_t>(length), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

int SendBytes(SocketHandle s, const char* bytes, int length) {
  for (;;) {
    ssize_t n = send(Fd(s), bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}

int SendWithin(SocketHandle s, const char* bytes, int length, int timeout_ms, bool more_follows) {
  int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (more_follows ? MSG_MORE : 0);
  // Like a blocking send, all bytes go unless the peer stops taking them.
  int sent = 0;
  while (sent < length || length == 0) {
    ssize_t n = send(Fd(s), bytes + sent, static_cast<size_t>(length - sent), flags);
    if (n >= 0) {
      sent += static_cast<int>(n);
      if (length == 0) break;
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return sent > 0 ? sent : -1;
    if (WaitFor(s, POLLOUT, timeout_ms) != WaitResult::Ready) break;
  }
  return sent;
}

void SendPiecesAtOnce(SocketHandle s) {
  int on = 1;
  setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int ReceiveWithin(SocketHandle s, char* buffer, int length, int timeout_ms) {
  for (bool waited = false;;) {
    ssize_t n = recv(Fd(s), buffer, static_cast<size_t>(length), MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || waited) return waited ? kReceiveTimedOut : -1;
    if (WaitFor(s, POLLIN, timeout_ms) != WaitResult::Ready) return kReceiveTimedOut;
    waited = true;
  }
}

void ShutdownSocket(SocketHandle s, ShutdownHow how) {
  shutdown(Fd(s), how == ShutdownHow::Send ? SHUT_WR : SHUT_RDWR);
}

void CloseSocket(SocketHandle s) { close(Fd(s)); }

void AbortSocket(SocketHandle s) {
  linger reset{1, 0};
  setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(Fd(s));
}

void StopListening(SocketHandle s) {
  shutdown(Fd(s), SHUT_RDWR);
  close(Fd(s));
}

std::uint16_t ServicePort(const char* service) {
  servent entry;
  servent* found = nullptr;
  char buffer[1024];
  if (getservbyname_r(service, "tcp", &entry, buffer, sizeof buffer, &found) != 0 || !found) {
    return 0;
  }
  return ntohs(static_cast<std::uint16_t>(found->s_port));
}

std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name) == 0 ? std::string(name) : std::string();
}

std::string HostAddress() {
  std::string name = HostName();
  if (name.empty()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return {};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(result);
  return text;
}

SocketHandle ConnectLoopback(std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return kNoSocket;
  }
  return fd;
}

std::uint16_t LocalPort(SocketHandle s) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace platform
