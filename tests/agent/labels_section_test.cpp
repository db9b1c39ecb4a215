// The [Labels] section: keys, values, limits and encodings.
#include "agent/labels_section.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

TEST(Labels, KeysValuesAndWhatIsIgnored) {
  const std::vector<std::string> lines = {
      "Temperature1=CPU package",
      "  fan2  =  Rear fan  ",
      "VOLTAGE3=\"+12V\"",
      "; Temperature2=a comment",
      "# Temperature3=also a comment",
      "Temperature4=",
      "Temperature33=beyond the block",
      "Temperature0=none",
      "Temperature05=leading zero",
      "Humidity1=unknown kind",
      "Temperature1=second line of a key",
      "Voltage32=last",
      "no equals sign",
      "Fan1=tab\there\x01"
      "and\x7f"
      "control",
  };
  const ReadingLabels labels = ParseLabels(lines);
  EXPECT_FALSE(labels.empty);
  EXPECT_EQ(labels.text[0][0], L"CPU package");
  EXPECT_EQ(labels.text[1][1], L"Rear fan");
  EXPECT_EQ(labels.text[2][2], L"+12V");
  EXPECT_EQ(labels.text[2][31], L"last");
  EXPECT_EQ(labels.text[1][0], L"tabhereandcontrol");
  for (int i : {1, 2, 3, 4}) EXPECT_EQ(labels.text[0][i], L"") << i;
  EXPECT_TRUE(ParseLabels({"; nothing", "Other=1"}).empty);
}

TEST(Labels, LongValuesAreCutToSixtyFourCharacters) {
  const std::string long_value(200, 'x');
  const ReadingLabels labels = ParseLabels({"Fan1=" + long_value, "Fan2=" + std::string(64, 'y')});
  EXPECT_EQ(labels.text[1][0], std::wstring(64, L'x'));
  EXPECT_EQ(labels.text[1][1], std::wstring(64, L'y'));
  // 70 euro signs, three bytes each in UTF-8: 64 characters kept.
  std::string euros;
  for (int i = 0; i < 70; ++i) euros += "\xE2\x82\xAC";
  EXPECT_EQ(ParseLabels({"Voltage1=" + euros}).text[2][0], std::wstring(64, L'\x20AC'));
}

TEST(Labels, Utf8BytesAreUtf8AndOthersTheAnsiCodePage) {
  const ReadingLabels labels =
      ParseLabels({"Temperature1=Geh\xC3\xA4use", "Temperature2=Geh\xE4use"});
  EXPECT_EQ(labels.text[0][0], L"Geh\x00E4use");
#ifdef _WIN32
  EXPECT_EQ(labels.text[0][1], L"Geh\x00E4use");  // code page 1252 (wine's default)
#else
  EXPECT_EQ(labels.text[0][1], L"Geh\xFFFDuse");  // UTF-8 always: an invalid byte is U+FFFD
#endif
}

TEST(Labels, ReadFromTheSettingsFile) {
  testing_support::TempDir dir;
  const auto file = dir / "agent.ini";
  testing_support::WriteFile(file,
                             "[Settings]\r\nPort=8167\r\nTemperature1=not here\r\n[labels]\r\n"
                             "temperature1 = CPU\r\n; Fan1=comment\r\nFan2=Rear\r\n[Other]\r\n"
                             "Fan3=not here either\r\n");
  const ReadingLabels labels = ReadLabelsFrom(file.wstring());
  EXPECT_EQ(labels.text[0][0], L"CPU");
  EXPECT_EQ(labels.text[1][0], L"");
  EXPECT_EQ(labels.text[1][1], L"Rear");
  EXPECT_EQ(labels.text[1][2], L"");
  EXPECT_TRUE(ReadLabelsFrom((dir / "missing.ini").wstring()).empty);
}

}  // namespace
