#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "foundation/debug_channel.h"
#include "foundation/exe_files.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "sensors/attach.h"
#include "sensors/monitor_start.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// A block published by the test itself.
class TestBlock {
 public:
  explicit TestBlock(std::uint16_t temps = 5, std::uint16_t version = 1,
                     std::size_t size = kSnapshotSize) {
    EXPECT_TRUE(writer_.Create(kSnapshotName, size));
    if (size < kSnapshotSize) return;
    auto* s = static_cast<SensorSnapshot*>(writer_.Data());
    std::memset(s, 0, kSnapshotSize);
    s->version = version;
    s->memSize = static_cast<std::int32_t>(kSnapshotSize);
    s->handle = 0x1234;
    s->numTemps = temps;
    s->numFans = 2;
    for (int i = 0; i < kMaxSensorEntries; ++i) s->temps[i] = 100 * i, s->fans[i] = i;
  }
  void Remove() { writer_.Remove(); }

 private:
  platform::SharedMemoryWriter writer_;
};

class DebugCapture {
 public:
  DebugCapture() {
    SetDebugSink([this](const std::wstring& t) { text += t; });
  }
  ~DebugCapture() { SetDebugSink(nullptr); }
  std::wstring text;
};

// The stand-in monitor copied into a folder of its own, as the agent finds it.
class MonitorFolder {
 public:
  explicit MonitorFolder(const std::string& config) {
    exe_ = dir_ / (std::string("kelvane") + (KV_EXE_SUFFIX));
    std::filesystem::copy_file(KV_MONITOR_EXE, exe_);
    // Simulated readings whatever sensors this machine has.
    WriteFile(dir_ / "kelvaneparams.cfg", "Source=simulated\r\n" + config);
  }
  ~MonitorFolder() {
    SnapshotState& state = TheSnapshotState();
    ReleaseSnapshot(state);
    platform::TerminateStartedProcess(state.monitor);
    platform::CloseProcess(state.monitor);
    state.monitor = platform::kNoProcess;
  }
  std::wstring exe() const { return exe_.wstring(); }
  int Starts() const {
    std::string log = ReadFile(dir_ / "kelvane_starts.txt");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }
  std::string Config() const { return ReadFile(dir_ / "kelvaneparams.cfg"); }

 private:
  TempDir dir_;
  std::filesystem::path exe_;
};

class SnapshotTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = MonitorWaitSettings();
    MonitorWaitSettings() = {15, 100};
  }
  void TearDown() override {
    ReleaseSnapshot(TheSnapshotState());
    MonitorWaitSettings() = saved_;
  }
  MonitorWait saved_;
};

std::string LogText() { return ReadFile(std::filesystem::path(LogFilePath())); }

TEST_F(SnapshotTest, ValidBlockIsReturnedQuietly) {
  TestBlock block(5);
  DebugCapture debug;
  CWString error;
  const SensorSnapshot* view = AttachSensorSnapshot(L"/nowhere/kelvane", error);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::uint16_t{view->numTemps}, 5);
  EXPECT_EQ(std::int32_t{view->temps[3]}, 300);
  EXPECT_TRUE(IsValidSnapshot(*view));
  EXPECT_TRUE(error.IsEmpty());
  EXPECT_EQ(debug.text, L"");
  const SensorSnapshot* again = AttachSensorSnapshot(L"/nowhere/kelvane", error);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(std::int32_t{again->temps[3]}, 300);
}

TEST_F(SnapshotTest, ImplausibleCountIsDumpedAndStillReturned) {
  TestBlock block(40);
  DebugCapture debug;
  CWString error;
  const SensorSnapshot* view = AttachSensorSnapshot(L"/nowhere/kelvane", error);
  ASSERT_NE(view, nullptr);
  std::wstring temps, fans;
  for (int i = 0; i < 32; ++i) {
    temps += std::to_wstring(100 * i) + L", ";
    fans += std::to_wstring(i) + L", ";
  }
  EXPECT_EQ(debug.text,
            L"Bad Kelvane data: \r\nVer: 1, Flags: 0000, MemSize: 402, StructSize: 402, Handle: "
            L"x00001234\r\n#Temps: 40, #Fans: 2, #Volts: 0\r\nTemps: " +
                temps + L"\r\nFans: " + fans + L"\r\n");
}

