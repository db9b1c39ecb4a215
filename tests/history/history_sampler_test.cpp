#include "history/history_sampler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

// A reader whose block the test changes, and a clock the test sets.
struct FakeMonitor {
  bool present = true;
  std::int32_t temperature = 4000;
  std::uint16_t temps = 1;
  std::int64_t now = 1'700'000'000'000;
  std::atomic<int> reads{0};

  HistorySampler::Reader Reader() {
    return [this](SampleRead& read) {
      ++reads;
      if (!present) {
        read.error = L"ERROR: Failed to connect to Kelvane shared memory.";
        return;
      }
      std::memset(&read.readings, 0, sizeof read.readings);
      read.readings.version = 1;
      read.readings.memSize = 402;
      read.readings.numTemps = temps;
      read.readings.temps[0] = temperature;
      read.valid = true;
    };
  }
  HistorySampler::Clock Clock() {
    return [this] { return now; };
  }
};

TEST(HistorySampler, RecordsEachSampleAtTheClocksTime) {
  FakeMonitor monitor;
  HistorySampler sampler(60, monitor.Reader(), monitor.Clock());
  EXPECT_FALSE(sampler.LatestState().sampled);
  for (int i = 0; i < 3; ++i) {
    monitor.temperature = 4000 + i * 100;
    sampler.SampleOnce();
    monitor.now += 1000;
  }
  HistoryCopy copy = sampler.History().Since(std::nullopt);
  EXPECT_EQ(copy.timestamps,
            (std::vector<std::int64_t>{1'700'000'000'000, 1'700'000'001'000, 1'700'000'002'000}));
  ASSERT_EQ(copy.series.size(), 1u);
  EXPECT_EQ(copy.series[0].values, (std::vector<std::int32_t>{4000, 4100, 4200}));
  EXPECT_FALSE(sampler.Running());  // no thread unless started
}

TEST(HistorySampler, AMissingBlockIsAGapWithItsReason) {
  FakeMonitor monitor;
  HistorySampler sampler(60, monitor.Reader(), monitor.Clock());
  sampler.SampleOnce();
  monitor.present = false;
  monitor.now += 1000;
  sampler.SampleOnce();
  HistorySampler::Latest latest = sampler.LatestState();
  EXPECT_TRUE(latest.sampled);
  EXPECT_FALSE(latest.up);
  EXPECT_EQ(latest.error, CWString(L"ERROR: Failed to connect to Kelvane shared memory."));
  EXPECT_EQ(sampler.History().Since(std::nullopt).series.at(0).values,
            (std::vector<std::int32_t>{4000, kNoValue}));
  monitor.present = true;
  sampler.SampleOnce();
  EXPECT_TRUE(sampler.LatestState().up);
  EXPECT_TRUE(sampler.LatestState().error.IsEmpty());
}

TEST(HistorySampler, TheThreadSamplesUntilStopped) {
  FakeMonitor monitor;
  HistorySampler sampler(60, monitor.Reader(), SystemClockMs);
  sampler.Start();
  EXPECT_TRUE(sampler.Running());
  // The first sample is taken at once; waiting for it is bounded.
  for (int i = 0; i < 500 && monitor.reads.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  sampler.Stop();  // wakes the thread from its wait at once
  EXPECT_FALSE(sampler.Running());
  const int reads = monitor.reads.load();
  EXPECT_GE(reads, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(monitor.reads.load(), reads) << "sampled after Stop";
}

}  // namespace
