#include "agent/limits_section.h"

#include <gtest/gtest.h>

namespace {

using limits::ReadingLimits;

struct Expected {
  std::optional<double> high_warning, high_critical, low_warning, low_critical;
};

TEST(LimitsSection, EachKindAndSpelling) {
  struct Case {
    const char* line;
    int kind, index;
    Expected expected;
  } cases[] = {
      {"Temperature1=warning 80, critical 95", 0, 0, {80, 95, {}, {}}},
      {"temperature2 = Critical >90", 0, 1, {{}, 90, {}, {}}},
      {"Temperature3=warning <5", 0, 2, {{}, {}, 5, {}}},
      {"Fan2=warning 600, critical 300", 1, 1, {{}, {}, 600, 300}},
      {"Voltage3=warning 11.4..12.6, critical 11..13", 2, 2, {12.6, 13, 11.4, 11}},
      {"Voltage32=critical <-12.6", 2, 31, {{}, {}, {}, -12.6}},
  };
  for (const Case& c : cases) {
    const LimitsSection section = ParseLimits({c.line});
    EXPECT_TRUE(section.errors.empty()) << c.line;
    const ReadingLimits& got = section.limits[c.kind][c.index];
    EXPECT_EQ(got.high_warning, c.expected.high_warning) << c.line;
    EXPECT_EQ(got.high_critical, c.expected.high_critical) << c.line;
    EXPECT_EQ(got.low_warning, c.expected.low_warning) << c.line;
    EXPECT_EQ(got.low_critical, c.expected.low_critical) << c.line;
  }
}

TEST(LimitsSection, MalformedLinesAreReportedAndIgnoredWhole) {
  const char* bad[] = {
      "Voltage1=warning 12",              // a voltage needs a side or a range
      "Temperature1=warning 80, hot 95",  // one bad item spoils the line
      "Temperature1=warning 8O",          // not a number
      "Temperature33=warning 80",         // no such reading
      "Fan1=warning 13..12",              // an empty range
      "Fan1=",                            // nothing
      "Fan1 600",                         // no "="
  };
  for (const char* line : bad) {
    const LimitsSection section = ParseLimits({line, "; a comment"});
    EXPECT_EQ(section.errors.size(), 1u) << line;
    EXPECT_TRUE(section.empty) << line;
  }
  const LimitsSection first = ParseLimits({"Fan1=warning 500", "fan1=warning 900"});
  EXPECT_EQ(first.limits[1][0].low_warning, 500);
}

}  // namespace
