#pragma once
// A manual-reset event: once Set it stays signalled, letting every waiter
// through, until Reset. Set wakes one sleeping waiter rather than all: each
// Set stands for one queued connection, and waking every idle worker for it
// only makes them fight over the queue. Any Wait while signalled passes.
#include <chrono>
#include <condition_variable>
#include <mutex>

class ManualResetEvent {
 public:
  void Set() {
    bool wake;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      signalled_ = true;
      wake = waiters_ > 0;
    }
    if (wake) changed_.notify_one();
  }
  void Reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    signalled_ = false;
  }
  void Wait() {
    std::unique_lock<std::mutex> hold(mutex_);
    ++waiters_;
    changed_.wait(hold, [this] { return signalled_; });
    --waiters_;
  }
  // False when the event stayed unsignalled for the whole wait.
  bool WaitFor(int timeout_ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    ++waiters_;
    bool signalled = changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                       [this] { return signalled_; });
    --waiters_;
    return signalled;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
  int waiters_ = 0;
};
