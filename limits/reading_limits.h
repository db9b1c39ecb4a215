#pragma once
// ReadingLimits: the limits of one reading, from its driver (hwmon) or the
// settings file, and the state they give it. Each limit is optional: a
// temperature usually has only high ones, a fan a low one, a voltage both.
//
// A reading is past a high limit when it is above it, past a low one when
// it is below it; at the limit it is not past. A state clears only once
// the reading is back by the hysteresis: the driver's, where it gives one,
// else kDefaultHysteresis of its kind.
//
// Limits are checked before use (Checked): one outside the plausible range
// of its kind, or a critical that is not beyond its warning, is dropped with
// a note, never used.
#include <optional>
#include <string>
#include <vector>

namespace limits {

enum class Kind { Temperature = 0, Fan = 1, Voltage = 2 };
enum class State { Ok = 0, Warning = 1, Critical = 2, Alarm = 3 };

struct ReadingLimits {
  std::optional<double> high_warning, high_critical, low_warning, low_critical;
  // How far back past a limit a reading must come for its state to clear,
  // in the reading's unit; unset: the kind's default.
  std::optional<double> hysteresis;

  bool Empty() const { return !high_warning && !high_critical && !low_warning && !low_critical; }
};

// The range a limit of each kind may have: degrees Celsius, rpm, volts.
struct Range {
  double low, high;
};
Range PlausibleRange(Kind kind);

// Degrees Celsius, rpm, volts: the hysteresis where the driver gives none.
double DefaultHysteresis(Kind kind);

// `limits` with the implausible ones dropped; a note for each, naming the
// reading as `what` ("temperature 3").
ReadingLimits Checked(Kind kind, ReadingLimits limits, const std::wstring& what,
                      std::vector<std::wstring>& notes);

// `driver` with each limit that `yours` sets replaced by yours.
ReadingLimits Merged(const ReadingLimits& driver, const ReadingLimits& yours);

// The state of a reading at `value`, given its state before (for the
// hysteresis) and whether its driver raises an alarm.
State NextState(Kind kind, State before, double value, const ReadingLimits& limits, bool alarm);

const char* StateName(State state);  // "ok", "warning", "critical", "alarm"

}  // namespace limits
