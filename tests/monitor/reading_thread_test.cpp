// Rounds on the reading thread, and a read that never returns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "monitor/reading_thread.h"

namespace {

using std::chrono::milliseconds;

HwmonReadings OneTemperature(std::int32_t value) {
  HwmonReadings readings;
  readings.temps.push_back({SensorKind::Temperature, 0, "chip", "temp1", "", value});
  return readings;
}

TEST(ReadingThread, EachRoundIsTakenOnce) {
  std::atomic<int> rounds{0};
  ReadingThread reader([&] { return OneTemperature(++rounds); }, milliseconds(20));
  auto first = reader.TakeLatest(milliseconds(60000));
  ASSERT_TRUE(first.has_value());
  EXPECT_GE(first->temps.at(0).value, 1);
  auto later = reader.TakeLatest(milliseconds(60000));
  ASSERT_TRUE(later.has_value());
  EXPECT_GT(later->temps.at(0).value, first->temps.at(0).value);
}

TEST(ReadingThread, AFailedRoundPublishesNothing) {
  ReadingThread reader([]() -> HwmonReadings { throw std::runtime_error("no"); }, milliseconds(10));
  EXPECT_FALSE(reader.TakeLatest(milliseconds(200)).has_value());
}

// The blocked read's state outlives the test: its thread is left behind.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
};

TEST(ReadingThread, AReadThatBlocksDoesNotHoldUpTheOwner) {
  static Gate gate;
  {
    ReadingThread reader(
        [] {
          std::unique_lock<std::mutex> hold(gate.mutex);
          gate.opened.wait(hold, [] { return gate.open; });
          return HwmonReadings{};
        },
        milliseconds(10));
    EXPECT_FALSE(reader.TakeLatest(milliseconds(100)).has_value());
  }  // returns although the read is still blocked
  std::lock_guard<std::mutex> hold(gate.mutex);
  gate.open = true;
  gate.opened.notify_all();
}

}  // namespace
