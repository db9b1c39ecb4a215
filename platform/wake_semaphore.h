#pragma once
// A counting semaphore for waking sleeping threads: Release lets one waiter
// through (now, or the next one to wait), WaitFor waits for that with a time
// limit. Neither takes a lock, so a releaser and many waiters do not queue up
// on a mutex. Windows: CreateSemaphoreW, ReleaseSemaphore and
// WaitForSingleObject; Linux: sem_post and sem_clockwait (CLOCK_MONOTONIC).
namespace platform {

class WakeSemaphore {
 public:
  WakeSemaphore();
  ~WakeSemaphore();
  WakeSemaphore(const WakeSemaphore&) = delete;
  WakeSemaphore& operator=(const WakeSemaphore&) = delete;

  void Release();
  // True when a release let this waiter through; false after `timeout_ms`
  // (or sooner on Windows when the semaphore could not be made: the caller
  // then looks again for what it waits for).
  bool WaitFor(int timeout_ms);

 private:
  void* handle_;
};

}  // namespace platform
