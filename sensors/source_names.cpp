#include "sensors/source_names.h"

#include <charconv>

namespace {

constexpr std::string_view kFirstLine = "kelvane-names 1";
constexpr std::string_view kFirstLineWithLimits = "kelvane-names 2";
constexpr std::size_t kMaxLimitsPerEntry = 16;
constexpr const char* kKindWords[3] = {"temperature", "fan", "voltage"};

// A field as the format allows it: no tab, line break or other control byte.
std::string CleanField(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  }
  return out;
}

// Splits a line at tabs into exactly `count` pieces, or false.
bool SplitFields(std::string_view line, std::array<std::string_view, 6>& fields,
                 std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t tab = line.find('\t');
    if ((tab == std::string_view::npos) != (i + 1 == count)) return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
  }
  return true;
}

bool Clean(std::string_view field) {
  for (char c : field) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string FormatLimits(const std::vector<std::pair<std::string, double>>& limits) {
  std::string text;
  for (const auto& [name, value] : limits) {
    char number[32];
    auto [end, error] = std::to_chars(number, number + sizeof number, value);
    if (error != std::errc() || name.empty()) continue;
    if (!text.empty()) text += ' ';
    text.append(CleanField(name)).append("=").append(number, end);
  }
  return text;
}

// "max=80 crit=95" into `limits`; false when malformed.
bool ParseLimits(std::string_view field, std::vector<std::pair<std::string, double>>& limits) {
  while (!field.empty()) {
    const std::size_t space = field.find(' ');
    const std::string_view item = field.substr(0, space);
    field.remove_prefix(space == std::string_view::npos ? field.size() : space + 1);
    const std::size_t equals = item.find('=');
    double value = 0;
    if (equals == 0 || equals == std::string_view::npos || limits.size() >= kMaxLimitsPerEntry) {
      return false;
    }
    const char* end = item.data() + item.size();
    auto [stop, error] = std::from_chars(item.data() + equals + 1, end, value);
    if (error != std::errc() || stop != end) return false;
    limits.emplace_back(std::string(item.substr(0, equals)), value);
  }
  return true;
}

}  // namespace

std::string FormatSourceNames(const SourceNames& names) {
  bool with_limits = false;
  for (const auto& kind : names.kinds) {
    for (const SourceName& n : kind) with_limits = with_limits || !n.limits.empty();
  }
  std::string text(with_limits ? kFirstLineWithLimits : kFirstLine);
  text += '\n';
  for (int kind = 0; kind < 3; ++kind) {
    for (const SourceName& n : names.kinds[kind]) {
      text.append(kKindWords[kind]).append("\t").append(CleanField(n.chip)).append("\t");
      text.append(CleanField(n.chip_name)).append("\t").append(CleanField(n.input)).append("\t");
      text.append(CleanField(n.label));
      if (with_limits) text.append("\t").append(FormatLimits(n.limits));
      text += '\n';
    }
  }
  return text;
}

bool ParseSourceNames(std::string_view text, SourceNames& names) {
  names = SourceNames{};
  if (text.size() > kMaxSourceNamesBytes) return false;
  const bool with_limits =
      text.substr(0, kFirstLineWithLimits.size() + 1) == std::string(kFirstLineWithLimits) + "\n";
  if (!with_limits && text.substr(0, kFirstLine.size() + 1) != std::string(kFirstLine) + "\n") {
    return false;
  }
  text.remove_prefix(kFirstLine.size() + 1);
  const std::size_t field_count = with_limits ? 6 : 5;
  int kind = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return names = SourceNames{}, false;  // cut short
    std::array<std::string_view, 6> fields;
    if (!SplitFields(text.substr(0, end), fields, field_count)) {
      return names = SourceNames{}, false;
    }
    while (kind < 3 && fields[0] != kKindWords[kind]) ++kind;  // kinds in the block's order
    bool clean = kind < 3;
    for (std::string_view field : fields) clean = clean && Clean(field);
    if (!clean) return names = SourceNames{}, false;
    SourceName name{std::string(fields[1]), std::string(fields[2]), std::string(fields[3]),
                    std::string(fields[4])};
    if (with_limits && !ParseLimits(fields[5], name.limits)) return names = SourceNames{}, false;
    names.kinds[kind].push_back(std::move(name));
    text.remove_prefix(end + 1);
  }
  return true;
}
