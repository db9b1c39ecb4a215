#include "agent/settings_section.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "agent/apply_settings.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"
#ifndef _WIN32
#include "platform/posix/file_read_cache.h"
#endif

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// The same table runs against the Windows private-profile functions (under
// wine) and the Linux reader: both must agree.
TEST(Profile, IntegerReadsAgreeWithThePrivateProfileRules) {
  struct Case {
    const char* content;
    int expected;  // the default is 999
  } cases[] = {
      {"[Settings]\r\nPort=8080\r\n", 8080},
      {"[Settings]\nPort=8080\n", 8080},
      {"[Settings]\r\nPort = 8080 \r\n", 8080},
      {"  [ settings ]  \r\n  port\t=\t8080\r\n", 8080},
      {"[Settings]\r\nPort=-5\r\n", -5},
      {"[Settings]\r\nPort=+5\r\n", 5},
      {"[Settings]\r\nPort=abc\r\n", 0},
      {"[Settings]\r\nPort=\r\n", 999},
      {"[Settings]\r\nPort=12abc\r\n", 12},
      {"[Settings]\r\nPort=13 ; note\r\n", 13},
      {"[Settings]\r\nPort=\"77\"\r\n", 77},
      {"[Settings]\r\nPort=99999999999\r\n", 1215752191},
      {"[Settings]\r\nPort=1\r\nPort=2\r\n", 1},
      {"[Settings]\r\nPort=5\r\n[Settings]\r\nPort=6\r\n", 5},
      {"[Settings]\r\nA=1\r\n[Other]\r\nPort=3\r\n[Settings]\r\nPort=4\r\n", 999},
      {"[Settings]\r\n;Port=7\r\n", 999},
      {"; comment\r\n\r\n[Other]\r\nPort=1\r\n\r\n[Settings] ; c\r\nPort=12\r\n", 12},
      {"Port=11\r\n[Settings]\r\n", 999},
      {"[Settings\r\nPort=15\r\n", 999},
      {"[Settings]\r\nPort=16", 16},
      {"", 999},
  };
  TempDir dir;
  std::wstring file = (dir / "case.ini").wstring();
  for (const auto& c : cases) {
    WriteFile(dir / "case.ini", c.content);
    EXPECT_EQ(platform::ReadIniInt(file, L"Settings", L"Port", 999), c.expected) << c.content;
  }
  std::wstring missing = (dir / "missing.ini").wstring();
  EXPECT_EQ(platform::ReadIniInt(missing, L"Settings", L"Port", 999), 999);
}

TEST(Profile, WriterKeepsEverythingElse) {
  TempDir dir;
  std::wstring file = (dir / "agent.ini").wstring();
  const std::string before =
      "; agent settings\r\n[Other]\r\nx = 1\r\n\r\n[settings]\r\nport = 1\r\nk=2\r\n"
      "\r\n[Last]\r\ny=2\r\n";
  WriteFile(dir / "agent.ini", before);
  ASSERT_TRUE(platform::WriteIniString(file, L"Settings", L"Port", L"9000"));
  ASSERT_TRUE(platform::WriteIniString(file, L"Settings", L"CanLaunch", L"1"));
  ASSERT_TRUE(platform::WriteIniString(file, L"New", L"Key", L"v"));
  EXPECT_EQ(platform::ReadIniInt(file, L"Settings", L"Port", 0), 9000);
  EXPECT_EQ(platform::ReadIniInt(file, L"Settings", L"CanLaunch", 0), 1);
  EXPECT_EQ(platform::ReadIniInt(file, L"Other", L"x", 0), 1);
  EXPECT_EQ(platform::ReadIniInt(file, L"Last", L"y", 0), 2);
  EXPECT_EQ(platform::ReadIniInt(file, L"New", L"Key", 5), 0);
  std::string after = ReadFile(dir / "agent.ini");
  EXPECT_NE(after.find("; agent settings"), std::string::npos);
#ifndef _WIN32
  // Our writer changes only the key's line and adds lines; everything else
  // stays byte for byte.
  EXPECT_EQ(after,
            "; agent settings\r\n[Other]\r\nx = 1\r\n\r\n[settings]\r\nport=9000\r\nk=2\r\n"
            "CanLaunch=1\r\n\r\n[Last]\r\ny=2\r\n[New]\r\nKey=v\r\n");
#endif
}

