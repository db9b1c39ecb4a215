#pragma once
// The HTTP server's limits and waits. The waits are defaults that tests may
// shorten through ServerTimeouts(); the limits are fixed.
#include <cstddef>

inline constexpr int kReceiveChunk = 2047;               // bytes per receive call
inline constexpr std::size_t kMaxRequestBytes = 65536;   // longer requests get 400
inline constexpr std::size_t kDecodedPathBuffer = 2000;  // decoded path + terminator
inline constexpr std::size_t kMaxDrainBytes = 65536;     // discarded by the graceful close
inline constexpr int kAcceptBackoffMs = 100;             // after running out of descriptors
inline constexpr int kKeptIdleWorkers = 16;              // idle workers that never end
inline constexpr unsigned kMaxOpeningRooms = 8;          // threads that open streams (TLS)
// Streams that opened (TLS sessions) waiting in the rooms at most, shared
// among them: a TLS session holds up to about 40 KB (its record buffers), so
// half-finished handshakes hold at most about 40 MB. Past it a new one
// closes its room's oldest.
inline constexpr std::size_t kMaxOpeningStreams = 1024;
// Sockets in their graceful close (answer sent, waiting for the peer to
// close) at most: past it the oldest are closed at once. Twice this, when a
// burst comes while the draining thread waits.
inline constexpr std::size_t kMaxDrainingSockets = 32;
// Descriptors kept free below the open-file limit when the connection cap
// comes from it (files, the monitor, draining sockets, the poller's own).
inline constexpr std::size_t kDescriptorReserve = 2 * kMaxDrainingSockets + 32;
// The connection cap where the system sets no descriptor limit (Windows).
inline constexpr std::size_t kCapWithoutDescriptorLimit = 16384;

struct HttpTimeouts {
  int io_wait_ms = 10000;           // readable / writable waits of a worker
  int queue_mutex_ms = 10000;       // the listener's wait for the queue mutex
  int worker_mutex_ms = 5000;       // a worker's wait for the queue mutex (repeated)
  int drain_ms = 10000;             // the graceful close's wait for the peer
  int idle_worker_exit_ms = 30000;  // idle this long, a worker beyond the kept ones ends
  int request_deadline_ms = 30000;  // the whole request, from accept to its last byte
  // Open connections (waiting for their request or being served); at the
  // cap the listener accepts no more until one ends. 0: the open-file limit
  // less kDescriptorReserve.
  std::size_t max_connections = 0;
};

// Process-wide; set before the server starts.
HttpTimeouts& ServerTimeouts();
