#pragma once
// A manual-reset event: once Set it stays signalled, letting every waiter
// through, until Reset. Set wakes one sleeping waiter rather than all: each
// Set stands for one queued connection, and waking every idle worker for it
// only makes them fight over the queue. Any Wait while signalled passes.
//
// The state is an atomic flag and sleepers wait on a semaphore, so nothing
// here takes a lock: under load the listener and the workers would otherwise
// queue up on the event's mutex. A release meant for a waiter that saw the
// flag on its own stays in the semaphore; whoever takes it later looks at
// the flag and, finding it reset, sleeps again.
#include <atomic>

#include "platform/clock.h"
#include "platform/wake_semaphore.h"

class ManualResetEvent {
 public:
  void Set() {
    signalled_.store(true);
    // A waiter counts itself before it looks at the flag, so either it sees
    // the flag or this sees the waiter.
    if (sleepers_.load() > 0) wake_.Release();
  }
  void Reset() { signalled_.store(false); }
  // False when the event stayed unsignalled for the whole wait.
  bool WaitFor(int timeout_ms) {
    if (signalled_.load()) return true;
    ++sleepers_;
    const std::uint32_t started = platform::TickCount();
    bool signalled = false;
    for (;;) {
      signalled = signalled_.load();
      if (signalled) break;
      const int left = timeout_ms - static_cast<int>(platform::TickCount() - started);
      if (left <= 0) break;
      wake_.WaitFor(left);
    }
    --sleepers_;
    return signalled;
  }

 private:
  platform::WakeSemaphore wake_;
  std::atomic<bool> signalled_{false};
  std::atomic<int> sleepers_{0};
};