// Every kind of change, each followed by a read that must see it. `pause`
// comes before each change, so that with it each change gets a change time
// of its own.
void ExpectEveryChangeSeen(std::chrono::milliseconds pause) {
  TempDir dir;
  const std::filesystem::path path = dir / "agent.ini";
  const std::wstring file = path.wstring();
  auto port = [&] { return platform::ReadIniInt(file, L"Settings", L"Port", 999); };
  WriteFile(path, "[Settings]\r\nPort=1000\r\n");
  ASSERT_EQ(port(), 1000);
  ASSERT_EQ(port(), 1000);
  struct Change {
    const char* what;
    std::function<void()> make;
    int expected;
  } changes[] = {
      {"same size, in place", [&] { WriteFile(path, "[Settings]\r\nPort=2000\r\n"); }, 2000},
      {"longer, in place", [&] { WriteFile(path, "[Settings]\r\nPort=30000\r\n"); }, 30000},
      {"replaced by a rename",
       [&] {
         WriteFile(dir / "new.ini", "[Settings]\r\nPort=4000\r\n");
         std::filesystem::rename(dir / "new.ini", path);
       },
       4000},
      {"removed", [&] { std::filesystem::remove(path); }, 999},
      {"written again", [&] { WriteFile(path, "[Settings]\r\nPort=5000\r\n"); }, 5000},
  };
  for (const Change& change : changes) {
    std::this_thread::sleep_for(pause);
    change.make();
    EXPECT_EQ(port(), change.expected) << change.what;
    EXPECT_EQ(port(), change.expected) << change.what;
  }
}

TEST(Profile, EveryChangeIsSeenByTheNextRead) {
  // Each change right after the read before it.
  ExpectEveryChangeSeen(std::chrono::milliseconds(0));
#ifndef _WIN32
  // Texts of files changed a moment ago are reused too: each change then
  // shows by its stamp alone.
  platform::FileReadCacheSettings saved = platform::TheFileReadCacheSettings();
  platform::TheFileReadCacheSettings().settled_ms = 0;
  ExpectEveryChangeSeen(std::chrono::milliseconds(50));
  platform::TheFileReadCacheSettings() = saved;
#endif
}

TEST(Profile, WriteIntoAMissingFolderFails) {
  TempDir dir;
  std::wstring file = (dir / "no" / "such" / "agent.ini").wstring();
  EXPECT_FALSE(platform::WriteIniString(file, L"Settings", L"Port", L"1"));
}

TEST(Settings, PortAndFlagRules) {
  struct Case {
    const char* content;
    std::uint16_t port;
    bool can_launch;
  } cases[] = {
      {"[Settings]\r\nPort=8080\r\nCanLaunch=1\r\n", 8080, true},
      {"[Settings]\r\nPort=0\r\nCanLaunch=2\r\n", 8167, false},
      {"[Settings]\r\nPort=65536\r\nCanLaunch=yes\r\n", 8167, false},
      {"[Settings]\r\nPort=70000\r\nCanLaunch=0\r\n", 4464, false},
      {"[Settings]\r\nPort=abc\r\n", 8167, false},
      {"[Other]\r\nPort=1234\r\nCanLaunch=1\r\n", 8167, false},
      {"[settings]\r\ncanlaunch=1\r\n[Settings]\r\nPort=9\r\n", 8167, true},
      {"[Settings]\r\nCanLaunch=1\r\nPort=7\r\nPort=8\r\n", 7, true},
  };
  TempDir dir;
  std::wstring file = (dir / "agent.ini").wstring();
  for (const auto& c : cases) {
    WriteFile(dir / "agent.ini", c.content);
    EXPECT_EQ(ReadPortFrom(file), c.port) << c.content;
    EXPECT_EQ(ReadCanLaunchFrom(file), c.can_launch) << c.content;
    StoredSettings both = ReadSettingsFrom(file);  // one read, the same rules
    EXPECT_EQ(both.port, c.port) << c.content;
    EXPECT_EQ(both.can_launch, c.can_launch) << c.content;
  }
  EXPECT_EQ(ReadPortFrom((dir / "absent.ini").wstring()), 8167);
  EXPECT_EQ(ReadSettingsFrom((dir / "absent.ini").wstring()).port, 8167);
  EXPECT_FALSE(ReadSettingsFrom((dir / "absent.ini").wstring()).can_launch);
}