TEST_F(SnapshotTest, OtherVersionsAreTheCallersToReject) {
  TestBlock block(5, 2);
  CWString error;
  const SensorSnapshot* view = AttachSensorSnapshot(L"/nowhere/kelvane", error);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::uint16_t{view->version}, 2);
  EXPECT_FALSE(IsValidSnapshot(*view));
}

TEST_F(SnapshotTest, VanishedBlockWithNoMonitorToStart) {
  TestBlock block(5);
  CWString error;
  ASSERT_NE(AttachSensorSnapshot(L"/nowhere/kelvane", error), nullptr);
  block.Remove();
  DebugCapture debug;
  EXPECT_EQ(AttachSensorSnapshot(L"/nowhere/kelvane", error), nullptr);
  EXPECT_TRUE(error.IsEmpty());  // the start failed: its log says why
  EXPECT_EQ(debug.text, L"");
  EXPECT_NE(LogText().find("ERROR: Failed to start /nowhere/kelvane.  Err="), std::string::npos);
}

TEST_F(SnapshotTest, EveryCallSeesTheCurrentBlock) {
  CWString error;
  {
    TestBlock first(5);
    ASSERT_NE(AttachSensorSnapshot(L"/nowhere/kelvane", error), nullptr);
    first.Remove();
    TestBlock second(7);
    const SensorSnapshot* view = AttachSensorSnapshot(L"/nowhere/kelvane", error);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::uint16_t{view->numTemps}, 7);
  }
  // The same block published anew in place, as a monitor's refresh does:
  // the next call reads the new values, the one after them still.
  TestBlock block(5);
  ASSERT_NE(AttachSensorSnapshot(L"/nowhere/kelvane", error), nullptr);
  platform::SharedMemoryWriter writer;
  ASSERT_TRUE(writer.Create(kSnapshotName, kSnapshotSize));
  for (std::uint16_t temps : {9, 9, 4}) {
    SensorSnapshot next;
    std::memcpy(&next, writer.Data(), kSnapshotSize);
    next.numTemps = temps;
    writer.Publish(&next, kSnapshotSize);
    const SensorSnapshot* view = AttachSensorSnapshot(L"/nowhere/kelvane", error);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::uint16_t{view->numTemps}, temps);
    EXPECT_EQ(AttachSensorSnapshot(L"/nowhere/kelvane", error)->numTemps, temps);
  }
  writer.Leave();
}

#ifndef _WIN32
TEST_F(SnapshotTest, ShortBlockIsAMapErrorNotACrash) {
  TestBlock block(5, 1, 100);
  DebugCapture debug;
  CWString error;
  EXPECT_EQ(AttachSensorSnapshot(L"/nowhere/kelvane", error), nullptr);
  EXPECT_EQ(debug.text, L"Can't connect to Kelvane shared memory.  OFM=0, MVoF=22\r\n");
  EXPECT_EQ(error, L"Invalid argument");
}
#endif

TEST_F(SnapshotTest, MissingBlockStartsTheMonitorAndWaitsForIt) {
  MonitorFolder monitor("StartDelayMs=250\r\nStartupHide=false\r\nStartLog=1\r\n");
  CWString error;
  const SensorSnapshot* view = AttachSensorSnapshot(monitor.exe().c_str(), error);
  ASSERT_NE(view, nullptr) << std::string(error.View().begin(), error.View().end());
  EXPECT_TRUE(IsValidSnapshot(*view));
  EXPECT_EQ(std::uint16_t{view->numTemps}, 5);
  EXPECT_NE(monitor.Config().find("StartupHide=true\r\n"), std::string::npos);
  ASSERT_NE(AttachSensorSnapshot(monitor.exe().c_str(), error), nullptr);
  EXPECT_EQ(monitor.Starts(), 1);
}

