#include "agent/limits_section.h"

#include <charconv>
#include <string_view>

#include "foundation/ascii_text.h"
#include "foundation/conversions.h"
#include "platform/profile.h"

namespace {

using limits::ReadingLimits;

bool ParseNumber(std::string_view text, double& value) {
  text = ascii::Trim(text);
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end;
}

// One "warning SPEC" or "critical SPEC" item into `limits`.
bool ParseItem(std::string_view item, int kind, ReadingLimits& limits) {
  item = ascii::Trim(item);
  const std::size_t space = item.find_first_of(ascii::kSpaces);
  if (space == std::string_view::npos) return false;
  const std::string word = ascii::Lower(item.substr(0, space));
  if (word != "warning" && word != "critical") return false;
  const bool critical = word == "critical";
  std::optional<double>& high = critical ? limits.high_critical : limits.high_warning;
  std::optional<double>& low = critical ? limits.low_critical : limits.low_warning;
  const std::string_view spec = ascii::Trim(item.substr(space));
  double value = 0, upper = 0;
  if (const std::size_t dots = spec.find(".."); dots != std::string_view::npos) {
    if (!ParseNumber(spec.substr(0, dots), value) || !ParseNumber(spec.substr(dots + 2), upper) ||
        upper < value) {
      return false;
    }
    low = value, high = upper;
  } else if (!spec.empty() && (spec.front() == '>' || spec.front() == '<')) {
    if (!ParseNumber(spec.substr(1), value)) return false;
    (spec.front() == '>' ? high : low) = value;
  } else {
    // A plain number: above for a temperature, below for a fan.
    if (kind == static_cast<int>(limits::Kind::Voltage) || !ParseNumber(spec, value)) return false;
    (kind == static_cast<int>(limits::Kind::Temperature) ? high : low) = value;
  }
  return true;
}

bool ParseValue(std::string_view value, int kind, ReadingLimits& limits) {
  bool any = false;
  for (std::size_t start = 0; start <= value.size();) {
    std::size_t comma = value.find(',', start);
    if (comma == std::string_view::npos) comma = value.size();
    if (!ParseItem(value.substr(start, comma - start), kind, limits)) return false;
    any = true;
    start = comma + 1;
  }
  return any;
}

}  // namespace

LimitsSection ParseLimits(const std::vector<std::string>& lines) {
  LimitsSection section;
  for (const std::string& line : lines) {
    const std::string_view text = ascii::Trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    const std::size_t equals = text.find('=');
    int kind = 0, index = 0;
    ReadingLimits limits;
    if (equals == std::string_view::npos ||
        !ParseReadingKey(ascii::Trim(text.substr(0, equals)), kind, index) ||
        !ParseValue(text.substr(equals + 1), kind, limits)) {
      section.errors.push_back(L"[Limits] line not understood, ignored: " +
                               std::wstring(AnsiToWide(text).View()));
      continue;
    }
    ReadingLimits& slot = section.limits[kind][index];
    if (!slot.Empty()) continue;  // of two lines for one reading the first counts
    slot = limits;
    section.empty = false;
  }
  return section;
}

LimitsSection ReadLimitsFrom(const std::wstring& settings_file) {
  return ParseLimits(platform::ReadIniSectionLines(settings_file, kLimitsSection));
}