// The access keys are texts; the same table runs under wine (the profile
// functions) and on Linux (our reader).
TEST(Settings, AccessKeysWithCommentsAndOddSpacing) {
  struct Case {
    const char* content;
    const wchar_t* bind;
    const wchar_t* settings_from;
    const wchar_t* allow_origin;
  } cases[] = {
      {"[Settings]\r\nPort=8080\r\n", L"", L"", L""},
      {"[Settings]\r\nBind=127.0.0.1\r\nSettingsFrom=local\r\nAllowOrigin=*\r\n", L"127.0.0.1",
       L"local", L"*"},
      {"[settings]\n; SettingsFrom=none\n  settingsfrom =  127.0.0.1, 10.0.0.0/8 \n"
       "ALLOWORIGIN=\"http://dash.example\"\n bind\t= :: \n",
       L"::", L"127.0.0.1, 10.0.0.0/8", L"http://dash.example"},
      {"[Other]\r\nBind=1.2.3.4\r\n[Settings]\r\nPort=1\r\n", L"", L"", L""},
      {"[Settings]\r\nBind=\r\nSettingsFrom=\r\n", L"", L"", L""},
  };
  TempDir dir;
  const std::wstring file = (dir / "agent.ini").wstring();
  for (const Case& c : cases) {
    WriteFile(dir / "agent.ini", c.content);
    StoredSettings stored = ReadSettingsFrom(file);
    EXPECT_EQ(ReadBindFrom(file), c.bind) << c.content;
    EXPECT_EQ(stored.settings_from, c.settings_from) << c.content;
    EXPECT_EQ(stored.allow_origin, c.allow_origin) << c.content;
  }
}

TEST(Settings, HistorySecondsDefaultCapAndOff) {
  const struct {
    const char* content;
    std::int32_t seconds;
  } cases[] = {
      {"[Settings]\r\nPort=8080\r\n", kDefaultHistorySeconds},
      {"[Settings]\r\nHistory=600\r\n", 600},
      {"[settings]\n history =  120 \n", 120},
      {"[Settings]\r\nHistory=0\r\n", 0},
      {"[Settings]\r\nHistory=86400\r\n", kMaxHistorySeconds},
      {"[Settings]\r\nHistory=86401\r\n", kMaxHistorySeconds},
      {"[Settings]\r\nHistory=99999999999999999999\r\n", kMaxHistorySeconds},
      {"[Settings]\r\nHistory=\r\n", kDefaultHistorySeconds},
      {"[Settings]\r\nHistory=-5\r\n", kDefaultHistorySeconds},
      {"[Settings]\r\nHistory=1h\r\n", kDefaultHistorySeconds},
      {"[Other]\r\nHistory=5\r\n", kDefaultHistorySeconds},
  };
  TempDir dir;
  const std::wstring file = (dir / "agent.ini").wstring();
  for (const auto& c : cases) {
    WriteFile(dir / "agent.ini", c.content);
    EXPECT_EQ(ReadHistorySecondsFrom(file), c.seconds) << c.content;
  }
  for (const auto& [content, cap] : {std::pair<const char*, std::size_t>{"[Settings]\r\n", 0},
                                     {"[Settings]\r\nMaxConnections=500\r\n", 500},
                                     {"[Settings]\r\nMaxConnections=-3\r\n", 0},
                                     {"[Settings]\r\nMaxConnections=lots\r\n", 0}}) {
    WriteFile(dir / "agent.ini", content);
    EXPECT_EQ(ReadMaxConnectionsFrom(file), cap) << content;
  }
}

