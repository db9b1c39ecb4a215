// kelvane: our monitor. On Linux it publishes the kernel's hardware sensors
// (hwmon) in the shared-memory block "KVSharedMemory_ORB", refreshed every
// second; where there are none, and on Windows (where the real monitor is an
// outside program), it publishes SIMULATED readings that drift slowly.
//
// Options come from kelvaneparams.cfg beside the executable, one Key=Value a
// line (keys in any letter case; other lines are ignored):
//   Source        auto (default): the kernel's sensors when it has any, else
//                 simulated; hwmon: the kernel's sensors only (none: a valid
//                 block with zero counts); simulated: made-up readings
//   HwmonRoot     the folder holding hwmon0, hwmon1, ... (/sys/class/hwmon)
//   StartDelayMs  wait this long before the first block appears (0)
//   RunSeconds    stop after this many seconds (0: run until stopped)
//   PublishOnce   1: publish one block and exit, leaving it in place (Linux;
//                 the agent counts it as missing once no monitor holds it)
//   StartLog      1: append a line to kelvane_starts.txt beside it at start
// For simulated readings only:
//   Version       the layout version published (1)
//   MemSize       the block size published (402)
//   Temps, Fans, Volts   how many readings of each kind (5, 3, 4; up to 32,
//                 larger counts are published as given with 32 readings)
//   Drift         0: the readings keep their first values (1)
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "monitor/monitor_options.h"
#include "monitor/monitor_publisher.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/wake_semaphore.h"

namespace {

std::atomic<bool> g_stop{false};
// Never destroyed: a reading thread left behind by a stuck read may still
// release it as the process ends. sem_post may be called from a signal handler.
platform::WakeSemaphore* const g_wake = new platform::WakeSemaphore;

extern "C" void OnStopSignal(int) {
  g_stop = true;
  g_wake->Release();
}

std::wstring ExecutableFolder() {
  std::wstring exe = platform::ExecutablePath();
  return exe.substr(0, exe.find_last_of(L"\\/") + 1);
}

MonitorOptions ReadOptions() {
  std::string text;
  platform::ReadWholeRegularFile(ExecutableFolder() + L"kelvaneparams.cfg", text);
  return MonitorOptions(text);
}

void RecordStart() {
  std::wstring log = ExecutableFolder() + L"kelvane_starts.txt";
  std::string text;
  platform::ReadWholeRegularFile(log, text);
  platform::ReplaceFileContents(log, text + "started\n");
}

}  // namespace

int main() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  const MonitorOptions options = ReadOptions();
  if (options.Number("startlog", 0) == 1) RecordStart();
  const auto publish_at = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(options.Number("startdelayms", 0));
  while (!g_stop && std::chrono::steady_clock::now() < publish_at) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (g_stop) return 0;
  return RunMonitor(options, g_stop, *g_wake);
}
