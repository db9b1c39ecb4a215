#pragma once
// A manual-reset event: once Set it stays signalled, letting every waiter
// through, until Reset.
#include <condition_variable>
#include <mutex>

class ManualResetEvent {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      signalled_ = true;
    }
    changed_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    signalled_ = false;
  }
  void Wait() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [this] { return signalled_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};