TEST(ApplySettings, RoundTripKeepsCommentsAndOtherSections) {
  TempDir dir;
  std::wstring file = (dir / "agent.ini").wstring();
  WriteFile(dir / "agent.ini", "; keep me\r\n[Other]\r\nName=value\r\n");
  ApplySettingsTo(file, L"unused", 9000, true);
  EXPECT_EQ(ReadPortFrom(file), 9000);
  EXPECT_TRUE(ReadCanLaunchFrom(file));
  std::string after = ReadFile(dir / "agent.ini");
  EXPECT_EQ(after.rfind("; keep me\r\n[Other]\r\nName=value\r\n", 0), 0u) << after;

  // Only the flag differs: both keys are written, the port unchanged.
  ApplySettingsTo(file, L"unused", 9000, false);
  EXPECT_EQ(ReadPortFrom(file), 9000);
  EXPECT_FALSE(ReadCanLaunchFrom(file));
}

TEST(ApplySettings, NothingChangedWritesNothing) {
  TempDir dir;
  std::wstring file = (dir / "agent.ini").wstring();
  const std::string content = "[Settings]\r\nPort = 8167 \r\nCanLaunch = 0\r\n";
  WriteFile(dir / "agent.ini", content);
  ApplySettingsTo(file, L"unused", 8167, false);
  EXPECT_EQ(ReadFile(dir / "agent.ini"), content);
}

TEST(ApplySettings, ConcurrentCallsLeaveOneCompleteResult) {
  TempDir dir;
  std::wstring file = (dir / "agent.ini").wstring();
  for (int round = 0; round < 30; ++round) {
    std::thread a([&] { ApplySettingsTo(file, L"unused", 1000, true); });
    std::thread b([&] { ApplySettingsTo(file, L"unused", 2000, false); });
    a.join();
    b.join();
    std::uint16_t port = ReadPortFrom(file);
    EXPECT_TRUE((port == 1000 && ReadCanLaunchFrom(file)) ||
                (port == 2000 && !ReadCanLaunchFrom(file)))
        << "round " << round << " port " << port;
  }
}

TEST(ApplySettings, RelaunchParameterText) {
  EXPECT_EQ(RelaunchParameters(8080, true), L"-relaunch -tested -setport 8080");
  EXPECT_EQ(RelaunchParameters(8080, false), L"-relaunch  -setport 8080");
  EXPECT_EQ(RelaunchParameters(65535, false), L"-relaunch  -setport 65535");
}

#ifndef _WIN32
// Both writes fail (the folder does not exist, which stops root too): the
// elevated copy is started through pkexec, observed by a stand-in on the PATH.
TEST(ApplySettings, UnwritableFolderRelaunchesElevated) {
  TempDir dir;
  std::filesystem::path record = dir / "pkexec.args";
  WriteFile(dir / "pkexec", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record.string() +
                                ".tmp'\nmv '" + record.string() + ".tmp' '" + record.string() +
                                "'\n");
  std::filesystem::permissions(dir / "pkexec", std::filesystem::perms::owner_all);
  std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (dir.path().string() + ":" + saved_path).c_str(), 1);
  std::wstring settings = (dir / "missing" / "agent.ini").wstring();
  ApplySettingsTo(settings, L"/opt/agent/KelvaneHTTPAgent", 8080, false);
  setenv("PATH", saved_path.c_str(), 1);
  for (int i = 0; i < 1200 && !std::filesystem::exists(record); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadFile(record), "/opt/agent/KelvaneHTTPAgent\n-relaunch\n-setport\n8080\n");
}
#endif

}  // namespace
