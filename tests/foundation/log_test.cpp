#include "foundation/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/exe_files.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

const std::regex kEntry(
    R"(\d\d-\d\d-\d{4}, \d\d:\d\d:\d\d\.\d{3}, TID:\d{5,}, PID:\d{5,}, (ERROR: |CRASH: )?)");

TEST(ExeFiles, NamesComeFromTheFileNameOnly) {
  struct Case {
    const wchar_t* exe;
    const wchar_t* ini;
    const wchar_t* log;
  } cases[] = {
      {L"C:\\Tools\\KelvaneHTTPAgent.exe", L"C:\\Tools\\KelvaneHTTPAgent.ini",
       L"C:\\Tools\\KelvaneHTTPAgent_Log.txt"},
      {L"/opt/agent/KelvaneHTTPAgent", L"/opt/agent/KelvaneHTTPAgent.ini",
       L"/opt/agent/KelvaneHTTPAgent_Log.txt"},
      {L"/opt/v1.2/KelvaneHTTPAgent", L"/opt/v1.2/KelvaneHTTPAgent.ini",
       L"/opt/v1.2/KelvaneHTTPAgent_Log.txt"},
      {L"C:\\my.tools\\agent.v2.exe", L"C:\\my.tools\\agent.v2.ini",
       L"C:\\my.tools\\agent.v2_Log.txt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SiblingFileName(c.exe, L".ini"), c.ini);
    EXPECT_EQ(SiblingFileName(c.exe, L"_Log.txt"), c.log);
  }
}

TEST(LogFile, SeparatorOncePerProcessThenEntries) {
  TempDir dir;
  std::wstring path = (dir / "agent_Log.txt").wstring();
  {
    LogFile first_process(path);
    first_process.WriteEntry(Error, L"first");
    first_process.WriteEntry(Plain, L"second with \u00e9\u20ac");
  }
  LogFile second_process(path);
  second_process.WriteEntry(Crash, L"third");
  std::string text = ReadFile(dir / "agent_Log.txt");
  ASSERT_EQ(text.rfind("\r\n\r\n\r\n", 0), 0u);
  std::vector<std::string> lines;
  std::stringstream in(text.substr(6));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u) << text;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[0], m, kEntry) && m.position(0) == 0) << lines[0];
  EXPECT_EQ(lines[0].substr(m.length(0)), "first\r");
  EXPECT_NE(lines[0].find("ERROR: first"), std::string::npos);
  EXPECT_NE(lines[1].find(", second with \xC3\xA9\xE2\x82\xAC\r"), std::string::npos);
  EXPECT_EQ(lines[1].find("ERROR"), std::string::npos);
  EXPECT_EQ(lines[2], "\r");
  EXPECT_EQ(lines[3], "\r");
  EXPECT_EQ(lines[4], "\r");
  EXPECT_NE(lines[5].find("CRASH: third\r"), std::string::npos);
}

TEST(LogFile, UnwritableFolderDropsEntriesAndTriesAgain) {
  TempDir dir;
  std::filesystem::path folder = dir / "later";
  LogFile log((folder / "agent_Log.txt").wstring());
  log.WriteEntry(Error, L"lost");
  std::filesystem::create_directories(folder);
  log.WriteEntry(Error, L"kept");
  std::string text = ReadFile(folder / "agent_Log.txt");
  EXPECT_EQ(text.rfind("\r\n\r\n\r\n", 0), 0u);
  EXPECT_EQ(text.find("lost"), std::string::npos);
  EXPECT_NE(text.find("ERROR: kept\r\n"), std::string::npos);
}

TEST(LogFile, EntriesFromManyThreadsNeverInterleave) {
  TempDir dir;
  LogFile log((dir / "agent_Log.txt").wstring());
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&log, t] {
      std::wstring text(300, static_cast<wchar_t>(L'a' + t));
      for (int i = 0; i < 150; ++i) log.WriteEntry(Plain, text.c_str());
    });
  }
  for (auto& th : threads) th.join();
  std::stringstream in(ReadFile(dir / "agent_Log.txt").substr(6));
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, kEntry) && m.position(0) == 0) << line;
    std::string body = line.substr(m.length(0));
    ASSERT_EQ(body.size(), 301u);
    EXPECT_EQ(body.find_first_not_of(body[0]), 300u) << body;
  }
  EXPECT_EQ(count, 900);
}

TEST(Log, LevelsAboveThreeWriteNothingAndLongTextIsKept) {
  std::filesystem::path path(LogFilePath());
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  Log(Debug, L"debug %d", 1);
  Log(Comm, L"comm %ls", L"x");
  EXPECT_FALSE(std::filesystem::exists(path));
  std::wstring big(20000, L'q');
  Log(Error, L"big %ls end", big.c_str());
  std::string text = ReadFile(path);
  EXPECT_NE(text.find("ERROR: big " + std::string(20000, 'q') + " end\r\n"), std::string::npos);
  std::filesystem::remove(path, ignored);
}

TEST(SystemErrorText, KnownAndUnknownCodes) {
  EXPECT_EQ(GetSystemErrorText(0x7FFFFFF0u), L"Unknown error value. ");
  CWString not_found = GetSystemErrorText(2);
  EXPECT_GT(not_found.GetLength(), 5);
  EXPECT_NE(not_found, L"Unknown error value. ");
}

}  // namespace

namespace {

class DesktopOwner : public IEventLogOwner {
 public:
  std::wstring ServiceName() const override { return L"KelvaneHTTPAgentTest"; }
  bool IsService() const override { return false; }
};

TEST(EventLog, DesktopCopyIsCutAt255Characters) {
  DesktopOwner owner;
  SetEventLogOwner(&owner);
  std::wstring long_text(300, L'e');
  testing::internal::CaptureStdout();
  ReportToEventLog(L"%ls", long_text.c_str());
  ReportToEventLog(L"HasKey %ls", L"d");
  // A pair cut in two on Windows would leave half a character behind.
  std::wstring pair_at_cut(254, L'p');
  pair_at_cut += L"\U0001F600";
  ReportToEventLog(L"%ls", pair_at_cut.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  SetEventLogOwner(nullptr);
#ifdef _WIN32
  const std::string pair_line = std::string(254, 'p') + "\n";
#else
  const std::string pair_line = std::string(254, 'p') + "\xF0\x9F\x98\x80\n";
#endif
  EXPECT_EQ(out, std::string(255, 'e') + "\nHasKey d\n" + pair_line);
}

}  // namespace
