#include "limits/reading_limits.h"

#include <cmath>
#include <cstdio>

namespace limits {
namespace {

using Limit = std::optional<double> ReadingLimits::*;

struct NamedLimit {
  Limit member;
  const wchar_t* name;
};
constexpr NamedLimit kLimits[] = {
    {&ReadingLimits::high_warning, L"high warning"},
    {&ReadingLimits::high_critical, L"high critical"},
    {&ReadingLimits::low_warning, L"low warning"},
    {&ReadingLimits::low_critical, L"low critical"},
};

std::wstring Number(double value) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%g", value);
  return text;
}

void Drop(ReadingLimits& limits, Limit member, const std::wstring& why, const std::wstring& what,
          const wchar_t* name, std::vector<std::wstring>& notes) {
  notes.push_back(what + L": " + name + L" limit " + Number(*(limits.*member)) + L" " + why +
                  L": not used");
  limits.*member = std::nullopt;
}

// Past a high limit: above it; past a low one: below it. `margin`: how far
// back a reading that was past must come to count as back.
bool PastHigh(const std::optional<double>& limit, double value, double margin) {
  return limit && value > *limit - margin;
}
bool PastLow(const std::optional<double>& limit, double value, double margin) {
  return limit && value < *limit + margin;
}

}  // namespace

Range PlausibleRange(Kind kind) {
  switch (kind) {
    case Kind::Temperature:
      return {-60, 150};  // no consumer part is specified past 150 °C
    case Kind::Fan:
      return {1, 30000};  // a limit of 0 rpm is the driver's "unset"
    case Kind::Voltage:
      return {-60, 60};
  }
  return {0, 0};
}

double DefaultHysteresis(Kind kind) {
  switch (kind) {
    case Kind::Temperature:
      return 2;
    case Kind::Fan:
      return 50;
    case Kind::Voltage:
      return 0.05;
  }
  return 0;
}

ReadingLimits Checked(Kind kind, ReadingLimits limits, const std::wstring& what,
                      std::vector<std::wstring>& notes) {
  const Range range = PlausibleRange(kind);
  for (const NamedLimit& named : kLimits) {
    const std::optional<double>& value = limits.*named.member;
    if (value && (!std::isfinite(*value) || *value < range.low || *value > range.high)) {
      Drop(limits, named.member, L"is outside " + Number(range.low) + L".." + Number(range.high),
           what, named.name, notes);
    }
  }
  if (limits.high_warning && limits.high_critical && *limits.high_critical < *limits.high_warning) {
    Drop(limits, &ReadingLimits::high_critical, L"is below the warning", what, L"high critical",
         notes);
  }
  if (limits.low_warning && limits.low_critical && *limits.low_critical > *limits.low_warning) {
    Drop(limits, &ReadingLimits::low_critical, L"is above the warning", what, L"low critical",
         notes);
  }
  if (limits.hysteresis && !(*limits.hysteresis > 0 && *limits.hysteresis < range.high)) {
    limits.hysteresis = std::nullopt;
  }
  return limits;
}

ReadingLimits Merged(const ReadingLimits& driver, const ReadingLimits& yours) {
  ReadingLimits merged = driver;
  for (const NamedLimit& named : kLimits) {
    if (yours.*named.member) merged.*named.member = yours.*named.member;
  }
  if (yours.hysteresis) merged.hysteresis = yours.hysteresis;
  return merged;
}

State NextState(Kind kind, State before, double value, const ReadingLimits& limits, bool alarm) {
  if (alarm) return State::Alarm;
  const double hysteresis = limits.hysteresis.value_or(DefaultHysteresis(kind));
  const bool was_critical = before == State::Critical || before == State::Alarm;
  const double critical_margin = was_critical ? hysteresis : 0;
  if (PastHigh(limits.high_critical, value, critical_margin) ||
      PastLow(limits.low_critical, value, critical_margin)) {
    return State::Critical;
  }
  const double warning_margin = before != State::Ok ? hysteresis : 0;
  if (PastHigh(limits.high_warning, value, warning_margin) ||
      PastLow(limits.low_warning, value, warning_margin)) {
    return State::Warning;
  }
  return State::Ok;
}

const char* StateName(State state) {
  switch (state) {
    case State::Ok:
      return "ok";
    case State::Warning:
      return "warning";
    case State::Critical:
      return "critical";
    case State::Alarm:
      return "alarm";
  }
  return "ok";
}

}  // namespace limits
