#include "http/manual_reset_event.h"

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"

namespace {

// Long enough to stand for "until it comes" in one semaphore wait.
constexpr int kReleaseWaitStepMs = 60000;

std::atomic<int> g_release_delay_ms{0};

}  // namespace

void ManualResetEvent::DelayReleasesForTest(int delay_ms) { g_release_delay_ms.store(delay_ms); }

ManualResetEvent::Sleeper& ManualResetEvent::ThisThreadSleeper() {
  thread_local Sleeper sleeper;
  return sleeper;
}

void ManualResetEvent::Set() {
  signalled_.store(true);
  // A waiter counts itself before it looks at the flag, so either it sees
  // the flag or this sees the waiter.
  if (sleepers_.load() == 0) return;
  Sleeper* woken = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    woken = top_;
    if (woken == nullptr) return;
    top_ = woken->below;
    woken->below = nullptr;
    woken->listed = false;
    --sleepers_;
  }
  // Released after the unlock, so that sleepers listing themselves do not
  // wait behind the wake-up call. A waiter that finds itself taken off the
  // list waits for this release.
  if (const int delay = g_release_delay_ms.load(std::memory_order_relaxed); delay > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  }
  woken->wake.Release();
}

bool ManualResetEvent::WaitFor(int timeout_ms) {
  if (signalled_.load()) return true;
  Sleeper& me = ThisThreadSleeper();
  const std::uint32_t started = platform::TickCount();
  for (;;) {
    const int left = timeout_ms - static_cast<int>(platform::TickCount() - started);
    if (left <= 0) return signalled_.load();
    SleepOnce(me, left);
    // Woken, or out of time: either way the flag decides. A waiter woken
    // for an entry that someone else took finds the flag reset and sleeps
    // again.
    if (signalled_.load()) return true;
  }
}

void ManualResetEvent::SleepOnce(Sleeper& me, int timeout_ms) {
  {
    // Listed before the flag is looked at, so either this sees the flag or
    // a Set sees this waiter. Both under the lock: a waiter counted among
    // the sleepers is one that found the flag down and will sleep.
    std::lock_guard<std::mutex> hold(lock_);
    ListLocked(me);
    if (signalled_.load()) {
      UnlistLocked(me);
      return;
    }
  }
  if (me.wake.WaitFor(timeout_ms)) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (me.listed) {
      UnlistLocked(me);
      return;
    }
  }
  // A Set took this waiter off the list just now and is about to release
  // its semaphore. The release is waited for however late it comes: taken
  // later, it would end a later sleep while this waiter is listed again
  // (listing it twice), and a thread that ended first would have freed the
  // semaphore the Set is about to release.
  while (!me.wake.WaitFor(kReleaseWaitStepMs)) {
  }
}

void ManualResetEvent::ListLocked(Sleeper& me) {
  me.below = top_;
  me.listed = true;
  top_ = &me;
  ++sleepers_;
}

void ManualResetEvent::UnlistLocked(Sleeper& me) {
  for (Sleeper** link = &top_; *link != nullptr; link = &(*link)->below) {
    if (*link == &me) {
      *link = me.below;
      break;
    }
  }
  me.below = nullptr;
  me.listed = false;
  --sleepers_;
}
