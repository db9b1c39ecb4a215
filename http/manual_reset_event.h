#pragma once
// A manual-reset event: once Set it stays signalled, letting every waiter
// through, until Reset. Set wakes one sleeping waiter rather than all: each
// Set stands for one queued connection, and waking every idle worker for it
// only makes them fight over the queue. Any Wait while signalled passes.
//
// The state is an atomic flag, so Reset, a Wait that finds the event
// signalled and a Set with nobody asleep take no lock: under load the
// listener and the workers would otherwise queue up on the event's mutex.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

class ManualResetEvent {
 public:
  void Set() {
    signalled_.store(true);
    // A waiter counts itself before it looks at the flag, so either it sees
    // the flag or this sees the waiter.
    if (sleepers_.load() == 0) return;
    // Taking the mutex orders the notify after a waiter's look at the flag.
    { std::lock_guard<std::mutex> hold(mutex_); }
    changed_.notify_one();
  }
  void Reset() { signalled_.store(false); }
  void Wait() {
    if (signalled_.load()) return;
    std::unique_lock<std::mutex> hold(mutex_);
    ++sleepers_;
    changed_.wait(hold, [this] { return signalled_.load(); });
    --sleepers_;
  }
  // False when the event stayed unsignalled for the whole wait.
  bool WaitFor(int timeout_ms) {
    if (signalled_.load()) return true;
    std::unique_lock<std::mutex> hold(mutex_);
    ++sleepers_;
    bool signalled = changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                       [this] { return signalled_.load(); });
    --sleepers_;
    return signalled;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> signalled_{false};
  std::atomic<int> sleepers_{0};
};
