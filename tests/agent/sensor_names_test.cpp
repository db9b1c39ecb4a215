// Names of readings: the rule, and how each answer shows them.
#include "agent/sensor_names.h"

#include <gtest/gtest.h>

#include <cstring>

#include "agent/renderers.h"
#include "foundation/conversions.h"
#include "tests/support/example_snapshot.h"

namespace {

SensorSnapshot Example() { return testing_support::ExampleSnapshot(); }

// Source names for the example: two temperatures, two fans, two voltages.
SourceNames ExampleSource() {
  SourceNames source;
  source.kinds[0] = {{"platform_coretemp_0", "coretemp", "temp1", "Package id 0"},
                     {"nvme", "nvme", "temp1", ""}};
  source.kinds[1] = {{"nct6775", "nct6775", "fan1", ""}, {"", "", "", ""}};
  source.kinds[2] = {{"nct6775", "nct6775", "in0", "Vcore"}, {"", "", "in1", ""}};
  return source;
}

TEST(SensorNames, TheRule) {
  ReadingLabels labels;
  labels.text[1][0] = L"Rear fan";
  labels.empty = false;
  const SensorNames names = NameSensors(Example(), labels, ExampleSource());
  EXPECT_TRUE(names.any);
  EXPECT_EQ(names.kinds[0][0].name.wide, L"coretemp Package id 0");  // chip name and driver label
  EXPECT_EQ(names.kinds[0][1].name.wide, L"nvme temp1");             // chip name and input
  EXPECT_EQ(names.kinds[1][0].name.wide, L"Rear fan");               // the user's label first
  EXPECT_EQ(names.kinds[1][1].name.wide, L"");                       // nothing known
  EXPECT_EQ(names.kinds[2][0].name.wide, L"nct6775 Vcore");
  EXPECT_EQ(names.kinds[2][1].name.wide, L"in1");
  EXPECT_EQ(names.kinds[0][0].chip.wide, L"platform_coretemp_0");
}

TEST(SensorNames, SourceNamesForAnotherSetOfEntriesAreNotUsed) {
  SourceNames source = ExampleSource();
  source.kinds[2].pop_back();  // names one voltage less than the block holds
  const SensorNames names = NameSensors(Example(), ReadingLabels{}, source);
  EXPECT_FALSE(names.any);
  for (const auto& kind : names.kinds) {
    for (const SensorName& n : kind) EXPECT_TRUE(n.name.empty() && n.chip.empty());
  }
}

TEST(SensorNames, WithoutNamesEveryAnswerIsAsBefore) {
  const SensorSnapshot s = Example();
  const SensorNames none = NameSensors(s, ReadingLabels{}, SourceNames{});
  EXPECT_FALSE(none.any);
  std::string plain, named, prom, prom_named;
  RenderHtml(plain, &s, CWString(), true, 8167);
  RenderHtml(named, &s, CWString(), true, 8167, &none);
  EXPECT_EQ(plain, named);
  RenderPrometheus(prom, &s, CWString());
  RenderPrometheus(prom_named, &s, CWString(), &none);
  EXPECT_EQ(prom, prom_named);
}

TEST(SensorNames, TheSensorsAnswerExactly) {
  const SensorSnapshot s = Example();
  std::string body;
  RenderSensors(body, &s, CWString(), nullptr);
  EXPECT_EQ(
      body,
      "{\"up\":true,\"error\":null,\"sensors\":["
      "{\"id\":\"temperature1\",\"kind\":\"temperature\",\"index\":1,\"value\":45.62,"
      "\"unit\":\"celsius\"},"
      "{\"id\":\"temperature2\",\"kind\":\"temperature\",\"index\":2,\"value\":38.1,"
      "\"unit\":\"celsius\"},"
      "{\"id\":\"fan1\",\"kind\":\"fan\",\"index\":1,\"value\":1234,\"unit\":\"rpm\"},"
      "{\"id\":\"fan2\",\"kind\":\"fan\",\"index\":2,\"value\":0,\"unit\":\"rpm\"},"
      "{\"id\":\"voltage1\",\"kind\":\"voltage\",\"index\":1,\"value\":1.2,\"unit\":\"volts\"},"
      "{\"id\":\"voltage2\",\"kind\":\"voltage\",\"index\":2,\"value\":3.3,\"unit\":\"volts\"}"
      "]}");
  const SensorNames names = NameSensors(s, ReadingLabels{}, ExampleSource());
  body.clear();
  RenderSensors(body, &s, CWString(), &names);
  EXPECT_NE(body.find("{\"id\":\"temperature1\",\"kind\":\"temperature\",\"index\":1,\"name\":"
                      "\"coretemp Package id 0\",\"value\":45.62,\"unit\":\"celsius\",\"chip\":"
                      "\"platform_coretemp_0\",\"chip_name\":\"coretemp\",\"input\":\"temp1\","
                      "\"label\":\"Package id 0\"}"),
            std::string::npos)
      << body;
  EXPECT_NE(
      body.find("{\"id\":\"fan2\",\"kind\":\"fan\",\"index\":2,\"value\":0,\"unit\":\"rpm\"}"),
      std::string::npos);
  body.clear();
  RenderSensors(body, nullptr, CWString(L"ERROR: \"x\"\\y"), nullptr);
  EXPECT_EQ(body, "{\"up\":false,\"error\":\"ERROR: \\\"x\\\"\\\\y\",\"sensors\":[]}");
}

TEST(SensorNames, ThePageAndPrometheusWithNames) {
  const SensorSnapshot s = Example();
  ReadingLabels labels;
  labels.text[0][0] = L"CPU package";
  labels.empty = false;
  SourceNames source;
  const SensorNames names = NameSensors(s, labels, source);
  std::string page;
  RenderHtml(page, &s, CWString(), true, 8167, &names);
  EXPECT_NE(page.find("<h3>Temperature Data</h3><table><tr><td>Temperature 1 (CPU package)</td>"
                      "<td>:</td><td>46 C</td></tr><tr><td>Temperature 2</td><td>:</td><td>38 C"
                      "</td></tr></table>"),
            std::string::npos)
      << page;
  std::string prom;
  RenderPrometheus(prom, &s, CWString(), &names);
  const std::string info =
      "# HELP kelvane_sensor_info Names of the readings; always 1.\n"
      "# TYPE kelvane_sensor_info gauge\n"
      "kelvane_sensor_info{kind=\"temperature\",sensor=\"1\",name=\"CPU package\"} 1\n";
  ASSERT_GE(prom.size(), info.size());
  EXPECT_EQ(prom.substr(prom.size() - info.size()), info);
}

TEST(SensorNames, AHostileNameIsTextInEveryAnswer) {
  const SensorSnapshot s = Example();
  ReadingLabels labels;
  labels.text[0][0] = CleanLabel(L"<a&b\"c\\d,e{0}f\ng \x00E9\x20AC");
  labels.empty = false;
  const SensorNames names = NameSensors(s, labels, SourceNames{});
  EXPECT_EQ(names.kinds[0][0].name.wide,
            L"<a&b\"c\\d,e{0}fg \x00E9\x20AC");  // the line feed dropped
  std::string page, prom, json;
  RenderHtml(page, &s, CWString(), true, 8167, &names);
  RenderPrometheus(prom, &s, CWString(), &names);
  RenderSensors(json, &s, CWString(), &names);
  const std::string narrow = WideToAnsi(std::wstring_view(L" \x00E9\x20AC"));
  EXPECT_NE(page.find("Temperature 1 (&lt;a&amp;b&quot;c\\d,e{0}fg" + narrow + ")</td>"),
            std::string::npos)
      << page;
  EXPECT_NE(prom.find("name=\"<a&b\\\"c\\\\d,e{0}fg \xC3\xA9\xE2\x82\xAC\""), std::string::npos)
      << prom;
  EXPECT_NE(json.find("\"name\":\"<a&b\\\"c\\\\d,e{0}fg \xC3\xA9\xE2\x82\xAC\""), std::string::npos)
      << json;
}

}  // namespace
