// The work event: a Set lets waiters through until Reset, wakes one sleeper
// (the newest), and no Set is lost while sleepers come and go.
#include "http/manual_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kLongWaitMs = 60000;

// Waits (bounded) until `event` has `count` sleepers.
bool SleepersReach(const ManualResetEvent& event, int count) {
  for (int i = 0; i < 6000 && event.Sleepers() != count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return event.Sleepers() == count;
}

// Starts `waiter(0)`, then once it sleeps `waiter(1)`, and waits until both
// sleep: the second is the newer sleeper.
template <typename Waiter>
bool StartOlderThenNewer(const ManualResetEvent& event, Waiter waiter, std::thread& older,
                         std::thread& newer) {
  older = std::thread(waiter, 0);
  if (!SleepersReach(event, 1)) return false;
  newer = std::thread(waiter, 1);
  return SleepersReach(event, 2);
}

TEST(ManualResetEvent, PassesWhileSetAndTimesOutOnceReset) {
  ManualResetEvent event;
  EXPECT_FALSE(event.WaitFor(0));
  EXPECT_FALSE(event.WaitFor(20));
  event.Set();
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_TRUE(event.WaitFor(kLongWaitMs));
  event.Reset();
  EXPECT_FALSE(event.WaitFor(20));
  EXPECT_EQ(event.Sleepers(), 0);
}

TEST(ManualResetEvent, ASetResetAtOnceWakesOnlyTheNewestSleeper) {
  ManualResetEvent event;
  std::atomic<bool> passed[2] = {false, false};
  auto waiter = [&](int index) {
    if (event.WaitFor(kLongWaitMs)) passed[index] = true;
  };
  std::thread older;
  std::thread newer;
  ASSERT_TRUE(StartOlderThenNewer(event, waiter, older, newer));

  // As when a worker takes the only entry before the woken one looks: the
  // woken sleeper either still sees the flag or finds it down and sleeps
  // again; the older one sleeps on.
  event.Set();
  event.Reset();
  for (int i = 0; i < 6000 && event.Sleepers() + (passed[1] ? 1 : 0) != 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(passed[0].load());
  EXPECT_EQ(event.Sleepers() + (passed[1] ? 1 : 0), 2);

  // Each Set wakes one sleeper.
  for (int left = event.Sleepers(); left > 0; --left) event.Set();
  older.join();
  newer.join();
  EXPECT_TRUE(passed[0].load());
  EXPECT_TRUE(passed[1].load());
  EXPECT_EQ(event.Sleepers(), 0);
}

TEST(ManualResetEvent, OneSetReleasesOneSleeperWhenTheFlagGoesDown) {
  ManualResetEvent event;
  std::atomic<int> passed_first{-1};
  std::mutex order;
  auto waiter = [&](int index) {
    if (event.WaitFor(kLongWaitMs)) {
      std::lock_guard<std::mutex> hold(order);
      if (passed_first < 0) {
        passed_first = index;
        event.Reset();  // took the work: the others keep sleeping
      }
    }
  };
  std::thread older;
  std::thread newer;
  ASSERT_TRUE(StartOlderThenNewer(event, waiter, older, newer));
  event.Set();
  // The older one found the flag down before the Set and sleeps on.
  newer.join();
  EXPECT_EQ(passed_first.load(), 1);
  EXPECT_EQ(event.Sleepers(), 1);
  event.Set();
  older.join();
}

// Workers take tokens the way they take queued connections: under a mutex,
// resetting the event when none is left. Returns how many were taken of
// `count` Set one by one. `wait_ms(w)` is worker w's wait.
template <typename WaitOf>
int TokensTaken(int count, WaitOf wait_ms) {
  ManualResetEvent event;
  std::mutex queue_mutex;
  int tokens = 0;
  int taken = 0;
  bool done = false;  // guarded by queue_mutex, like the tokens
  std::vector<std::thread> workers;
  for (int w = 0; w < 8; ++w) {
    workers.emplace_back([&, w] {
      for (;;) {
        event.WaitFor(wait_ms(w));
        std::lock_guard<std::mutex> hold(queue_mutex);
        if (done) return;
        if (tokens > 0) {
          --tokens;
          ++taken;
        } else {
          event.Reset();
        }
      }
    });
  }
  for (int i = 0; i < count; ++i) {
    {
      std::lock_guard<std::mutex> hold(queue_mutex);
      ++tokens;
    }
    event.Set();
    if (i % 64 == 0) std::this_thread::yield();
  }
  for (int i = 0; i < 6000; ++i) {
    {
      std::lock_guard<std::mutex> hold(queue_mutex);
      if (taken == count) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  {
    // No Reset after this, so the Sets let every worker through to see it.
    std::lock_guard<std::mutex> hold(queue_mutex);
    done = true;
  }
  for (std::size_t i = 0; i < workers.size(); ++i) event.Set();
  for (std::thread& worker : workers) worker.join();
  return taken;
}

TEST(ManualResetEvent, NoSetIsLostWhileSleepersComeAndGo) {
  // Long waits: a lost wake-up would leave a token untaken for the whole
  // minute. Short ones: waiters time out and unlist themselves all along.
  EXPECT_EQ(TokensTaken(2000, [](int) { return kLongWaitMs; }), 2000);
  EXPECT_EQ(TokensTaken(2000, [](int w) { return 1 + w % 3; }), 2000);
}

TEST(ManualResetEvent, AReleaseLaterThanTheWaitIsTakenByThatWait) {
  // The Set takes the sleeper off the list at once but releases it 2.5 s
  // later, long after the sleeper's own 50 ms ran out. Taken by a later
  // sleep instead, the release would end it while the waiter is listed,
  // and the waiter would be listed twice.
  ManualResetEvent::DelayReleasesForTest(2500);
  ManualResetEvent event;
  std::thread setter([&] {
    if (SleepersReach(event, 1)) event.Set();
  });
  EXPECT_TRUE(event.WaitFor(50));
  event.Reset();
  EXPECT_FALSE(event.WaitFor(2000));
  setter.join();
  ManualResetEvent::DelayReleasesForTest(0);
  EXPECT_EQ(event.Sleepers(), 0);
  // The event still works: a new sleeper is woken by the next Set.
  std::thread waiter([&] { EXPECT_TRUE(event.WaitFor(kLongWaitMs)); });
  ASSERT_TRUE(SleepersReach(event, 1));
  event.Set();
  waiter.join();
  EXPECT_EQ(event.Sleepers(), 0);
}

}  // namespace
