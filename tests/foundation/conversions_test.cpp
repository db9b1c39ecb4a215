#include "foundation/conversions.h"

#include <gtest/gtest.h>

namespace {

TEST(Conversions, RoundTripsTextTheAnsiCodePageCanHold) {
  // Characters every Western ANSI code page and UTF-8 both hold.
  const wchar_t* text = L"Gr\u00fc\u00dfe, caf\u00e9 \u00b0C";
  EXPECT_EQ(AnsiToWide(WideToAnsi(text)), text);
  EXPECT_EQ(AnsiToWide(""), L"");
  EXPECT_EQ(WideToAnsi(L""), "");
}

TEST(Conversions, Utf8IsExactOnEveryTarget) {
  EXPECT_EQ(WideToUtf8(L"\u00e9\u20ac"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");  // a pair on Windows
  EXPECT_EQ(WideToUtf8(L"plain"), "plain");
}

#ifndef _WIN32
TEST(Conversions, LinuxAnsiIsUtf8WithReplacementForInvalidInput) {
  EXPECT_EQ(AnsiToWide("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), L"\u00e9\u20ac\U0001F600");
  struct Case {
    const char* bytes;
    const wchar_t* wide;
  } cases[] = {
      {"a\xFF"
       "b",
       L"a\uFFFDb"},                                      // never a lead byte
      {"\xC3", L"\uFFFD"},                                // cut short at the end
      {"\xC3(", L"\uFFFD("},                              // bad continuation
      {"\xC0\xAF", L"\uFFFD\uFFFD"},                      // overlong
      {"\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
  };
  for (const Case& c : cases) EXPECT_EQ(AnsiToWide(c.bytes), c.wide) << c.bytes;
  const wchar_t lone[] = {static_cast<wchar_t>(0xD800), 0};
  EXPECT_EQ(WideToAnsi(lone), "\xEF\xBF\xBD");
}
#endif

}  // namespace
