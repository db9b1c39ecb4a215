#pragma once
// The [Limits] section of the settings file: your limits for readings,
// keyed like [Labels]. Each line gives a warning, a critical, or both,
// separated by a comma:
//
//   Temperature1=warning 80, critical 95    ; above 80 warns, above 95 is critical
//   Fan2=warning 600, critical 300          ; a fan's plain number is a low limit
//   Voltage3=warning 11.4..12.6, critical 11..13   ; outside the range
//   Temperature4=critical >90               ; ">N" above, "<N" below, for any kind
//
// A temperature's plain number is a high limit, a fan's a low one; a
// voltage needs a range or a side. Numbers are in the reading's unit
// (degrees Celsius, rpm, volts), with a "." for decimals. A line that does
// not read so is ignored whole, with an error text; so is a key that names
// no reading. Read again whenever the file changes (agent/settings_view.h).
#include <array>
#include <string>
#include <vector>

#include "agent/labels_section.h"
#include "limits/reading_limits.h"

inline constexpr const wchar_t* kLimitsSection = L"Limits";

struct LimitsSection {
  // By kind (0 temperature, 1 fan, 2 voltage), then position from 0.
  std::array<std::array<limits::ReadingLimits, kLabelsPerKind>, kLabelKinds> limits;
  std::vector<std::wstring> errors;  // one per line ignored
  bool empty = true;
};

// The section's key lines, as the file's bytes.
LimitsSection ParseLimits(const std::vector<std::string>& lines);
LimitsSection ReadLimitsFrom(const std::wstring& settings_file);
