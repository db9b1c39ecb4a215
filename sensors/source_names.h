#pragma once
// Where each published reading came from, as our monitor publishes it beside
// the block (Linux): per entry the chip (node_exporter's identifier), the
// chip's name, the input, and the driver's label.
//
// The text: a first line "kelvane-names 1", then one line per published
// entry in the block's order (temperatures, then fans, then voltages), each
// the kind word and four fields separated by tabs, a field empty when
// unknown. UTF-8; fields never hold tabs, line breaks or control characters.
// When some entry has driver limits, the first line is "kelvane-names 2" and
// every line has a fifth field: the limits, "name=value" separated by
// spaces ("max=80 crit=95 crit_alarm=0"), in natural units.
// At most 64 KiB: the agent refuses anything larger, and anything malformed,
// as if there were no names.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kMaxSourceNamesBytes = 64 * 1024;

struct SourceName {
  std::string chip, chip_name, input, label;  // UTF-8, empty when unknown
  // The driver's limits and flags by attribute name ("max", "crit_alarm").
  std::vector<std::pair<std::string, double>> limits = {};
};

struct SourceNames {
  std::array<std::vector<SourceName>, 3> kinds;  // temperature, fan, voltage
};

std::string FormatSourceNames(const SourceNames& names);
// False (and `names` empty) for text that is not such a publication.
bool ParseSourceNames(std::string_view text, SourceNames& names);
