#pragma once
// The open connections of the process, from accept until served or
// dismissed, against the cap (ServerTimeouts().max_connections, or the
// open-file limit less kDescriptorReserve). Every server's listener counts
// into the one count. Thread-safe.
#include <atomic>
#include <cstddef>

std::size_t ConnectionCap();
// Waits while the open connections are at the cap; false once `stop` is set
// (seen within kAcceptBackoffMs).
bool WaitBelowCap(const std::atomic<bool>& stop);
void ConnectionOpened();
// Whether the open connections are below the cap now. A worker's accept
// beside the listener's may then pass the cap by one.
bool BelowCap();
void ConnectionEnded();
