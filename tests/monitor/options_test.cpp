// The monitor's option file and its choice of source.
#include <gtest/gtest.h>

#include "monitor/monitor_options.h"

namespace {

TEST(MonitorOptions, KeysInAnyCaseTrimmedValuesLaterLinesWin) {
  MonitorOptions options(
      "StartupHide=true\r\n temps = 7 \r\nSOURCE=HwMon\r\nno equals here\r\n"
      "HwmonRoot= /tmp/my tree \r\nTemps=9\r\nMemSize=abc\r\n");
  EXPECT_EQ(options.Number("temps", 5), 9);
  EXPECT_EQ(options.Number("fans", 3), 3);
  EXPECT_EQ(options.Number("memsize", 402), 0);
  EXPECT_EQ(options.Text("hwmonroot", "/sys/class/hwmon"), "/tmp/my tree");
  EXPECT_EQ(options.Text("Source", "auto"), "HwMon");
  EXPECT_EQ(options.Text("missing", "fallback"), "fallback");
}

TEST(MonitorOptions, SourceWords) {
  struct Case {
    const char* text;
    bool ok;
    ReadingSource source;
  } cases[] = {{"auto", true, ReadingSource::Auto},
               {"HWMON", true, ReadingSource::Hwmon},
               {"Simulated", true, ReadingSource::Simulated},
               {"", false, ReadingSource::Auto},
               {"sensors", false, ReadingSource::Auto}};
  for (const Case& c : cases) {
    ReadingSource source = ReadingSource::Auto;
    EXPECT_EQ(ParseReadingSource(c.text, source), c.ok) << c.text;
    EXPECT_EQ(source, c.source) << c.text;
  }
}

}  // namespace
