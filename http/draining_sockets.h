#pragma once
// The end of the graceful close. A connection whose sending side is shut down
// waits here until its peer closes too: one thread discards whatever the peer
// still sends, and closes each socket when the peer has closed, after
// kMaxDrainBytes discarded, or after the drain wait. A worker therefore hands
// its connection over and goes back to the queue instead of sleeping until
// the client has read the answer; and the thread wakes once for the many
// sockets whose peers closed meanwhile. At most kMaxDrainingSockets wait
// (twice that during a burst); past it the oldest are closed at once.
#include <cstdint>

#include "platform/socket.h"

// Takes over `socket` (sending side already shut down). False when the
// thread cannot be started; the caller then drains and closes it itself.
bool HandOverForDraining(platform::SocketHandle socket);

// Discards what the peer sends until it closes, kMaxDrainBytes have gone, or
// the drain wait is over (counted from `started`); then closes the socket.
// Waits on the calling thread.
void DrainAndClose(platform::SocketHandle socket, std::uint32_t started);

// The graceful close: shut down sending, discard what the peer still sends
// (bounded in time and bytes), shut down both ways, close. Everything after
// the first step happens on the draining thread, so the caller never waits
// for the peer.
void CloseGracefully(platform::SocketHandle socket);

// The start of the graceful close: our end of stream, then the socket goes
// to the draining thread. False when it could not be handed over and the
// caller must drain it itself (DrainAndClose).
bool CloseWithoutWaiting(platform::SocketHandle socket);
