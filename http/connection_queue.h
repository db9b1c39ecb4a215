#pragma once
// The process-wide queue of accepted connections shared by every server and
// every worker: entries in arrival order behind a timed mutex, a manual-reset
// work event, and the count of idle workers.
#include <atomic>
#include <deque>
#include <mutex>

#include "http/connection.h"
#include "http/manual_reset_event.h"

struct ConnectionQueue {
  std::deque<ReadyConnection> entries;  // in arrival order, guarded by mutex
  std::timed_mutex mutex;
  ManualResetEvent work_event;
  std::atomic<int> idle_workers{0};
  std::atomic<int> workers{0};  // workers running (idle ones beyond a few end)
  // Workers that have sent their answer and will look at the queue before
  // they next wait, less those already counted on for a queued connection.
  // A connection queued while one is on its way needs no sleeper woken.
  std::atomic<int> finishing{0};
};

ConnectionQueue& TheConnectionQueue();
