#include "agent/reading_status.h"

#include <array>
#include <string>

#include "history/reading_history.h"

namespace {

constexpr const wchar_t* kKindNames[] = {L"temperature", L"fan", L"voltage"};

// "temperature 3": how a note names a reading. Made once, not at every look.
const std::wstring& ReadingWhat(int kind, int index) {
  static const auto* whats = [] {
    auto* made = new std::array<std::array<std::wstring, kMaxSensorEntries>, 3>;  // kept
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < kMaxSensorEntries; ++i) {
        (*made)[k][i] = std::wstring(kKindNames[k]) + L" " + std::to_wstring(i + 1);
      }
    }
    return made;
  }();
  return (*whats)[kind][index];
}

int CountOf(const SensorSnapshot& s, int kind) {
  const int count = kind == 0 ? s.numTemps : kind == 1 ? s.numFans : s.numVolts;
  return count > kMaxSensorEntries ? kMaxSensorEntries : count;
}

// A stored reading in its natural unit: hundredths of a degree or volt, rpm.
double NaturalValue(const SensorSnapshot& s, int kind, int index) {
  const double stored = SlotValue(s, kind * kMaxSensorEntries + index);
  return kind == 1 ? stored : stored / 100;
}

// One driver attribute into `limits` or `alarm`; others are left alone.
void TakeAttribute(const std::string& name, double value, limits::ReadingLimits& limits,
                   std::optional<bool>& alarm) {
  if (name == "fault" || name.ends_with("alarm")) {
    alarm = alarm.value_or(false) || value != 0;
  } else if (name == "max") {
    limits.high_warning = value;
  } else if (name == "crit") {
    limits.high_critical = value;
  } else if (name == "min") {
    limits.low_warning = value;
  } else if (name == "lcrit") {
    limits.low_critical = value;
  }
}

}  // namespace

DriverLimits DriverLimitsFrom(const SourceNames& source) {
  DriverLimits driver;
  for (int kind = 0; kind < 3; ++kind) {
    const auto& entries = source.kinds[kind];
    for (std::size_t i = 0; i < entries.size() && i < kMaxSensorEntries; ++i) {
      limits::ReadingLimits& limits = driver.limits[kind][i];
      std::optional<double> hysteresis_at;
      for (const auto& [name, value] : entries[i].limits) {
        if (name == "crit_hyst") hysteresis_at = value;
        TakeAttribute(name, value, limits, driver.alarms[kind][i]);
      }
      // The driver's crit_hyst is where the critical state clears.
      if (hysteresis_at && limits.high_critical) {
        limits.hysteresis = *limits.high_critical - *hysteresis_at;
      }
    }
  }
  return driver;
}

ReadingStatuses StatusTracker::Update(const SensorSnapshot& snapshot, const LimitsSection& yours,
                                      const DriverLimits* driver,
                                      std::vector<std::wstring>& notes) {
  ReadingStatuses statuses;
  std::vector<std::wstring> found;
  std::lock_guard<std::mutex> hold(mutex_);
  for (int kind = 0; kind < 3; ++kind) {
    for (int i = 0; i < CountOf(snapshot, kind); ++i) {
      ReadingStatus& status = statuses.kinds[kind][i];
      limits::ReadingLimits merged = yours.limits[kind][i];
      if (driver != nullptr) {
        merged = limits::Merged(driver->limits[kind][i], merged);
        status.alarm = driver->alarms[kind][i];
      }
      status.limits =
          limits::Checked(static_cast<limits::Kind>(kind), merged, ReadingWhat(kind, i), found);
      if (!status.Shown()) {
        SetState(kind, i, limits::State::Ok);
        continue;
      }
      statuses.any = true;
      status.state = limits::NextState(static_cast<limits::Kind>(kind), states_[kind][i],
                                       NaturalValue(snapshot, kind, i), status.limits,
                                       status.alarm.value_or(false));
      SetState(kind, i, status.state);
    }
  }
  statuses.state_changes = state_changes_;
  found.insert(found.end(), yours.errors.begin(), yours.errors.end());
  for (std::wstring& note : found) {
    if (noted_.size() >= kMaxNotes || !noted_.insert(note).second) continue;
    notes.push_back(std::move(note));
  }
  return statuses;
}

std::uint64_t StatusTracker::StateChanges() {
  std::lock_guard<std::mutex> hold(mutex_);
  return state_changes_;
}

void StatusTracker::SetState(int kind, int index, limits::State state) {
  if (states_[kind][index] == state) return;
  states_[kind][index] = state;
  ++state_changes_;
}