TEST_F(SnapshotTest, RunningMonitorIsNotStartedTwiceButAnEndedOneIs) {
  MonitorWaitSettings() = {3, 100};
  MonitorFolder monitor("StartDelayMs=60000\r\nStartLog=1\r\n");
  DebugCapture debug;
  CWString error;
  EXPECT_EQ(AttachSensorSnapshot(monitor.exe().c_str(), error), nullptr);
  EXPECT_FALSE(error.IsEmpty());  // the system's text for a missing object
  EXPECT_NE(debug.text.find(L"Can't connect to Kelvane shared memory.  OFM="), std::wstring::npos);
  for (int i = 0; i < 1200 && monitor.Starts() < 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  CWString second;
  EXPECT_EQ(AttachSensorSnapshot(monitor.exe().c_str(), second), nullptr);
  EXPECT_EQ(second, error);
  EXPECT_EQ(monitor.Starts(), 1);

  platform::TerminateStartedProcess(TheSnapshotState().monitor);
  EXPECT_EQ(AttachSensorSnapshot(monitor.exe().c_str(), second), nullptr);
  for (int i = 0; i < 1200 && monitor.Starts() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(monitor.Starts(), 2);
}

TEST(MonitorConfig, PathBesideTheMonitor) {
#ifdef _WIN32
  EXPECT_EQ(MonitorConfigPath(L"C:\\Tools\\Kelvane.EXE"), L"c:\\tools\\kelvaneparams.cfg");
  EXPECT_EQ(MonitorConfigPath(L"C:\\Tools\\other.exe"), L"c:\\tools\\other.exe");
#else
  EXPECT_EQ(MonitorConfigPath(L"/opt/My.Tools/kelvane"), L"/opt/My.Tools/kelvaneparams.cfg");
#endif
}

TEST(MonitorConfig, StartupHideEditKeepsEveryOtherByte) {
  TempDir dir;
  CWString path((dir / "kelvaneparams.cfg").wstring());
  struct Case {
    std::string before, after;
  } cases[] = {
      {"a=1\r\nStartupHide=false\r\nb=2\r\nStartupHide=false",
       "a=1\r\nStartupHide=true\r\nb=2\r\nStartupHide=true"},
      {"startuphide=false\r\n", "startuphide=false\r\n"},
      {std::string("StartupHide=false\0tail\xff\x80", 24),
       std::string("StartupHide=true\0tail\xff\x80", 23)},
      {std::string("x\0StartupHide=false", 19), std::string("x\0StartupHide=true", 18)},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "kelvaneparams.cfg", c.before);
    EnableStartupHide(path);
    EXPECT_EQ(ReadFile(dir / "kelvaneparams.cfg"), c.after);
  }
}

TEST(MonitorConfig, UnreadableAndUnwritableFilesAreLogged) {
  TempDir dir;
  CWString missing((dir / "kelvaneparams.cfg").wstring());
  EnableStartupHide(missing);
  EXPECT_NE(LogText().find("Could not open " + (dir / "kelvaneparams.cfg").string() +
                           " to check values. Err="),
            std::string::npos);
#ifdef _WIN32
  // A file held open by someone who does not share deletion cannot be
  // replaced.
  std::filesystem::path long_name = dir / "kelvaneparams.cfg";
  WriteFile(long_name, "StartupHide=false");
  std::ifstream holder(long_name);
#else
  // A name the system can read but whose temporary sibling it refuses (too
  // long), so the replacement fails even for root.
  std::filesystem::path long_name = dir / std::string(250, 'k');
  WriteFile(long_name, "StartupHide=false");
#endif
  EnableStartupHide(CWString(long_name.wstring()));
  EXPECT_EQ(ReadFile(long_name), "StartupHide=false");

  EXPECT_NE(LogText().find(" to update value. Err="), std::string::npos);
}

#ifndef _WIN32
// Where Linux keeps the block, for tests that put something else there.
const std::filesystem::path kBlockPath = "/dev/shm/KVSharedMemory_ORB";

std::string Narrow(const CWString& text) {
  std::string out;
  for (wchar_t c : text.View()) out += static_cast<char>(c);
  return out;
}

TEST_F(SnapshotTest, UntrustedObjectsAreRefusedAtOnceAndStartNoMonitor) {
  MonitorFolder monitor("StartupHide=false\r\nStartLog=1\r\n");
  TempDir dir;
  WriteFile(dir / "elsewhere", std::string(kSnapshotSize, '\0'));
  struct Case {
    const char* name;
    std::function<bool()> plant;
    const char* reason;
  };
  const Case cases[] = {
      {"fifo", [] { return mkfifo(kBlockPath.c_str(), 0644) == 0; }, "is not a regular file"},
      {"symlink", [&] { return symlink((dir / "elsewhere").c_str(), kBlockPath.c_str()) == 0; },
       "is a symbolic link"},
      {"directory", [] { return mkdir(kBlockPath.c_str(), 0755) == 0; }, "is not a regular file"},
      {"world-writable",
       [] {
         WriteFile(kBlockPath, std::string(kSnapshotSize, '\0'));
         return chmod(kBlockPath.c_str(), 0666) == 0;
       },
       "may be written by other users"},
      {"another user's",
       [] {
         WriteFile(kBlockPath, std::string(kSnapshotSize, '\0'));
         return chown(kBlockPath.c_str(), 65534, 65534) == 0;
       },
       "belongs to another user (uid 65534)"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(kBlockPath);
    if (!c.plant()) {
      ADD_FAILURE() << c.name << ": could not be planted (not root?)";
      continue;
    }
    CWString error;
    EXPECT_EQ(AttachSensorSnapshot(monitor.exe().c_str(), error), nullptr) << c.name;
    EXPECT_NE(Narrow(error).find(c.reason), std::string::npos) << c.name << ": " << Narrow(error);
  }
  std::filesystem::remove_all(kBlockPath);
  EXPECT_EQ(monitor.Starts(), 0);
}

TEST_F(SnapshotTest, ABlockNoLiveWriterHoldsIsMissing) {
  {
    platform::SharedMemoryWriter writer;
    ASSERT_TRUE(writer.Create(kSnapshotName, kSnapshotSize));
    writer.Leave();  // as a killed monitor leaves it
  }
  ASSERT_TRUE(std::filesystem::exists(kBlockPath));
  CWString error;
  EXPECT_EQ(AttachSensorSnapshot(L"/nowhere/kelvane", error), nullptr);
  EXPECT_TRUE(error.IsEmpty());  // missing: the start was tried, and its log says why
  EXPECT_NE(LogText().find("ERROR: Failed to start /nowhere/kelvane.  Err="), std::string::npos);
  std::filesystem::remove(kBlockPath);
}

TEST_F(SnapshotTest, TheOnePublisherRemovesItsStaleBlockAndRefusesOthers) {
  std::string why;
  {
    platform::SharedMemoryWriter stale;
    ASSERT_TRUE(stale.Create(kSnapshotName, kSnapshotSize));
    stale.Leave();
  }
  platform::SharedMemoryWriter publisher;
  ASSERT_TRUE(publisher.CreateExclusive(kSnapshotName, kSnapshotSize, why)) << why;
  platform::SharedMemoryWriter second;
  EXPECT_FALSE(second.CreateExclusive(kSnapshotName, kSnapshotSize, why));
  EXPECT_NE(why.find("another running monitor"), std::string::npos) << why;
  publisher.Remove();
  WriteFile(kBlockPath, std::string(kSnapshotSize, '\0'));
  ASSERT_EQ(chown(kBlockPath.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(second.CreateExclusive(kSnapshotName, kSnapshotSize, why));
  EXPECT_NE(why.find("belongs to another user (uid 65534)"), std::string::npos) << why;
  EXPECT_EQ(ReadFile(kBlockPath).size(), kSnapshotSize);  // left alone
  std::filesystem::remove(kBlockPath);
}

TEST_F(SnapshotTest, AWriterAtFullSpeedNeverGivesAMixOfTwoBlocks) {
  SensorSnapshot blocks[2];
  for (int b = 0; b < 2; ++b) {
    std::memset(&blocks[b], b == 0 ? 0x11 : 0x22, sizeof blocks[b]);
  }
  platform::SharedMemoryWriter writer;
  std::string why;
  ASSERT_TRUE(writer.CreateExclusive(kSnapshotName, kSnapshotSize, why)) << why;
  writer.Publish(&blocks[0], sizeof blocks[0]);
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    for (unsigned i = 0; !stop; ++i) writer.Publish(&blocks[i % 2], sizeof blocks[i % 2]);
  });
  int mixed = 0, failed = 0;
  for (int i = 0; i < 10000; ++i) {
    CWString error;
    const SensorSnapshot* view = AttachSensorSnapshot(L"/nowhere/kelvane", error);
    if (view == nullptr) {
      ++failed;
      continue;
    }
    SensorSnapshot copy;
    CopySnapshot(*view, copy);
    if (std::memcmp(&copy, &blocks[0], sizeof copy) != 0 &&
        std::memcmp(&copy, &blocks[1], sizeof copy) != 0) {
      ++mixed;
    }
  }
  stop = true;
  busy.join();
  // A writer that never pauses may keep a read from ever finding the block
  // still (an error text then, never a mix); most reads still succeed.
  EXPECT_EQ(mixed, 0);
  EXPECT_LT(failed, 10000);
  std::printf("%d of 10000 reads met a copy under way every time\n", failed);
}
#endif

}  // namespace
