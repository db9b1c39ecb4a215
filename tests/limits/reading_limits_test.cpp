#include "limits/reading_limits.h"

#include <gtest/gtest.h>

namespace {

using limits::Kind;
using limits::ReadingLimits;
using limits::State;

ReadingLimits Temperature(double warning, double critical) {
  ReadingLimits l;
  l.high_warning = warning;
  l.high_critical = critical;
  return l;
}

// A temperature rising past 80 and 95 and falling back: each state holds
// until the reading is back by the hysteresis (2 °C), and at a limit the
// reading is not past it.
TEST(ReadingLimits, StatesRiseAtTheLimitsAndClearPastTheHysteresis) {
  const ReadingLimits l = Temperature(80, 95);
  struct Step {
    double value;
    State expected;
  } steps[] = {
      {79, State::Ok},        {80, State::Ok},      {80.5, State::Warning},  {79, State::Warning},
      {78.5, State::Warning}, {77.9, State::Ok},    {95.1, State::Critical}, {94, State::Critical},
      {92.9, State::Warning}, {90, State::Warning}, {77, State::Ok},
  };
  State state = State::Ok;
  for (const Step& step : steps) {
    state = limits::NextState(Kind::Temperature, state, step.value, l, false);
    EXPECT_EQ(state, step.expected) << step.value;
  }
  EXPECT_EQ(limits::NextState(Kind::Temperature, State::Ok, 20, l, true), State::Alarm);
}

TEST(ReadingLimits, AFanWarnsFromBelowAndTheDriversHysteresisCounts) {
  ReadingLimits fan;
  fan.low_warning = 600;
  fan.low_critical = 300;
  EXPECT_EQ(limits::NextState(Kind::Fan, State::Ok, 600, fan, false), State::Ok);
  EXPECT_EQ(limits::NextState(Kind::Fan, State::Ok, 0, fan, false), State::Critical);
  EXPECT_EQ(limits::NextState(Kind::Fan, State::Critical, 340, fan, false), State::Critical);
  EXPECT_EQ(limits::NextState(Kind::Fan, State::Critical, 360, fan, false), State::Warning);
  ReadingLimits hot = Temperature(80, 95);
  hot.hysteresis = 10;
  EXPECT_EQ(limits::NextState(Kind::Temperature, State::Critical, 86, hot, false), State::Critical);
  EXPECT_EQ(limits::NextState(Kind::Temperature, State::Critical, 84, hot, false), State::Warning);
}

TEST(ReadingLimits, ImplausibleLimitsAreDroppedWithANote) {
  struct Case {
    Kind kind;
    ReadingLimits limits;
    bool high_warning, high_critical, low_warning, low_critical;
  } cases[] = {
      {Kind::Temperature, Temperature(80, 95), true, true, false, false},
      {Kind::Temperature, Temperature(70, 65261.8), true, false, false, false},  // NVMe "high"
      {Kind::Temperature, Temperature(3892314, 95), false, true, false, false},
      {Kind::Temperature, Temperature(90, 85), true, false, false, false},  // critical below
      {Kind::Fan,
       [] {
         ReadingLimits l;
         l.low_warning = 0;
         return l;
       }(),
       false, false, false, false},  // 0 rpm: unset
      {Kind::Voltage,
       [] {
         ReadingLimits l;
         l.low_critical = 11;
         l.low_warning = 10.5;
         return l;
       }(),
       false, false, true, false},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> notes;
    const ReadingLimits checked = limits::Checked(c.kind, c.limits, L"reading 1", notes);
    EXPECT_EQ(checked.high_warning.has_value(), c.high_warning);
    EXPECT_EQ(checked.high_critical.has_value(), c.high_critical);
    EXPECT_EQ(checked.low_warning.has_value(), c.low_warning);
    EXPECT_EQ(checked.low_critical.has_value(), c.low_critical);
    const int kept = c.high_warning + c.high_critical + c.low_warning + c.low_critical;
    const int set = c.limits.high_warning.has_value() + c.limits.high_critical.has_value() +
                    c.limits.low_warning.has_value() + c.limits.low_critical.has_value();
    EXPECT_EQ(static_cast<int>(notes.size()), set - kept);
  }
}

TEST(ReadingLimits, YoursOverrideTheDriversOneByOne) {
  ReadingLimits driver = Temperature(80, 100);
  ReadingLimits yours;
  yours.high_critical = 90;
  const ReadingLimits merged = limits::Merged(driver, yours);
  EXPECT_EQ(merged.high_warning, 80);
  EXPECT_EQ(merged.high_critical, 90);
  EXPECT_FALSE(merged.low_warning.has_value());
}

}  // namespace
