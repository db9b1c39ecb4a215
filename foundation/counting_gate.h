#pragma once
// CountingGate: at most N holders at once; the rest wait, for a bounded
// time. For work whose cost must not grow with the number of clients that
// ask at once: a bcrypt (tens of milliseconds of CPU), a history answer
// (a few hundred KiB of memory).
//
// Thread safety: every call may come from any thread.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

class CountingGate {
 public:
  explicit CountingGate(unsigned slots) : free_(std::max(1u, slots)) {}
  // Takes a slot, waiting up to `wait_ms`; false when none came free.
  bool Enter(int wait_ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!freed_.wait_for(hold, std::chrono::milliseconds(wait_ms), [this] { return free_ > 0; })) {
      return false;
    }
    --free_;
    return true;
  }
  void Leave() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ++free_;
    }
    freed_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  unsigned free_;  // guarded by mutex_
};

// A slot held for a scope.
class GateSlot {
 public:
  GateSlot(CountingGate& gate, int wait_ms) : gate_(gate), held_(gate.Enter(wait_ms)) {}
  ~GateSlot() {
    if (held_) gate_.Leave();
  }
  GateSlot(const GateSlot&) = delete;
  GateSlot& operator=(const GateSlot&) = delete;
  bool Held() const { return held_; }

 private:
  CountingGate& gate_;
  bool held_;
};
