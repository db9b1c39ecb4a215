#include "foundation/cmdline.h"

#include <gtest/gtest.h>

namespace {

struct Expect {
  const wchar_t* key;
  bool has_key;
  const wchar_t* value;  // null: absent
};

struct Case {
  const wchar_t* line;
  std::vector<Expect> expects;
};

TEST(CmdLine, SwitchesAndValues) {
  const Case cases[] = {
      {L"agent.exe -setport 8080", {{L"setport", true, L"8080"}}},
      {L"agent.exe /setport:8080", {{L"setport", true, L"8080"}}},
      {L"agent.exe -SetPort=8080", {{L"setport", true, L"8080"}, {L"SETPORT", true, L"8080"}}},
      {L"agent.exe -d -setport 8080", {{L"d", true, L""}, {L"setport", true, L"8080"}}},
      {L"agent.exe -relaunch -tested -setport 8080",
       {{L"relaunch", true, L""}, {L"tested", true, L""}, {L"setport", true, L"8080"}}},
      {L"agent.exe -relaunch  -setport 8080",
       {{L"relaunch", true, L""}, {L"setport", true, L"8080"}}},
      {L"agent.exe -setport  8080", {{L"setport", true, L""}, {L"8080", false, nullptr}}},
      {L"agent.exe -setport", {{L"setport", true, L""}}},
      {L"agent.exe -name \"two words\" -x", {{L"name", true, L"two words"}, {L"x", true, L""}}},
      {L"agent.exe -name \"never closed -x",
       {{L"name", true, L"never closed -x"}, {L"x", false, nullptr}}},
      {L"agent.exe -setport 1 -setport 2", {{L"setport", true, L"1"}}},
      {L"agent.exe -", {{L"", false, nullptr}}},
      {L"agent.exe -d /", {{L"d", true, L""}}},
      {L"agent.exe -:5 -d", {{L"", false, nullptr}, {L"d", true, L""}}},
      {L"agent.exe - 5 -d", {{L"d", true, L""}}},
      {L"C:\\my-tools\\agent.exe -d", {{L"tools\\agent.exe", true, L""}, {L"d", true, L""}}},
      {L"\"C:\\my-tools\\agent.exe\" -d", {{L"tools\\agent.exe\"", true, L""}}},
      {L"agent.exe -D", {{L"d", true, L""}, {L"D", true, L""}}},
      {L"agent.exe -d\t-x", {{L"d\t-x", true, L""}}},
      {L"agent.exe -\u00c9T\u00c9", {{L"\u00e9t\u00e9", true, L""}}},
      {L"agent.exe -port=\"\" -y", {{L"port", true, L""}, {L"y", true, L""}}},
      {L"agent.exe -v Mixed -w", {{L"v", true, L"Mixed"}, {L"w", true, L""}}},
  };
  for (const Case& c : cases) {
    CCmdLineParser parser;
    parser.Parse(c.line);
    for (const Expect& e : c.expects) {
      EXPECT_EQ(parser.HasKey(e.key), e.has_key) << c.line << " key " << e.key;
      const wchar_t* value = parser.GetValue(e.key);
      if (e.value == nullptr) {
        EXPECT_EQ(value, nullptr) << c.line << " key " << e.key;
      } else {
        ASSERT_NE(value, nullptr) << c.line << " key " << e.key;
        EXPECT_STREQ(value, e.value) << c.line << " key " << e.key;
        EXPECT_EQ(parser.HasValue(e.key), *e.value != 0) << c.line << " key " << e.key;
      }
    }
  }
}

TEST(CmdLine, ReparseStartsEmptyAndCaseSensitiveKeepsCase) {
  CCmdLineParser parser(L"x -a 1");
  EXPECT_TRUE(parser.HasKey(L"a"));
  parser.Parse(L"x -b 2");
  EXPECT_FALSE(parser.HasKey(L"a"));
  EXPECT_TRUE(parser.HasKey(L"b"));
  parser.Parse(nullptr);  // no text: nothing changes
  EXPECT_TRUE(parser.HasKey(L"b"));

  CCmdLineParser exact(L"x -Key v", true);
  EXPECT_TRUE(exact.HasKey(L"Key"));
  EXPECT_FALSE(exact.HasKey(L"key"));
}

}  // namespace
