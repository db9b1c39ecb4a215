#pragma once
// BcryptGate: at most one bcrypt per processor at a time. A bcrypt is tens
// of milliseconds of CPU, so without a gate a burst of wrong passwords
// would take every core and start a worker each; through the gate the rest
// wait, for a bounded time, and the other answers go on.
//
// Thread safety: every call may come from any thread.
#include <condition_variable>
#include <mutex>

class BcryptGate {
 public:
  explicit BcryptGate(unsigned slots);
  // Takes a slot, waiting up to `wait_ms`; false when none came free.
  bool Enter(int wait_ms);
  void Leave();

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  unsigned free_;  // guarded by mutex_
};

// A slot held for a scope.
class BcryptSlot {
 public:
  BcryptSlot(BcryptGate& gate, int wait_ms) : gate_(gate), held_(gate.Enter(wait_ms)) {}
  ~BcryptSlot() {
    if (held_) gate_.Leave();
  }
  BcryptSlot(const BcryptSlot&) = delete;
  BcryptSlot& operator=(const BcryptSlot&) = delete;
  bool Held() const { return held_; }

 private:
  BcryptGate& gate_;
  bool held_;
};
