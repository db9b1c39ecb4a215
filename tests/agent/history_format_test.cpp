#include <gtest/gtest.h>

#include "agent/agent_server.h"
#include "agent/renderers.h"
#include "tests/support/example_snapshot.h"

namespace {

HistoryCopy TwoSamples() {
  ReadingHistory history(10);
  SensorSnapshot block = testing_support::ExampleSnapshot();
  history.Record(1'700'000'000'000, &block);
  history.Record(1'700'000'001'000, nullptr);
  block.temps[0] = 4700;
  block.numVolts = 1;
  history.Record(1'700'000'002'000, &block);
  return history.Since(std::nullopt);
}

TEST(HistoryFormat, ExactDocumentWithGapsAsNull) {
  HistoryCopy copy = TwoSamples();
  HistoryAnswer answer;
  answer.seconds = 10;
  answer.copy = &copy;
  answer.up = true;
  std::string body;
  RenderHistory(body, answer);
  EXPECT_EQ(body,
            "{\"up\":true,\"error\":null,\"history\":10,\"interval\":1000,"
            "\"timestamps\":[1700000000000,1700000001000,1700000002000],\"sensors\":["
            "{\"id\":\"temperature1\",\"kind\":\"temperature\",\"index\":1,\"unit\":\"celsius\","
            "\"min\":45.62,\"max\":47,\"window_min\":45.62,\"window_max\":47,"
            "\"values\":[45.62,null,47]},"
            "{\"id\":\"temperature2\",\"kind\":\"temperature\",\"index\":2,\"unit\":\"celsius\","
            "\"min\":38.1,\"max\":38.1,\"window_min\":38.1,\"window_max\":38.1,"
            "\"values\":[38.1,null,38.1]},"
            "{\"id\":\"fan1\",\"kind\":\"fan\",\"index\":1,\"unit\":\"rpm\",\"min\":1234,"
            "\"max\":1234,\"window_min\":1234,\"window_max\":1234,\"values\":[1234,null,1234]},"
            "{\"id\":\"fan2\",\"kind\":\"fan\",\"index\":2,\"unit\":\"rpm\",\"min\":0,\"max\":0,"
            "\"window_min\":0,\"window_max\":0,\"values\":[0,null,0]},"
            "{\"id\":\"voltage1\",\"kind\":\"voltage\",\"index\":1,\"unit\":\"volts\",\"min\":1.2,"
            "\"max\":1.2,\"window_min\":1.2,\"window_max\":1.2,\"values\":[1.2,null,1.2]},"
            "{\"id\":\"voltage2\",\"kind\":\"voltage\",\"index\":2,\"unit\":\"volts\",\"min\":3.3,"
            "\"max\":3.3,\"window_min\":3.3,\"window_max\":3.3,\"values\":[3.3,null,null]}]}");
}

TEST(HistoryFormat, OffAndDownAnswersCarryTheirEscapedReason) {
  HistoryAnswer off;
  off.error = L"History is off";
  std::string body;
  RenderHistory(body, off);
  EXPECT_EQ(body,
            "{\"up\":false,\"error\":\"History is off\",\"history\":0,\"interval\":1000,"
            "\"timestamps\":[],\"sensors\":[]}");
  HistoryCopy empty;
  HistoryAnswer down;
  down.seconds = 60;
  down.copy = &empty;
  down.error = L"ERROR: C:\\Kelvane\\kelvane.exe \"not\" found.\n\u00dc";
  body.clear();
  RenderHistory(body, down);
  EXPECT_NE(
      body.find("\"error\":\"ERROR: C:\\\\Kelvane\\\\kelvane.exe \\\"not\\\" found.\\n\xc3\x9c\""),
      std::string::npos)
      << body;
}

TEST(HistoryFormat, SinceIsAWholeNumberOrTheWholeWindow) {
  const struct {
    const char* text;
    std::optional<std::int64_t> since;
  } cases[] = {
      {"1700000000000", 1700000000000},
      {"0", 0},
      {"", std::nullopt},
      {"-5", std::nullopt},
      {"12abc", std::nullopt},
      {"1.5", std::nullopt},
      {" 12", std::nullopt},
      {"999999999999999999", 999999999999999999},
      {"9999999999999999999", std::nullopt},
      {"0x10", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseSince(c.text), c.since) << c.text;
}

TEST(SensorsFormat, MinAndMaxSinceStartIncludeTheValueShown) {
  SensorSnapshot now = testing_support::ExampleSnapshot();
  SlotExtremes extremes;
  extremes[0].Add(4000);
  extremes[0].Add(4500);  // temperature1 now reads 45.62: a new maximum
  extremes[32].Add(1000);
  extremes[32].Add(2000);  // fan1 reads 1234, inside
  std::string body;
  RenderSensors(body, &now, CWString(), nullptr, &extremes);
  EXPECT_NE(body.find("{\"id\":\"temperature1\",\"kind\":\"temperature\",\"index\":1,"
                      "\"value\":45.62,\"min\":40,\"max\":45.62,\"unit\":\"celsius\"}"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("\"value\":1234,\"min\":1000,\"max\":2000,\"unit\":\"rpm\""),
            std::string::npos);
  // temperature2 had no sample yet: its own value is both.
  EXPECT_NE(body.find("\"value\":38.1,\"min\":38.1,\"max\":38.1,"), std::string::npos);
  std::string without;
  RenderSensors(without, &now, CWString(), nullptr, nullptr);
  EXPECT_EQ(without.find("\"min\""), std::string::npos);
}

TEST(AgentHistory, ZeroSecondsStartsNoSampler) {
  KelvaneHTTPAgentHTTPServer server;
  server.StartHistory(0);
  EXPECT_EQ(server.History(), nullptr);
}

TEST(Dashboard, OneSelfContainedPage) {
  std::string_view page = DashboardPage();
  EXPECT_EQ(page.substr(0, 15), "<!DOCTYPE html>");
  EXPECT_NE(page.find("var uPlot="), std::string_view::npos) << "chart library embedded";
  EXPECT_NE(page.find("format=history"), std::string_view::npos);
  EXPECT_EQ(page.find("@UPLOT"), std::string_view::npos);
  EXPECT_EQ(page.find("@DASHBOARD"), std::string_view::npos);
  // Nothing is loaded from anywhere: no external script, style or image.
  EXPECT_EQ(page.find(" src="), std::string_view::npos);
  EXPECT_EQ(page.find("<link"), std::string_view::npos);
  EXPECT_LT(page.size(), 100u * 1024);
}

}  // namespace

namespace {

// A full day of every reading the block can hold: each answer is bounded,
// and paging on from its last timestamp gives every sample once.
TEST(HistoryFormat, AFullRingIsAnsweredInBoundedPages) {
  constexpr std::size_t kSeconds = 86400;
  ReadingHistory history(kSeconds);
  SensorSnapshot block = testing_support::ExampleSnapshot();
  block.numTemps = block.numFans = block.numVolts = kMaxSensorEntries;
  for (std::size_t i = 0; i < kSeconds + 5; ++i) {
    block.temps[0] = static_cast<std::int32_t>(i % 10000);
    history.Record(1'700'000'000'000 + static_cast<std::int64_t>(i) * 1000, &block);
  }
  std::optional<std::int64_t> since;
  std::size_t samples = 0, pages = 0, largest = 0;
  std::int64_t last = 0;
  for (bool more = true; more && pages < kSeconds; ++pages) {
    HistoryCopy copy = history.Since(since);
    ASSERT_EQ(copy.series.size(), static_cast<std::size_t>(kHistorySlots));
    EXPECT_LE(copy.timestamps.size() * copy.series.size(), kMaxValuesPerCopy);
    ASSERT_FALSE(copy.timestamps.empty());
    EXPECT_GT(copy.timestamps.front(), last);  // no sample twice
    HistoryAnswer answer;
    answer.seconds = kSeconds;
    answer.copy = &copy;
    answer.up = true;
    std::string body;
    RenderHistory(body, answer);
    largest = std::max(largest, body.size());
    EXPECT_EQ(body.find("\"more\":true") != std::string::npos, copy.more);
    samples += copy.timestamps.size();
    last = copy.timestamps.back();
    since = last;
    more = copy.more;
  }
  EXPECT_EQ(samples, kSeconds);
  EXPECT_EQ(last, 1'700'000'000'000 + static_cast<std::int64_t>(kSeconds + 4) * 1000);
  EXPECT_LE(largest, 512u * 1024);
  std::printf("%zu pages, the largest answer %zu bytes\n", pages, largest);
}

}  // namespace
