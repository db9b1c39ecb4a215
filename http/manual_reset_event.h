#pragma once
// A manual-reset event: once Set it stays signalled, letting every waiter
// through, until Reset. Set wakes one sleeping waiter rather than all: each
// Set stands for one queued connection, and waking every idle worker for it
// only makes them fight over the queue. Any Wait while signalled passes.
//
// The sleeper woken is the one that went to sleep last. Under load a few
// workers then take turns while the others stay asleep (and, being idle, end
// after a while): the running ones find their stacks and data still in the
// cache, where waking the longest-asleep worker would cycle through every
// thread a burst ever started.
//
// The flag is an atomic, and Set takes the sleepers' lock only when someone
// sleeps. Each sleeping thread waits on its own semaphore, kept for the life
// of the thread.
#include <atomic>
#include <mutex>

#include "platform/wake_semaphore.h"

class ManualResetEvent {
 public:
  void Set();
  // Signals without waking anyone: for a caller that knows a waiter will
  // look on its own.
  void SetQuietly() { signalled_.store(true); }
  void Reset() { signalled_.store(false); }
  // False when the event stayed unsignalled for the whole wait.
  bool WaitFor(int timeout_ms);
  // How many waiters sleep now, or are about to, having found the flag down
  // (for tests).
  int Sleepers() const { return sleepers_.load(); }
  // Makes every Set wait this long between taking a sleeper off the list and
  // releasing it (tests of a late release; 0 to end).
  static void DelayReleasesForTest(int delay_ms);

 private:
  struct Sleeper {
    platform::WakeSemaphore wake;
    Sleeper* below = nullptr;  // the next older sleeper, while listed
    bool listed = false;       // on the stack, not yet woken
  };

  // The calling thread's own, used for whichever event it waits on.
  static Sleeper& ThisThreadSleeper();
  // Both with the lock held. Lists `me` on top of the sleepers, or takes it
  // off again (for a waiter whose time ran out before a Set woke it).
  void ListLocked(Sleeper& me);
  void UnlistLocked(Sleeper& me);
  // Sleeps until a Set wakes `me` or `timeout_ms` has passed.
  void SleepOnce(Sleeper& me, int timeout_ms);

  std::mutex lock_;
  Sleeper* top_ = nullptr;  // the newest sleeper; guarded by lock_
  std::atomic<bool> signalled_{false};
  std::atomic<int> sleepers_{0};  // changed only with lock_ held
};
