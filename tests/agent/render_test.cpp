#include <gtest/gtest.h>

#include <cstring>

#include "agent/agent_server.h"
#include "agent/renderers.h"
#include "tests/support/example_snapshot.h"

namespace {

SensorSnapshot Example() { return testing_support::ExampleSnapshot(); }

const CWString kNoError;
const char* kSimpleComment =
    "COMMENT:This line will always exist.  All lines end with <br/> to make viewing easier in a "
    "browser.  If there is an error, it will be on a line labeled ERROR:\r\n";
const char* kXmlHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<data>\r\n<comment>This "
    "node "
    "will always exist.  If there is an error, it will be in an &lt;error&gt; node.</comment>\r\n";
const char* kJsonHead =
    "{\r\n \"comment\": \"This line will always exist.  If there is an error, it will be in a "
    "value named 'error'\", \r\n";

template <class Render>
std::string Rendered(Render render, const SensorSnapshot* s, const CWString& error) {
  std::string body;
  render(body, s, error);
  return body;
}

TEST(Renderers, ExampleSnapshotInEachFormat) {
  SensorSnapshot s = Example();
  EXPECT_EQ(Rendered(RenderSimple, &s, kNoError),
            std::string(kSimpleComment) +
                "TEMPERATURES:46|38|\r\nFANS:1234|0|\r\nVOLTAGES:1.20|3.30|\r\n");
  EXPECT_EQ(Rendered(RenderXml, &s, kNoError),
            std::string(kXmlHead) +
                "<temperatures><temperature>46</temperature><temperature>38</temperature>"
                "</temperatures>\r\n<fans><fan>1234</fan><fan>0</fan></fans>\r\n<voltages>"
                "<voltage>1.20</voltage><voltage>3.30</voltage></voltages>\r\n</data>");
  EXPECT_EQ(Rendered(RenderJson, &s, kNoError),
            std::string(kJsonHead) +
                " \"temperatures\": [46,38], \r\n \"fans\": [12,0], \r\n \"voltages\": "
                "[1.20,3.30] \r\n}");
}

TEST(Renderers, ErrorForms) {
  CWString tested(L"Indicate Kelvane has been tested on this server and then refresh the page");
  std::string text = "Indicate Kelvane has been tested on this server and then refresh the page";
  EXPECT_EQ(Rendered(RenderSimple, nullptr, tested),
            std::string(kSimpleComment) + "ERROR: " + text + "\r\n");
  EXPECT_EQ(Rendered(RenderXml, nullptr, tested),
            std::string(kXmlHead) + "<error>" + text + "</error>\r\n</data>");
  EXPECT_EQ(Rendered(RenderJson, nullptr, tested),
            std::string(kJsonHead) + "\"error\" : \"" + text + "\"}");
  CWString prefixed(L"ERROR: /opt/kelvane not found.");
  EXPECT_EQ(Rendered(RenderSimple, nullptr, prefixed),
            std::string(kSimpleComment) + "ERROR: /opt/kelvane not found.\r\n");
}

TEST(Renderers, ErrorTextsAreEscapedForTheirFormat) {
  CWString hostile(L"ERROR: C:\\Tools\\kelvane.exe \"x\" <b>&\r\n\x01");
  EXPECT_EQ(Rendered(RenderJson, nullptr, hostile),
            std::string(kJsonHead) +
                "\"error\" : \"ERROR: C:\\\\Tools\\\\kelvane.exe \\\"x\\\" <b>&\\r\\n\\u0001\"}");
  EXPECT_EQ(Rendered(RenderXml, nullptr, hostile),
            std::string(kXmlHead) +
                "<error>ERROR: C:\\Tools\\kelvane.exe &quot;x&quot; &lt;b&gt;&amp;\r\n\x01"
                "</error>\r\n</data>");
  std::string page;
  RenderHtml(page, nullptr, hostile, false, 8167);
  EXPECT_NE(page.find("<p>ERROR: C:\\Tools\\kelvane.exe &quot;x&quot; &lt;b&gt;&amp;\r\n\x01</p>"),
            std::string::npos);
  // A very long error text is no problem for the body.
  std::wstring long_text(13000, L'\u00e9');
  EXPECT_GT(Rendered(RenderJson, nullptr, CWString(long_text)).size(), 13000u);
}

TEST(Renderers, XmlAndJsonAreUtf8WhateverTheCodePage) {
  // A folder name with U+00DC, as a German Windows has them: one byte in its
  // ANSI code page, two in UTF-8.
  const CWString error(
      L"ERROR: C:\\\x00DC"
      L"berwachung\\kelvane.exe not found.");
  const std::string utf8 =
      "ERROR: C:\\\\\xC3\x9C"
      "berwachung\\\\kelvane.exe not found.";
  std::string xml, json;
  RenderXml(xml, nullptr, error);
  RenderJson(json, nullptr, error);
  EXPECT_NE(xml.find("<error>ERROR: C:\\\xC3\x9C"
                     "berwachung\\kelvane.exe not found.</error>"),
            std::string::npos)
      << xml;
  EXPECT_NE(json.find(utf8), std::string::npos) << json;
}

TEST(Renderers, CountsSignsAndEmptyKinds) {
  SensorSnapshot s = Example();
  s.numFans = 40;
  for (int i = 0; i < 32; ++i) s.fans[i] = 7;
  s.numVolts = 0;
  s.temps[0] = -30;
  s.temps[1] = 4550;
  std::string simple = Rendered(RenderSimple, &s, kNoError);
  std::string fans;
  for (int i = 0; i < 32; ++i) fans += "7|";
  EXPECT_EQ(simple, std::string(kSimpleComment) + "TEMPERATURES:-0|46|\r\nFANS:" + fans +
                        "\r\nVOLTAGES:\r\n");
  EXPECT_NE(Rendered(RenderXml, &s, kNoError).find("<voltages></voltages>\r\n</data>"),
            std::string::npos);
  EXPECT_NE(Rendered(RenderJson, &s, kNoError).find(" \"voltages\": [] \r\n}"), std::string::npos);
  s.numVolts = 1;
  s.volts[0] = -250;
  EXPECT_NE(Rendered(RenderSimple, &s, kNoError).find("VOLTAGES:-2.50|\r\n"), std::string::npos);
}

TEST(HtmlPage, TablesFormAndNotes) {
  SensorSnapshot s = Example();
  std::string page;
  RenderHtml(page, &s, kNoError, true, 8167);
  EXPECT_EQ(page.rfind("<html><head><style>", 0), 0u);
  EXPECT_NE(page.find("<p>Current HTTP Port: 8167<br/>\r\n"), std::string::npos);
  EXPECT_NE(page.find("value=\"8167\""), std::string::npos);
  EXPECT_NE(page.find("id=\"canlaunch\" checked>"), std::string::npos);
  EXPECT_NE(
      page.find("<h3>Temperature Data</h3><table><tr><td>Temperature 1</td><td>:</td><td>46 "
                "C</td></tr><tr><td>Temperature 2</td><td>:</td><td>38 C</td></tr></table><hr><h3>"
                "Fan Data</h3><table><tr><td>Fan 1</td><td>:</td><td>1234 RPM</td></tr><tr><td>Fan "
                "2</td><td>:</td><td>0 RPM</td></tr></table><hr><h3>Voltage Data</h3><table><tr>"
                "<td>Voltage 1</td><td>:</td><td>1.20 V</td></tr><tr><td>Voltage "
                "2</td><td>:</td><td>3.30 V</td></tr></table><hr><p>We hope"),
      std::string::npos);
  EXPECT_EQ(page.find("<title>"), std::string::npos);
  EXPECT_EQ(page.find("Note:"), std::string::npos);
  EXPECT_NE(page.find("</div>\r\n\r\n</body></html>"), std::string::npos);

  std::string untested;
  RenderHtml(untested, nullptr, CWString(L"text"), false, 9000);
  EXPECT_NE(untested.find("id=\"canlaunch\" >"), std::string::npos);
  EXPECT_NE(untested.find("<hr><p>text</p><hr><p>We hope"), std::string::npos);

  s.numTemps = 40;
  s.version = 3;
  std::string noted;
  RenderHtml(noted, &s, CWString(L"This appears to be an unsupported version of Kelvane"), true,
             8167);
  EXPECT_NE(noted.find("<p>Note: An illegal value for the number of temperatures was received, so "
                       "double check the reported values against Kelvane.</p><p>This appears to "
                       "be an unsupported version of Kelvane</p>"),
            std::string::npos);
  EXPECT_EQ(noted.find("<table><tr><td>Temperature"), std::string::npos);

  s = Example();
  s.numTemps = s.numFans = s.numVolts = 33;
  std::string all;
  RenderHtml(all, &s, kNoError, true, 8167);
  EXPECT_NE(all.find("number of temperatures"), std::string::npos);
  EXPECT_NE(all.find("number of fans"), std::string::npos);
  EXPECT_NE(all.find("number of volts"), std::string::npos);
  EXPECT_NE(all.find("<td>Voltage 32</td>"), std::string::npos);
  EXPECT_EQ(all.find("<td>Voltage 33</td>"), std::string::npos);

  s = Example();
  s.numFans = s.numVolts = 0;
  std::string only_temps;
  RenderHtml(only_temps, &s, kNoError, true, 8167);
  EXPECT_NE(only_temps.find("C</td></tr></table><hr><p>We hope"), std::string::npos);
}

TEST(Endpoint, FormatAndPortChoices) {
  struct {
    const char* text;
    OutputFormat format;
  } formats[] = {{"json", OutputFormat::Json},
                 {"JSON", OutputFormat::Json},
                 {"Xml", OutputFormat::Xml},
                 {"simple", OutputFormat::Simple},
                 {"html", OutputFormat::Html},
                 {"", OutputFormat::Html},
                 {"prometheus", OutputFormat::Prometheus},
                 {"Prometheus", OutputFormat::Prometheus},
                 {"PROMETHEUS", OutputFormat::Prometheus},
                 {"prom", OutputFormat::Html}};
  for (const auto& f : formats) EXPECT_EQ(ChooseFormat(f.text), f.format) << f.text;
  struct {
    const char* text;
    std::uint16_t port;
  } ports[] = {{"8080", 8080},  {"abc", 8167}, {"0", 8167},      {"65536", 8167},
               {"70000", 4464}, {"-1", 65535}, {" 9000x", 9000}, {"99999999999", 65535}};
  for (const auto& p : ports) EXPECT_EQ(PortFromText(p.text), p.port) << p.text;
  // Only values that PortFromText keeps as they are (0 being the default).
  struct {
    const char* text;
    bool in_range;
  } ranges[] = {{"8080", true},         {"abc", true},           {"0", true},   {"65535", true},
                {"65536", false},       {"70000", false},        {"-1", false}, {" 9000x", true},
                {"99999999999", false}, {"-99999999999", false}, {"", true}};
  for (const auto& r : ranges) EXPECT_EQ(PortTextInRange(r.text), r.in_range) << r.text;
}

}  // namespace
