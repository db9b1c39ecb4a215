#include "foundation/format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

std::wstring Formatted(const wchar_t* format, const FormatArgList& args) {
  CWString out;
  if (Format(out, format, args) < 0) return L"<failed>";
  return std::wstring(out.View());
}

FormatArgList Args(std::initializer_list<FormatArg> list) {
  FormatArgList args;
  for (const FormatArg& a : list) args.push_back(a);
  return args;
}

TEST(Format, ShortInputsFromTheTable) {
  struct Case {
    const wchar_t* format;
    FormatArgList args;
    const wchar_t* result;
  };
  const Case cases[] = {
      {L"{0}", Args({}), L"@@@"},
      {L"a{1}b{0}", Args({1}), L"a@@@"},
      {L"{{0}", Args({}), L"{0}"},
      {L"}}", Args({}), L"}}"},
      {L"{x}", Args({}), L"{x}"},
      {L"{12,5}", Args({}), L"{12,5}"},
      {L"abc{0", Args({1}), L"abc"},
      {L"abc{0:04X", Args({1}), L"abc"},
      {L"{}-{}", Args({3, 4}), L"3-4"},
      {L"{1}{}", Args({L"a", L"b", L"c"}), L"bb"},
      {L"{}{}{0}{}", Args({L"a", L"b", L"c", L"d"}), L"abad"},
      {L"{0:}", Args({5}), L"5"},
      {L"x{0}y{1}z", Args({L"mid", 7u}), L"xmidy7z"},
      {L"{0} and {0}", Args({L"same"}), L"same and same"},
      {L"{1{0}", Args({L"a", L"b"}), L"{1a"},
      {L"{0}", Args({static_cast<const wchar_t*>(nullptr)}), L""},
      {L"[{0}]", Args({"narrow"}), L"[narrow]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Formatted(c.format, c.args), c.result) << c.format;
    wchar_t buffer[64];
    int n = FormatToBuffer(c.format, buffer, 64, c.args);
    EXPECT_EQ(n, static_cast<int>(wcslen(c.result))) << c.format;
    EXPECT_EQ(FormatToBuffer(c.format, nullptr, -1, c.args), n) << c.format;
  }
}

TEST(Format, SpecsOfTheSystem) {
  struct Case {
    const wchar_t* format;
    FormatArg arg;
    const wchar_t* result;
  };
  const Case cases[] = {
      {L"{0}", FormatArg(402u), L"402"},
      {L"{0:03d}", FormatArg(7), L"007"},
      {L"{0:02d}", FormatArg(static_cast<unsigned short>(5)), L"05"},
      {L"{0:05d}", FormatArg(123456u), L"123456"},
      {L"{0:04X}", FormatArg(31), L"001F"},
      {L"{0:08X}", FormatArg(4660u), L"00001234"},
      {L"{0:0.0f}", FormatArg(45.75), L"46"},
      {L"{0:0.2f}", FormatArg(12.0), L"12.00"},
      {L"{0:0.2f}", FormatArg(-2.5), L"-2.50"},
      {L"{0:0.0f}", FormatArg(-0.3), L"-0"},
      // Exact ties round to even; 2.675 is stored a little below itself.
      {L"{0:0.0f}", FormatArg(22.5), L"22"},
      {L"{0:0.0f}", FormatArg(23.5), L"24"},
      {L"{0:0.0f}", FormatArg(-2.5), L"-2"},
      {L"{0:0.2f}", FormatArg(2.675), L"2.67"},
      {L"{0:0.2f}", FormatArg(0.125), L"0.12"},
      {L"{0:0.1f}", FormatArg(1e21), L"1000000000000000000000.0"},
      {L"{0:8.2f}|", FormatArg(3.14159), L"    3.14|"},
      {L"{0:08.2f}", FormatArg(-3.14159), L"-0003.14"},
      {L"{0:+.1f}", FormatArg(2.0), L"+2.0"},
      {L"{0}", FormatArg(-17), L"-17"},
      {L"{0}", FormatArg(0xFFFFFFFFu), L"4294967295"},
      {L"{0}", FormatArg(1.5), L"1.500000"},
      {L"{0}", FormatArg(-9000000000LL), L"-9000000000"},
      {L"{0:I64X}", FormatArg(0x1234567890ULL), L"1234567890"},
      {L"{0:-5d}|", FormatArg(42), L"42   |"},
      {L"{0:+d}", FormatArg(42), L"+42"},
      {L"{0:#x}", FormatArg(255), L"0xff"},
      {L"{0:.3d}", FormatArg(-5), L"-005"},
      {L"{0:6s}|", FormatArg(L"ab"), L"    ab|"},
      {L"{0:.2s}", FormatArg(L"abcdef"), L"ab"},
      {L"{0}", FormatArg(L'W'), L"W"},
      {L"{0}", FormatArg::Make(FormatArgKind::HexByte, 10), L"0A"},
      {L"{0}", FormatArg::Make(FormatArgKind::Pointer, 0x1234), L"0000000000001234"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Formatted(c.format, Args({c.arg})), c.result) << c.format;
  }
}

TEST(Format, SpecsThatDoNotFitTheKindFail) {
  struct Case {
    const wchar_t* format;
    FormatArg arg;
  };
  const Case cases[] = {
      {L"{0:s}", FormatArg(5)},        // text conversion on a number
      {L"{0:f}", FormatArg(5)},        // double conversion on an integer
      {L"{0:d}", FormatArg(1.5)},      // integer conversion on a double
      {L"{0:d}", FormatArg(5LL)},      // 64-bit value without its size prefix
      {L"{0:I64d}", FormatArg(5)},     // 64-bit conversion on a 32-bit value
      {L"{0:S}", FormatArg(L"wide")},  // 8-bit text conversion on wide text
      {L"{0:*d}", FormatArg(5)},       // width from the argument list
      {L"{0:5000d}", FormatArg(5)},    // absurd width
      {L"{0:dd}", FormatArg(5)},       // trailing junk
      {L"{0:n}", FormatArg(5)},        // writes through a pointer
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Formatted(c.format, Args({c.arg})), L"<failed>") << c.format;
    EXPECT_EQ(FormatToBuffer(c.format, nullptr, -1, Args({c.arg})), -1) << c.format;
  }
  std::wstring long_spec = L"{0:" + std::wstring(63, L'1') + L"d}";
  EXPECT_EQ(FormatToBuffer(long_spec.c_str(), nullptr, -1, Args({1})), -1);
}

