#include "monitor/snapshot_builder.h"

#include "sensors/source_names.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

std::uint16_t Published(const std::vector<HwmonInput>& inputs) {
  return static_cast<std::uint16_t>(std::min<std::size_t>(inputs.size(), kMaxSensorEntries));
}

void Describe(std::vector<std::string>& lines, const char* kind,
              const std::vector<HwmonInput>& inputs) {
  const std::size_t count = std::min<std::size_t>(inputs.size(), kMaxSensorEntries);
  for (std::size_t i = 0; i < count; ++i) {
    const HwmonInput& input = inputs[i];
    std::string line = std::string(kind) + " " + std::to_string(i + 1) + " = " + input.chip_name +
                       " " + input.input;
    if (!input.label.empty()) line += " \"" + input.label + "\"";
    lines.push_back(std::move(line));
  }
}

}  // namespace

SensorSnapshot BuildHwmonSnapshot(const HwmonReadings& readings) {
  SensorSnapshot snapshot;
  std::memset(&snapshot, 0, sizeof snapshot);
  snapshot.version = 1;
  snapshot.memSize = static_cast<std::int32_t>(kSnapshotSize);
  // The packed record's arrays are not aligned: each slot is written by name,
  // never through a reference or pointer to an element.
  snapshot.numTemps = Published(readings.temps);
  snapshot.numFans = Published(readings.fans);
  snapshot.numVolts = Published(readings.volts);
  for (int i = 0; i < snapshot.numTemps; ++i) snapshot.temps[i] = readings.temps[i].value;
  for (int i = 0; i < snapshot.numFans; ++i) snapshot.fans[i] = readings.fans[i].value;
  for (int i = 0; i < snapshot.numVolts; ++i) snapshot.volts[i] = readings.volts[i].value;
  return snapshot;
}

std::string BuildHwmonNames(const HwmonReadings& readings) {
  SourceNames names;
  const std::vector<HwmonInput>* kinds[3] = {&readings.temps, &readings.fans, &readings.volts};
  for (int kind = 0; kind < 3; ++kind) {
    const std::size_t count = std::min<std::size_t>(kinds[kind]->size(), kMaxSensorEntries);
    for (std::size_t i = 0; i < count; ++i) {
      const HwmonInput& input = (*kinds[kind])[i];
      names.kinds[kind].push_back(
          {input.chip_id, input.chip_name, input.input, input.label, input.limits});
    }
  }
  return FormatSourceNames(names);
}

std::vector<std::string> DescribeReadings(const HwmonReadings& readings) {
  std::vector<std::string> lines;
  Describe(lines, "Temperature", readings.temps);
  Describe(lines, "Fan", readings.fans);
  Describe(lines, "Voltage", readings.volts);
  return lines;
}

void SimulateReadings(SensorSnapshot& s, double t) {
  static const std::int32_t kRails[4] = {120, 330, 500, 1200};
  for (int i = 0; i < kMaxSensorEntries; ++i) {
    s.temps[i] = static_cast<std::int32_t>(4200 + 300 * i + 250 * std::sin(t / 20 + i));
    s.fans[i] = static_cast<std::int32_t>(1200 + 150 * i + 80 * std::sin(t / 15 + i));
    s.volts[i] = static_cast<std::int32_t>(kRails[i % 4] + 2 * std::sin(t / 10 + i));
  }
}
