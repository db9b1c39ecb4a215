#include "history/reading_history.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A valid block with `temps` temperatures (hundredths), `fans` fans.
SensorSnapshot Block(std::vector<std::int32_t> temps, std::vector<std::int32_t> fans = {}) {
  SensorSnapshot s;
  std::memset(&s, 0, sizeof s);
  s.version = 1;
  s.memSize = 402;
  s.numTemps = static_cast<std::uint16_t>(temps.size());
  s.numFans = static_cast<std::uint16_t>(fans.size());
  for (std::size_t i = 0; i < temps.size(); ++i) s.temps[i] = temps[i];
  for (std::size_t i = 0; i < fans.size(); ++i) s.fans[i] = fans[i];
  return s;
}

const SeriesCopy* Find(const HistoryCopy& copy, int kind, int index) {
  for (const SeriesCopy& series : copy.series) {
    if (series.kind == kind && series.index == index) return &series;
  }
  return nullptr;
}

TEST(ReadingHistory, WrapsAroundKeepingTheNewestInOrder) {
  ReadingHistory history(3);
  for (int second = 1; second <= 7; ++second) {
    SensorSnapshot block = Block({second * 100});
    history.Record(second * 1000, &block);
  }
  HistoryCopy copy = history.Since(std::nullopt);
  EXPECT_EQ(copy.timestamps, (std::vector<std::int64_t>{5000, 6000, 7000}));
  ASSERT_EQ(copy.series.size(), 1u);
  EXPECT_EQ(copy.series[0].values, (std::vector<std::int32_t>{500, 600, 700}));
  EXPECT_EQ(history.size(), 3u);
}

TEST(ReadingHistory, SinceTakesOnlyLaterSamples) {
  ReadingHistory history(4);
  for (int second = 1; second <= 6; ++second) {  // keeps 3000..6000
    SensorSnapshot block = Block({second});
    history.Record(second * 1000, &block);
  }
  const struct {
    std::optional<std::int64_t> since;
    std::vector<std::int64_t> times;
  } cases[] = {
      {std::nullopt, {3000, 4000, 5000, 6000}},
      {0, {3000, 4000, 5000, 6000}},     // older than the oldest kept
      {2999, {3000, 4000, 5000, 6000}},  // just before the oldest
      {3000, {4000, 5000, 6000}},        // at the oldest
      {4500, {5000, 6000}},              // between two samples
      {5999, {6000}},                    // just before the newest
      {6000, {}},                        // at the newest
      {99999, {}},                       // beyond it
  };
  for (const auto& c : cases) {
    HistoryCopy copy = history.Since(c.since);
    EXPECT_EQ(copy.timestamps, c.times) << (c.since ? *c.since : -1);
    ASSERT_EQ(copy.series.size(), 1u);
    EXPECT_EQ(copy.series[0].values.size(), c.times.size());
  }
}

TEST(ReadingHistory, GapsAreAbsentValuesNeverZeros) {
  ReadingHistory history(10);
  SensorSnapshot block = Block({4000}, {900});
  history.Record(1000, &block);
  history.Record(2000, nullptr);  // the block was missing
  history.Record(3000, &block);
  HistoryCopy copy = history.Since(std::nullopt);
  EXPECT_EQ(copy.timestamps.size(), 3u);
  ASSERT_NE(Find(copy, 0, 0), nullptr);
  EXPECT_EQ(Find(copy, 0, 0)->values, (std::vector<std::int32_t>{4000, kNoValue, 4000}));
  EXPECT_EQ(Find(copy, 1, 0)->values, (std::vector<std::int32_t>{900, kNoValue, 900}));
  EXPECT_EQ(Find(copy, 0, 0)->since_start.min, 4000);
}