TEST(Format, SnapshotDumpLine) {
  FormatArgList args = Args({1, 0, 402, 402u, 4660u});
  EXPECT_EQ(Formatted(L"Ver: {0}, Flags: {1:04X}, MemSize: {2}, StructSize: {3}, "
                      L"Handle: x{4:08X}\r\n",
                      args),
            L"Ver: 1, Flags: 0000, MemSize: 402, StructSize: 402, Handle: x00001234\r\n");
}

TEST(Format, LogPrefixOfNineArguments) {
  CWString out;
  Format(out,
         L"{0:02d}-{1:02d}-{2:04d}, {3:02d}:{4:02d}:{5:02d}.{6:03d}, TID:{7:05d}, PID:{8:05d}, ",
         static_cast<unsigned short>(12), static_cast<unsigned short>(8),
         static_cast<unsigned short>(2026), static_cast<unsigned short>(1),
         static_cast<unsigned short>(5), static_cast<unsigned short>(9),
         static_cast<unsigned short>(42), 1234u, 5678u);
  EXPECT_EQ(out, L"12-08-2026, 01:05:09.042, TID:01234, PID:05678, ");
}

TEST(Format, ScratchBufferBoundary) {
  // 4085 characters come from the single pass; 4086 and more are measured and
  // formatted again, with the same text.
  for (int length : {4084, 4085, 4086, 4087, 4095, 4096, 5000}) {
    std::wstring text(static_cast<std::size_t>(length - 2), L'x');
    std::wstring format = L"<" + text + L"{0}";
    std::wstring result = Formatted(format.c_str(), Args({L">"}));
    EXPECT_EQ(result.size(), static_cast<std::size_t>(length)) << length;
    EXPECT_EQ(result, L"<" + text + L">") << length;
  }
  wchar_t buffer[kFormatScratchChars];
  std::wstring text(4085, L'y');
  EXPECT_EQ(FormatToBuffer(L"{0}", buffer, kFormatScratchChars, Args({text.c_str()})), 4085);
}

TEST(Format, LongWideTextFailsTheSinglePassButNotTheMeasuredOne) {
  std::wstring big(6000, L'z');
  wchar_t buffer[kFormatScratchChars];
  EXPECT_EQ(FormatToBuffer(L"ab{0}", buffer, kFormatScratchChars, Args({big.c_str()})), -1);
  EXPECT_EQ(FormatToBuffer(L"ab{0}", nullptr, -1, Args({big.c_str()})), 6002);
  EXPECT_EQ(Formatted(L"ab{0}", Args({big.c_str()})), L"ab" + big);
}

TEST(Format, WritingModeStopsAtCapacity) {
  wchar_t buffer[6] = L"zzzzz";
  int n = FormatToBuffer(L"abcdefgh", buffer, 5, Args({}));
  EXPECT_EQ(n, 5);
  EXPECT_STREQ(buffer, L"abcd");
}

TEST(Format, FailedConversionLeavesTheTargetUnchanged) {
  CWString out(L"kept");
  EXPECT_EQ(Format(out, L"{0:s}", Args({5})), -1);
  EXPECT_EQ(out, L"kept");
}

TEST(Format, CommaLocaleStillWritesAPoint) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"};
  std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      chosen = name;
      break;
    }
  }
  if (chosen == nullptr) GTEST_SKIP() << "no comma-decimal locale installed";
  std::wstring two = Formatted(L"{0:0.2f}", Args({1234.5}));
  std::wstring plain = Formatted(L"{0}", Args({0.25}));
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(two, L"1234.50") << chosen;
  EXPECT_EQ(plain, L"0.250000") << chosen;
}

}  // namespace
