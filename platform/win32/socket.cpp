#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

namespace platform {
namespace {

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

WaitResult WaitFor(SocketHandle s, bool write, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Sock(s), &set);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  int rc = select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &timeout);
  if (rc > 0) return WaitResult::Ready;
  return rc == 0 ? WaitResult::Timeout : WaitResult::Failed;
}

}  // namespace

bool SocketsStartup() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
  if (data.wVersion != MAKEWORD(2, 0)) {
    WSACleanup();
    return false;
  }
  return true;
}

void SocketsCleanup() { WSACleanup(); }

SocketHandle CreateTcpSocket(bool v6) {
  SOCKET s = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s != INVALID_SOCKET && v6) {
    // Windows makes IPv6 sockets IPv6-only unless told otherwise.
    DWORD off = 0;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
  }
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

std::size_t OpenFileLimit() { return 0; }

bool BindAnyAddress(SocketHandle s, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  return bind(Sock(s), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool BindAddress(SocketHandle s, const IpAddress& ip, std::uint16_t port) {
  if (!ip.v6) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr, ip.bytes.data(), 4);
    address.sin_port = htons(port);
    return bind(Sock(s), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  std::memcpy(&address.sin6_addr, ip.bytes.data(), 16);
  address.sin6_port = htons(port);
  return bind(Sock(s), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool ListenOn(SocketHandle s, int backlog) { return listen(Sock(s), backlog) == 0; }

SocketHandle AcceptConnection(SocketHandle listener, IpAddress* client) {
  sockaddr_storage peer{};
  int length = sizeof peer;
  SOCKET s = accept(Sock(listener), reinterpret_cast<sockaddr*>(&peer), &length);
  if (s != INVALID_SOCKET && client != nullptr) {
    *client = IpAddress();
    if (peer.ss_family == AF_INET6) {
      client->v6 = true;
      std::memcpy(client->bytes.data(), &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, 16);
    } else if (peer.ss_family == AF_INET) {
      std::memcpy(client->bytes.data(), &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, 4);
    }
  }
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

SocketHandle AcceptWaiting(SocketHandle, IpAddress*) {
  WSASetLastError(WSAEWOULDBLOCK);
  return kNoSocket;
}

int SocketError() { return WSAGetLastError(); }

bool IsResourceShortage(int error) { return error == WSAEMFILE || error == WSAENOBUFS; }

ListenFailure ClassifyListenError(int error) {
  if (error == WSAEADDRINUSE) return ListenFailure::PortInUse;
  if (error == WSAEADDRNOTAVAIL) return ListenFailure::AddressNotAvailable;
  return ListenFailure::Other;
}

WaitResult WaitReadable(SocketHandle s, int timeout_ms) { return WaitFor(s, false, timeout_ms); }
WaitResult WaitWritable(SocketHandle s, int timeout_ms) { return WaitFor(s, true, timeout_ms); }

int WaitAnyReadable(const SocketHandle* sockets, bool* readable, std::size_t count,
                    int timeout_ms) {
  std::vector<WSAPOLLFD> polled(count);
  for (std::size_t i = 0; i < count; ++i) polled[i] = WSAPOLLFD{Sock(sockets[i]), POLLRDNORM, 0};
  int rc = WSAPoll(polled.data(), static_cast<ULONG>(count), timeout_ms);
  for (std::size_t i = 0; i < count; ++i) readable[i] = rc > 0 && polled[i].revents != 0;
  return rc == SOCKET_ERROR ? -1 : rc;
}

int Receive(SocketHandle s, char* buffer, int length) {
  int n = recv(Sock(s), buffer, length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int SendBytes(SocketHandle s, const char* bytes, int length) {
  int n = send(Sock(s), bytes, length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int SendWithin(SocketHandle s, const char* bytes, int length, int timeout_ms, bool) {
  WaitResult ready = WaitFor(s, true, timeout_ms);
  if (ready == WaitResult::Timeout) return 0;
  if (ready == WaitResult::Failed) return -1;
  return SendBytes(s, bytes, length);
}

void SendPiecesAtOnce(SocketHandle) {}

int ReceiveWithin(SocketHandle s, char* buffer, int length, int timeout_ms) {
  WaitResult ready = WaitFor(s, false, timeout_ms);
  if (ready == WaitResult::Timeout) return kReceiveTimedOut;
  if (ready == WaitResult::Failed) return -1;
  return Receive(s, buffer, length);
}

void ShutdownSocket(SocketHandle s, ShutdownHow how) {
  shutdown(Sock(s), how == ShutdownHow::Send ? SD_SEND : SD_BOTH);
}

void CloseSocket(SocketHandle s) { closesocket(Sock(s)); }

void AbortSocket(SocketHandle s) {
  linger reset{1, 0};
  setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
  closesocket(Sock(s));
}

void StopListening(SocketHandle s) { closesocket(Sock(s)); }

std::uint16_t ServicePort(const char* service) {
  servent* entry = getservbyname(service, "tcp");
  return entry == nullptr ? 0 : ntohs(static_cast<u_short>(entry->s_port));
}

std::string HostName() {
  char name[256] = {};
  return gethostname(name, sizeof name) == 0 ? std::string(name) : std::string();
}

std::string HostAddress() {
  char name[128] = {};
  if (gethostname(name, sizeof name) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return {};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(result);
  return text;
}

SocketHandle ConnectLoopback(std::uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<SocketHandle>(s);
}

std::uint16_t LocalPort(SocketHandle s) {
  sockaddr_in address{};
  int length = sizeof address;
  if (getsockname(Sock(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace platform
