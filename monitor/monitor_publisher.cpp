#include "monitor/monitor_publisher.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/conversions.h"
#include "monitor/attribute_reader.h"
#include "monitor/hwmon_reader.h"
#include "monitor/hwmon_rounds.h"
#include "monitor/snapshot_builder.h"
#include "platform/event_log.h"
#include "platform/hardware_sensors.h"
#include "platform/shared_memory.h"
#include "sensors/sensor_snapshot.h"

namespace {

constexpr auto kRefresh = std::chrono::seconds(1);
// A sensor read that takes longer is left out of its round.
constexpr auto kAttributeDeadline = std::chrono::milliseconds(250);

// Standard error and the system log, one line each.
void Say(const std::string& line) {
  std::fprintf(stderr, "kelvane: %s\n", line.c_str());
  std::fflush(stderr);
  platform::WriteEventLog(L"kelvane", static_cast<std::wstring>(AnsiToWide(line)));
}

// Runs until stopped or RunSeconds have passed since `started`.
class Lifetime {
 public:
  Lifetime(const MonitorOptions& options, const std::atomic<bool>& stop,
           platform::WakeSemaphore& wake)
      : stop_(stop),
        wake_(wake),
        run_seconds_(options.Number("runseconds", 0)),
        started_(std::chrono::steady_clock::now()) {}
  bool Over() const {
    return stop_ || (run_seconds_ > 0 && std::chrono::steady_clock::now() - started_ >=
                                             std::chrono::seconds(run_seconds_));
  }
  // Sleeps up to `most` (never past the end of RunSeconds), or until woken.
  void Sleep(std::chrono::steady_clock::duration most) const {
    if (run_seconds_ > 0) {
      most = std::min(
          most, started_ + std::chrono::seconds(run_seconds_) - std::chrono::steady_clock::now());
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(most).count();
    wake_.WaitFor(static_cast<int>(std::clamp<long long>(ms, 0, 60000)));
  }

 private:
  const std::atomic<bool>& stop_;
  platform::WakeSemaphore& wake_;
  long run_seconds_;
  std::chrono::steady_clock::time_point started_;
};

// The block is filled whole in a local copy and copied in with one write, so
// a reader never meets a count without its readings.
class Block {
 public:
  bool Create() {
    std::string why;
    if (writer_.CreateExclusive(kSnapshotName, kSnapshotSize, why)) return true;
    Say("cannot create the shared-memory block: " + why);
    return false;
  }
  void Publish(const SensorSnapshot& snapshot, std::string_view names = {}) {
    writer_.Publish(&snapshot, sizeof snapshot, names);
  }
  void Leave() { writer_.Leave(); }

 private:
  platform::SharedMemoryWriter writer_;
};

int RunSimulated(const MonitorOptions& options, const Lifetime& lifetime) {
  std::printf("kelvane stand-in monitor: publishing SIMULATED readings in %ls\n", kSnapshotName);
  std::fflush(stdout);
  Block block;
  if (!block.Create()) return 1;
  SensorSnapshot snapshot;
  std::memset(&snapshot, 0, sizeof snapshot);
  snapshot.version = static_cast<std::uint16_t>(options.Number("version", 1));
  snapshot.memSize = static_cast<std::int32_t>(options.Number("memsize", kSnapshotSize));
  snapshot.handle = 0x1234;
  snapshot.numTemps = static_cast<std::uint16_t>(options.Number("temps", 5));
  snapshot.numFans = static_cast<std::uint16_t>(options.Number("fans", 3));
  snapshot.numVolts = static_cast<std::uint16_t>(options.Number("volts", 4));
  // Drift=0 keeps the first readings: a known block for tests.
  const double step = options.Number("drift", 1) == 0 ? 0 : 1;
  for (double t = 0; !lifetime.Over(); t += step) {
    SimulateReadings(snapshot, t);
    block.Publish(snapshot);
    if (options.Number("publishonce", 0) == 1) {
      block.Leave();
      return 0;
    }
    const auto next = std::chrono::steady_clock::now() + kRefresh;
    while (!lifetime.Over() && std::chrono::steady_clock::now() < next) {
      lifetime.Sleep(next - std::chrono::steady_clock::now());
    }
  }
  return 0;
}

// Says which chip input each numbered reading is, whenever that changes.
class MappingReport {
 public:
  void Update(const HwmonReadings& readings) {
    std::vector<std::string> lines = DescribeReadings(readings);
    if (reported_ && lines == last_) return;
    reported_ = true;
    last_ = std::move(lines);
    if (last_.empty()) Say("no sensor readings");
    for (const std::string& line : last_) Say(line);
  }

 private:
  bool reported_ = false;
  std::vector<std::string> last_;
};

// Refreshes on this thread, on whole intervals: the attribute reader keeps
// a read that blocks from holding up the others (or stopping) for longer
// than its deadline, and a refresh costs this thread one wake-up.
int RunHwmon(const MonitorOptions& options, const Lifetime& lifetime, HwmonRounds& rounds,
             const HwmonReadings* readings, const std::string& root) {
  std::printf("kelvane monitor: publishing the hardware sensors of %s in %ls\n", root.c_str(),
              kSnapshotName);
  std::fflush(stdout);
  Block block;
  if (!block.Create()) return 1;
  MappingReport mapping;
  std::string names;
  unsigned named = 0;  // the generation `names` was made for
  auto next = std::chrono::steady_clock::now();
  for (;;) {
    if (named != rounds.Generation()) {
      named = rounds.Generation();
      names = BuildHwmonNames(*readings);
      mapping.Update(*readings);
    }
    block.Publish(BuildHwmonSnapshot(*readings), names);
    if (options.Number("publishonce", 0) == 1) {
      block.Leave();
      return 0;
    }
    next += kRefresh;
    if (next < std::chrono::steady_clock::now()) next = std::chrono::steady_clock::now();
    while (!lifetime.Over() && std::chrono::steady_clock::now() < next) {
      lifetime.Sleep(next - std::chrono::steady_clock::now());
    }
    if (lifetime.Over()) return 0;
    readings = &rounds.Next();
  }
}

ReadingSource ChosenSource(const MonitorOptions& options) {
  ReadingSource source = ReadingSource::Auto;
  const std::string text = options.Text("source", "auto");
  if (!ParseReadingSource(text, source)) {
    Say("unknown Source=" + text + " (auto, hwmon or simulated); using auto");
  }
  return source;
}

}  // namespace

int RunMonitor(const MonitorOptions& options, const std::atomic<bool>& stop,
               platform::WakeSemaphore& wake) {
  const Lifetime lifetime(options, stop, wake);
  const ReadingSource source = ChosenSource(options);
  if (source == ReadingSource::Simulated) return RunSimulated(options, lifetime);
  if (!platform::kHasKernelSensors) {
    if (source == ReadingSource::Hwmon) {
      Say("this system publishes no hardware sensors; the readings are SIMULATED");
    }
    return RunSimulated(options, lifetime);
  }
  const std::string root = options.Text("hwmonroot", platform::kKernelSensorRoot);
  auto attributes = std::make_shared<AttributeReader>(kAttributeDeadline, ReadAttributeFile,
                                                      [](const std::string& line) { Say(line); });
  HwmonRounds rounds(root, attributes);
  const HwmonReadings& first = rounds.Next();
  if (lifetime.Over()) return 0;
  if (first.Empty() && source == ReadingSource::Auto) {
    Say("no hardware sensors found under " + root + "; the readings are SIMULATED");
    return RunSimulated(options, lifetime);
  }
  return RunHwmon(options, lifetime, rounds, &first, root);
}
