#pragma once
// The limits and the state of every reading, as the answers show them, and
// the tracker that keeps each reading's state from one read to the next so
// that a state clears only past its hysteresis.
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/limits_section.h"
#include "limits/reading_limits.h"
#include "sensors/sensor_snapshot.h"
#include "sensors/source_names.h"

struct ReadingStatus {
  limits::ReadingLimits limits;  // checked: only plausible ones
  limits::State state = limits::State::Ok;
  std::optional<bool> alarm;  // where the driver has an alarm flag
  bool Shown() const { return !limits.Empty() || alarm.has_value(); }
};

struct ReadingStatuses {
  // By kind (temperature, fan, voltage), then position.
  std::array<std::array<ReadingStatus, kMaxSensorEntries>, 3> kinds;
  bool any = false;                 // some reading has a limit or an alarm flag
  std::uint64_t state_changes = 0;  // the tracker's count once these were made
};

// Where a reading's limits come from besides [Limits]: its driver (our
// monitor on Linux). By kind, then position; unset where unknown.
struct DriverLimits {
  std::array<std::array<limits::ReadingLimits, kMaxSensorEntries>, 3> limits;
  std::array<std::array<std::optional<bool>, kMaxSensorEntries>, 3> alarms;
};

// The driver limits our monitor publishes with the names: max and crit are
// the high warning and critical, min and lcrit the low ones (a fan's min is
// its low warning), crit - crit_hyst the hysteresis; any *_alarm or fault
// flag set raises the alarm.
DriverLimits DriverLimitsFrom(const SourceNames& source);

class StatusTracker {
 public:
  // The statuses of the readings in `snapshot`: `yours` over `driver`, one
  // limit at a time, then checked; each reading's state from its last one.
  // A limit dropped as implausible, and a [Limits] line ignored, is noted
  // once (`notes` gets the new notes only). Thread-safe.
  ReadingStatuses Update(const SensorSnapshot& snapshot, const LimitsSection& yours,
                         const DriverLimits* driver, std::vector<std::wstring>& notes);
  // How many times a reading's state has changed: while it stays the same,
  // statuses made from the same readings and limits are the same too.
  std::uint64_t StateChanges();

 private:
  void SetState(int kind, int index, limits::State state);
  std::mutex mutex_;
  std::uint64_t state_changes_ = 0;
  std::array<std::array<limits::State, kMaxSensorEntries>, 3> states_{};
  std::set<std::wstring> noted_;  // at most kMaxNotes
  static constexpr std::size_t kMaxNotes = 256;
};