TEST(ReadingHistory, ChangingCountsAddAndDropReadings) {
  ReadingHistory history(10);
  SensorSnapshot one = Block({100}), three = Block({100, 200, 300}), two = Block({100, 200});
  history.Record(1000, &one);
  history.Record(2000, &three);
  history.Record(3000, &two);
  HistoryCopy copy = history.Since(std::nullopt);
  ASSERT_EQ(copy.series.size(), 3u);
  EXPECT_EQ(Find(copy, 0, 1)->values, (std::vector<std::int32_t>{kNoValue, 200, 200}));
  EXPECT_EQ(Find(copy, 0, 2)->values, (std::vector<std::int32_t>{kNoValue, 300, kNoValue}));
  // A count beyond 32 reads 32 entries, never past the arrays.
  SensorSnapshot many = Block({});
  many.numTemps = 60000;
  history.Record(4000, &many);
  EXPECT_NE(Find(history.Since(std::nullopt), 0, 31), nullptr);
}

TEST(ReadingHistory, AReadingThatLeftTheWindowIsNoLongerListed) {
  ReadingHistory history(2);
  SensorSnapshot two = Block({100, 200}), one = Block({100});
  history.Record(1000, &two);
  history.Record(2000, &one);
  EXPECT_NE(Find(history.Since(3000), 0, 1), nullptr) << "listed while the window holds it";
  history.Record(3000, &one);
  EXPECT_EQ(Find(history.Since(std::nullopt), 0, 1), nullptr);
  // Its extremes since the start are kept all the same.
  EXPECT_TRUE(history.ExtremesSinceStart()[1].any);
  EXPECT_EQ(history.ExtremesSinceStart()[1].max, 200);
}

TEST(ReadingHistory, ExtremesSinceStartAndOverTheWindow) {
  ReadingHistory history(3);
  const std::int32_t values[] = {500, 100, 300, 200, 400, 250};
  std::int64_t time = 0;
  for (std::int32_t value : values) {
    SensorSnapshot block = Block({value});
    history.Record(time += 1000, &block);
  }
  // The window holds 200, 400, 250: 500 and 100 have left it.
  const SeriesCopy series = history.Since(std::nullopt).series.at(0);
  EXPECT_EQ(series.since_start.min, 100);
  EXPECT_EQ(series.since_start.max, 500);
  EXPECT_EQ(series.window.min, 200);
  EXPECT_EQ(series.window.max, 400);
  history.Record(time += 1000, nullptr);
  history.Record(time += 1000, nullptr);
  const SeriesCopy last = history.Since(std::nullopt).series.at(0);
  EXPECT_EQ(last.window.min, 250);
  EXPECT_EQ(last.window.max, 250);
}

TEST(ReadingHistory, TimestampsAlwaysRiseWhenTheClockGoesBack) {
  ReadingHistory history(5);
  SensorSnapshot block = Block({1});
  history.Record(5000, &block);
  history.Record(4000, &block);  // the clock was set back
  history.Record(5001, &block);
  EXPECT_EQ(history.Since(std::nullopt).timestamps, (std::vector<std::int64_t>{5000, 5001, 5002}));
  EXPECT_EQ(history.Since(5000).timestamps.size(), 2u);
}

TEST(ReadingHistory, MemoryFollowsTheReadingsThatExist) {
  ReadingHistory none(3600);
  EXPECT_EQ(none.ReservedBytes(), 3600u * 8);
  ReadingHistory few(3600);
  SensorSnapshot block = Block({1, 2, 3}, {4});
  few.Record(1000, &block);
  EXPECT_EQ(few.ReservedBytes(), 3600u * (8 + 4 * 4));
  // The worst case: every slot of every kind, a day kept.
  ReadingHistory full(86400);
  SensorSnapshot all = Block(std::vector<std::int32_t>(32, 1), std::vector<std::int32_t>(32, 1));
  all.numVolts = 32;
  full.Record(1000, &all);
  EXPECT_EQ(full.ReservedBytes(), 86400u * (8 + 96 * 4));
  EXPECT_LT(full.ReservedBytes(), 34u * 1024 * 1024);
}

TEST(ReadingHistory, TheOneValueThatLooksLikeAGapIsKeptAsAValue) {
  ReadingHistory history(2);
  SensorSnapshot block = Block({kNoValue});
  history.Record(1000, &block);
  ASSERT_EQ(history.Since(std::nullopt).series.size(), 1u);
  EXPECT_EQ(history.Since(std::nullopt).series[0].values[0], kNoValue + 1);
}

}  // namespace
