// kelvane: a stand-in for the hardware monitor, for tests and demonstrations.
// It publishes SIMULATED readings (temperatures, fan speeds, voltages drifting
// slowly) in the shared-memory block "KVSharedMemory_ORB", updated every
// second, until it is stopped. Nothing it publishes comes from real sensors.
//
// Options come from kelvaneparams.cfg beside the executable, one Key=Value a
// line (keys in any letter case; other lines are ignored):
//   StartDelayMs  wait this long before the first block appears (0)
//   Version       the layout version published (1)
//   MemSize       the block size published (402)
//   Temps, Fans, Volts   how many readings of each kind (5, 3, 4; up to 32,
//                 larger counts are published as given with 32 readings)
//   RunSeconds    stop after this many seconds (0: run until stopped)
//   PublishOnce   1: publish one block and exit, leaving it in place (Linux)
//   StartLog      1: append a line to kelvane_starts.txt beside it at start
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shared_memory.h"
#include "sensors/sensor_snapshot.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) { g_stop = true; }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Key=Value lines of kelvaneparams.cfg beside the executable.
std::map<std::string, long> ReadOptions() {
  std::wstring exe = platform::ExecutablePath();
  std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/") + 1);
  std::string text;
  std::map<std::string, long> options;
  if (!platform::ReadWholeRegularFile(folder + L"kelvaneparams.cfg", text)) return options;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Lower(line.substr(0, eq));
    key.erase(0, key.find_first_not_of(" \t"));
    key.erase(key.find_last_not_of(" \t") + 1);
    options[key] = std::strtol(line.c_str() + eq + 1, nullptr, 10);
  }
  return options;
}

long Option(const std::map<std::string, long>& options, const char* key, long fallback) {
  auto found = options.find(key);
  return found == options.end() ? fallback : found->second;
}

// Slowly drifting simulated readings.
void Simulate(SensorSnapshot& s, double t) {
  for (int i = 0; i < kMaxSensorEntries; ++i) {
    s.temps[i] = static_cast<std::int32_t>(4200 + 300 * i + 250 * std::sin(t / 20 + i));
    s.fans[i] = static_cast<std::int32_t>(1200 + 150 * i + 80 * std::sin(t / 15 + i));
    s.volts[i] = static_cast<std::int32_t>((i % 4 == 0   ? 120
                                            : i % 4 == 1 ? 330
                                            : i % 4 == 2 ? 500
                                                         : 1200) +
                                           2 * std::sin(t / 10 + i));
  }
}

}  // namespace

int main() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  const auto options = ReadOptions();
  if (Option(options, "startlog", 0) == 1) {
    std::wstring exe = platform::ExecutablePath();
    std::wstring log = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"kelvane_starts.txt";
    std::string text;
    platform::ReadWholeRegularFile(log, text);
    platform::ReplaceFileContents(log, text + "started\n");
  }
  std::printf("kelvane stand-in monitor: publishing SIMULATED readings in %ls\n", kSnapshotName);
  std::fflush(stdout);
  const auto publish_at = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(Option(options, "startdelayms", 0));
  while (!g_stop && std::chrono::steady_clock::now() < publish_at) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (g_stop) return 0;

  platform::SharedMemoryWriter block;
  if (!block.Create(kSnapshotName, kSnapshotSize)) {
    std::fprintf(stderr, "kelvane: cannot create the shared-memory block\n");
    return 1;
  }
  auto* snapshot = static_cast<SensorSnapshot*>(block.Data());
  snapshot->version = static_cast<std::uint16_t>(Option(options, "version", 1));
  snapshot->flags = 0;
  snapshot->memSize = static_cast<std::int32_t>(Option(options, "memsize", kSnapshotSize));
  snapshot->handle = 0x1234;
  snapshot->numTemps = static_cast<std::uint16_t>(Option(options, "temps", 5));
  snapshot->numFans = static_cast<std::uint16_t>(Option(options, "fans", 3));
  snapshot->numVolts = static_cast<std::uint16_t>(Option(options, "volts", 4));

  const long run_seconds = Option(options, "runseconds", 0);
  const auto started = std::chrono::steady_clock::now();
  for (double t = 0; !g_stop; t += 1) {
    Simulate(*snapshot, t);
    if (Option(options, "publishonce", 0) == 1) {
      block.Leave();
      return 0;
    }
    for (int i = 0; i < 10 && !g_stop; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (run_seconds > 0 &&
        std::chrono::steady_clock::now() - started >= std::chrono::seconds(run_seconds)) {
      break;
    }
  }
  return 0;
}
