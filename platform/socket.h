#pragma once
// TCP sockets for the HTTP server: Winsock 2 on Windows, BSD sockets on Linux.
//
// Linux differences, each for a reason:
// - waits use poll, never select (select cannot watch a descriptor numbered
//   1024 or above, and the agent holds one descriptor per connection);
// - every descriptor is close-on-exec, so a started monitor inherits none;
// - send uses MSG_NOSIGNAL: a client that closed early must not raise SIGPIPE;
// - the listening socket has SO_REUSEADDR, so a restart binds at once while
//   old connections sit in TIME_WAIT (Windows sets no socket options);
// - it also has TCP_DEFER_ACCEPT (1 s): accept hands over a connection once
//   its first bytes have arrived, so a worker does not sleep once more
//   waiting for them. A client that sends nothing is handed over after about
//   a second or two all the same, and then gets the usual read wait;
// - StopListening shuts the socket down before closing it, because closing
//   alone does not wake a thread blocked in accept.
// Error codes are Winsock codes on Windows (10048: address in use) and errno
// values on Linux (98).
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net_address.h"

namespace platform {

using SocketHandle = std::int64_t;
inline constexpr SocketHandle kNoSocket = -1;

enum class WaitResult { Ready, Timeout, Failed };

// WSAStartup 2.0 (false when it fails or grants another version); on Linux
// raises the soft open-file limit to the hard one and returns true.
bool SocketsStartup();
void SocketsCleanup();
// The open-file limit (after SocketsStartup raised it), or 0 where the
// system sets none (Windows: sockets are limited only by memory).
std::size_t OpenFileLimit();

// An IPv4 socket, or an IPv6 one when `v6` (then dual-stack: IPV6_V6ONLY is
// switched off on both systems, so it also takes IPv4 clients).
SocketHandle CreateTcpSocket(bool v6 = false);
// All IPv4 interfaces.
bool BindAnyAddress(SocketHandle s, std::uint16_t port);
// One address (of the socket's family), with the same options as above.
bool BindAddress(SocketHandle s, const IpAddress& address, std::uint16_t port);
bool ListenOn(SocketHandle s, int backlog);
// Accepts one connection, waiting for it; kNoSocket on failure (SocketError
// tells why). `client`, when given, gets the peer's address.
SocketHandle AcceptConnection(SocketHandle listener, IpAddress* client = nullptr);
// Whether AcceptWaiting can take a connection without ever blocking: on
// Linux a listening socket never blocks (AcceptConnection waits for it), so
// a thread with nothing to do may take the next connection itself. Windows
// listens as it always has, and there only the listener accepts.
#ifdef _WIN32
inline constexpr bool kAcceptsWithoutWaiting = false;
#else
inline constexpr bool kAcceptsWithoutWaiting = true;
#endif
// A connection that is already waiting to be accepted, or kNoSocket at once
// (always kNoSocket without kAcceptsWithoutWaiting).
SocketHandle AcceptWaiting(SocketHandle listener, IpAddress* client = nullptr);

// Switches Nagle's algorithm off (Linux; nothing on Windows, which sets no
// socket options): an answer sent in several pieces (TLS records) would
// otherwise have each piece held back until the previous one is acknowledged.
void SendPiecesAtOnce(SocketHandle s);
int SocketError();
// EMFILE, ENFILE, ENOBUFS, ENOMEM and their Winsock twins: the system is out
// of descriptors or buffers, and retrying at once would only spin.
bool IsResourceShortage(int error);
// What a failed bind or listen means to a person: the port taken by another
// program (EADDRINUSE, WSAEADDRINUSE), an address this machine does not have
// (EADDRNOTAVAIL, WSAEADDRNOTAVAIL), or something else.
enum class ListenFailure { PortInUse, AddressNotAvailable, Other };
ListenFailure ClassifyListenError(int error);

WaitResult WaitReadable(SocketHandle s, int timeout_ms);
WaitResult WaitWritable(SocketHandle s, int timeout_ms);
// Waits up to `timeout_ms` until any of `count` sockets is readable (data,
// the peer's end of stream, or an error to collect). Marks each in `readable`
// and returns how many are, 0 after the wait, -1 on failure. poll on Linux,
// WSAPoll on Windows: neither limits the socket numbers or the count.
int WaitAnyReadable(const SocketHandle* sockets, bool* readable, std::size_t count, int timeout_ms);
// Both return the byte count, or -1 on error.
int Receive(SocketHandle s, char* buffer, int length);
int SendBytes(SocketHandle s, const char* bytes, int length);

// Sends what the socket takes within `timeout_ms`: the byte count, 0 when the
// peer took nothing in that time, -1 on error. Linux tries first and waits
// only when the socket is full (one system call in the common case);
// Windows waits for writability first. `more_follows` tells Linux that the
// next send, or a shutdown of sending, continues this one (MSG_MORE), so the
// pieces of one answer and its end of stream leave together instead of as
// one small packet each; Windows ignores it. The bytes wait for what follows
// (at most 200 ms), so it follows at once.
int SendWithin(SocketHandle s, const char* bytes, int length, int timeout_ms,
               bool more_follows = false);
// The most bytes an answer hands SendWithin at a time. Windows sends on a
// blocking socket once the wait found room, so a larger piece than that room
// could block past the wait: 1024 bytes a call. Linux never blocks in a send
// and waits between its own sends, so an answer goes whole, in one system
// call while the socket has room.
#ifdef _WIN32
inline constexpr int kSendPieceBytes = 1024;
#else
inline constexpr int kSendPieceBytes = 1 << 30;
#endif

// Receives what has arrived, waiting up to `timeout_ms` for the first byte:
// the byte count (0 when the peer closed), kReceiveTimedOut, or -1 on error.
// Linux tries first and waits only when nothing is there yet.
inline constexpr int kReceiveTimedOut = -2;
int ReceiveWithin(SocketHandle s, char* buffer, int length, int timeout_ms);

enum class ShutdownHow { Send = 1, Both = 2 };
void ShutdownSocket(SocketHandle s, ShutdownHow how);
void CloseSocket(SocketHandle s);
// Closes with a reset (SO_LINGER of 0) instead of an end of stream.
void AbortSocket(SocketHandle s);
// The stop step for a listening socket: wakes a blocked accept, then closes.
void StopListening(SocketHandle s);

// The port the services database gives for `service` over TCP, or 0.
std::uint16_t ServicePort(const char* service);
// The host name (empty on failure) and its first IPv4 address in dotted form
// (empty when it cannot be resolved).
std::string HostName();
std::string HostAddress();
// Connects to 127.0.0.1:port (blocking); kNoSocket on failure. For tests,
// benchmarks and the agent's own checks.
SocketHandle ConnectLoopback(std::uint16_t port);

// The local port a socket is bound to (0 on failure); for tests and traces.
std::uint16_t LocalPort(SocketHandle s);

}  // namespace platform
