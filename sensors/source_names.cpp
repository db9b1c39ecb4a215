#include "sensors/source_names.h"

namespace {

constexpr std::string_view kFirstLine = "kelvane-names 1";
constexpr const char* kKindWords[3] = {"temperature", "fan", "voltage"};

// A field as the format allows it: no tab, line break or other control byte.
std::string CleanField(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  }
  return out;
}

// Splits a line at tabs into exactly five pieces, or false.
bool SplitFields(std::string_view line, std::array<std::string_view, 5>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t tab = line.find('\t');
    if ((tab == std::string_view::npos) != (i + 1 == fields.size())) return false;
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

}  // namespace

std::string FormatSourceNames(const SourceNames& names) {
  std::string text(kFirstLine);
  text += '\n';
  for (int kind = 0; kind < 3; ++kind) {
    for (const SourceName& n : names.kinds[kind]) {
      text.append(kKindWords[kind]).append("\t").append(CleanField(n.chip)).append("\t");
      text.append(CleanField(n.chip_name)).append("\t").append(CleanField(n.input)).append("\t");
      text.append(CleanField(n.label)).append("\n");
    }
  }
  return text;
}

bool ParseSourceNames(std::string_view text, SourceNames& names) {
  names = SourceNames{};
  if (text.size() > kMaxSourceNamesBytes ||
      text.substr(0, kFirstLine.size() + 1) != std::string(kFirstLine) + "\n") {
    return false;
  }
  text.remove_prefix(kFirstLine.size() + 1);
  int kind = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return names = SourceNames{}, false;  // cut short
    std::array<std::string_view, 5> fields;
    if (!SplitFields(text.substr(0, end), fields)) return names = SourceNames{}, false;
    while (kind < 3 && fields[0] != kKindWords[kind]) ++kind;  // kinds in the block's order
    bool clean = kind < 3;
    for (std::string_view field : fields) clean = clean && Clean(field);
    if (!clean) return names = SourceNames{}, false;
    names.kinds[kind].push_back({std::string(fields[1]), std::string(fields[2]),
                                 std::string(fields[3]), std::string(fields[4])});
    text.remove_prefix(end + 1);
  }
  return true;
}
