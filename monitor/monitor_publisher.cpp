#include "monitor/monitor_publisher.h"

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
#include "monitor/reading_thread.h"
#include "monitor/snapshot_builder.h"
#include "platform/event_log.h"
#include "platform/hardware_sensors.h"
#include "platform/shared_memory.h"
#include "sensors/sensor_snapshot.h"

namespace {

constexpr auto kRefresh = std::chrono::seconds(1);
constexpr auto kStopCheck = std::chrono::milliseconds(100);
// The drivers' limits are read anew every this many refreshes (and at once for
// an input that is new): they change only when someone sets them.
constexpr int kLimitsEveryRounds = 10;
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
  Lifetime(const MonitorOptions& options, const std::atomic<bool>& stop)
      : stop_(stop),
        run_seconds_(options.Number("runseconds", 0)),
        started_(std::chrono::steady_clock::now()) {}
  bool Over() const {
    return stop_ || (run_seconds_ > 0 && std::chrono::steady_clock::now() - started_ >=
                                             std::chrono::seconds(run_seconds_));
  }

 private:
  const std::atomic<bool>& stop_;
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
      std::this_thread::sleep_for(kStopCheck);
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

int RunHwmon(const MonitorOptions& options, const Lifetime& lifetime, ReadingThread& reader,
             HwmonReadings readings, const std::string& root) {
  std::printf("kelvane monitor: publishing the hardware sensors of %s in %ls\n", root.c_str(),
              kSnapshotName);
  std::fflush(stdout);
  Block block;
  if (!block.Create()) return 1;
  MappingReport mapping;
  for (;;) {
    block.Publish(BuildHwmonSnapshot(readings), BuildHwmonNames(readings));
    mapping.Update(readings);
    if (options.Number("publishonce", 0) == 1) {
      block.Leave();
      return 0;
    }
    std::optional<HwmonReadings> next;
    while (!lifetime.Over() && !(next = reader.TakeLatest(kStopCheck))) {
    }
    if (!next) return 0;
    readings = std::move(*next);
  }
}

std::optional<HwmonReadings> FirstRound(ReadingThread& reader, const Lifetime& lifetime) {
  std::optional<HwmonReadings> first;
  while (!lifetime.Over() && !(first = reader.TakeLatest(kStopCheck))) {
  }
  return first;
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

int RunMonitor(const MonitorOptions& options, const std::atomic<bool>& stop) {
  const Lifetime lifetime(options, stop);
  const ReadingSource source = ChosenSource(options);
  if (source == ReadingSource::Simulated) return RunSimulated(options, lifetime);
  if (!platform::kHasKernelSensors) {
    if (source == ReadingSource::Hwmon) {
      Say("this system publishes no hardware sensors; the readings are SIMULATED");
    }
    return RunSimulated(options, lifetime);
  }
  const std::string root = options.Text("hwmonroot", platform::kKernelSensorRoot);
  // Shared with the reading thread, which may outlive this call by a stuck round.
  auto attributes = std::make_shared<AttributeReader>(kAttributeDeadline, ReadAttributeFile,
                                                      [](const std::string& line) { Say(line); });
  auto kept = std::make_shared<KeptLimits>();
  auto reader = std::make_unique<ReadingThread>(
      [root, attributes, kept, round = 0]() mutable {
        kept->fresh = round++ % kLimitsEveryRounds == 0;
        return ReadHwmon(
            root, [&](const std::filesystem::path& file) { return attributes->Read(file); },
            kept.get());
      },
      kRefresh);
  std::optional<HwmonReadings> first = FirstRound(*reader, lifetime);
  if (!first) return 0;
  if (first->Empty() && source == ReadingSource::Auto) {
    reader.reset();
    Say("no hardware sensors found under " + root + "; the readings are SIMULATED");
    return RunSimulated(options, lifetime);
  }
  return RunHwmon(options, lifetime, *reader, std::move(*first), root);
}
