#include "monitor/hwmon_reader.h"

#include "foundation/ascii_text.h"
#include "monitor/attribute_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

namespace {

namespace fs = std::filesystem;

std::string TrimmedLine(std::string_view text) {
  return std::string(ascii::TrimEnd(text, " \t\r\n"));
}

// The number after `prefix` in names such as "hwmon12"; nullopt when the rest
// is not all digits.
std::optional<int> NumberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  int number = 0;
  const char* first = name.data() + prefix.size();
  const char* last = name.data() + name.size();
  auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc() || end != last || *first == '-' || *first == '+') return std::nullopt;
  return number;
}

struct InputFile {
  SensorKind kind;
  int channel;
  std::string input;                     // "temp1"
  fs::path folder;                       // where its files are
  std::vector<std::string> limits = {};  // the LimitAttributes beside it
};

bool IsFlag(const std::string& attribute) {
  return attribute == "fault" || attribute.ends_with("alarm");
}

// "temp3_input" and the like.
std::optional<InputFile> ParseInputName(const std::string& name, const fs::path& folder) {
  static const std::pair<const char*, SensorKind> kPrefixes[] = {
      {"temp", SensorKind::Temperature}, {"fan", SensorKind::Fan}, {"in", SensorKind::Voltage}};
  const std::string suffix = "_input";
  if (name.size() <= suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return std::nullopt;
  }
  const std::string input = name.substr(0, name.size() - suffix.size());
  for (const auto& [prefix, kind] : kPrefixes) {
    if (auto channel = NumberAfter(input, prefix)) {
      return InputFile{kind, *channel, input, folder};
    }
  }
  return std::nullopt;
}

// A chip's input files, from its own folder and then its device/ folder; an
// input found in both is taken from the chip's folder. With each, the limit
// attributes its folder has for it, so that only files that are there are
// read.
std::vector<InputFile> ListInputs(const fs::path& chip) {
  std::map<std::pair<SensorKind, int>, InputFile> found;
  for (const fs::path& folder : {chip, chip / "device"}) {
    std::error_code error;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      names.push_back(it->path().filename().string());
      if (auto file = ParseInputName(names.back(), folder)) {
        found.try_emplace({file->kind, file->channel}, *file);
      }
    }
    for (auto& [key, file] : found) {
      if (file.folder != folder) continue;
      for (const std::string& attribute : LimitAttributes(file.kind)) {
        if (std::find(names.begin(), names.end(), file.input + "_" + attribute) != names.end()) {
          file.limits.push_back(attribute);
        }
      }
    }
  }
  std::vector<InputFile> inputs;
  for (auto& [key, file] : found) inputs.push_back(std::move(file));
  return inputs;  // ordered by kind, then channel
}

// The limits and flags of `file` that read as integers, in natural units.
std::vector<std::pair<std::string, double>> ReadLimits(const InputFile& file,
                                                       const AttributeRead& read) {
  std::vector<std::pair<std::string, double>> limits;
  for (const std::string& attribute : file.limits) {
    auto text = read(file.folder / (file.input + "_" + attribute));
    if (!text) continue;
    if (auto value = LimitFromText(file.kind, attribute, *text)) {
      limits.emplace_back(attribute, *value);
    }
  }
  return limits;
}

// hwmonN folders of the root, by N as a number.
std::vector<std::pair<int, fs::path>> ListChips(const fs::path& root) {
  std::vector<std::pair<int, fs::path>> chips;
  std::error_code error;
  for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (auto number = NumberAfter(it->path().filename().string(), "hwmon")) {
      chips.emplace_back(*number, it->path());
    }
  }
  std::sort(chips.begin(), chips.end());
  return chips;
}

// The chip's "name" text, or empty without one.
std::string NameFileText(const fs::path& chip, const AttributeRead& read) {
  for (const fs::path& file : {chip / "name", chip / "device" / "name"}) {
    if (auto text = read(file)) {
      std::string name = TrimmedLine(*text);
      if (!name.empty()) return name;
    }
  }
  return {};
}

std::string Sanitized(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ':' || c == '_')) c = '_';
  }
  return text;
}

struct Chip {
  int number;
  fs::path folder;
  std::string name;  // the name file's text
  std::string id;    // ChipId, made unique
};

// The chips of the root, ordered by identifier (then number); a second chip
// with an identifier already taken gets "_1", a third "_2", ...
std::vector<Chip> OrderedChips(const fs::path& root, const AttributeRead& read) {
  std::vector<Chip> chips;
  for (const auto& [number, folder] : ListChips(root)) {
    std::string name = NameFileText(folder, read);
    std::string id = ChipId(folder, name, number);
    chips.push_back({number, folder, std::move(name), std::move(id)});
  }
  std::stable_sort(chips.begin(), chips.end(),
                   [](const Chip& a, const Chip& b) { return a.id < b.id; });
  std::map<std::string, int> seen;
  for (Chip& chip : chips) {
    const int earlier = seen[chip.id]++;
    if (earlier > 0) {
      chip.id += '_';
      chip.id += std::to_string(earlier);
    }
  }
  return chips;
}

std::optional<std::int32_t> ReadValue(const InputFile& file, const AttributeRead& read) {
  auto text = read(file.folder / (file.input + "_input"));
  if (!text) return std::nullopt;
  return ValueFromText(file.kind, *text);
}

std::vector<HwmonInput>& ListOf(HwmonReadings& readings, SensorKind kind) {
  return kind == SensorKind::Temperature ? readings.temps
         : kind == SensorKind::Fan       ? readings.fans
                                         : readings.volts;
}

}  // namespace

std::optional<std::int32_t> ValueFromText(SensorKind kind, const std::string& text) {
  long long raw = 0;
  if (!ParseSysfsInteger(text, raw)) return std::nullopt;
  std::int32_t value = 0;
  if (kind == SensorKind::Fan) {
    if (raw < std::numeric_limits<std::int32_t>::min() ||
        raw > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    value = static_cast<std::int32_t>(raw);
  } else if (!ThousandthsToHundredths(raw, value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> LimitFromText(SensorKind kind, const std::string& attribute,
                                    const std::string& text) {
  long long raw = 0;
  if (!ParseSysfsInteger(text, raw)) return std::nullopt;
  const bool scaled = kind != SensorKind::Fan && !IsFlag(attribute);
  return scaled ? static_cast<double>(raw) / 1000 : static_cast<double>(raw);
}

const std::vector<std::string>& LimitAttributes(SensorKind kind) {
  static const std::vector<std::string> kTemperature = {
      "max",   "crit",      "crit_hyst",  "emergency", "min",         "lcrit",
      "alarm", "max_alarm", "crit_alarm", "min_alarm", "lcrit_alarm", "emergency_alarm",
      "fault"};
  static const std::vector<std::string> kVoltage = {"min",       "max",         "lcrit",
                                                    "crit",      "alarm",       "min_alarm",
                                                    "max_alarm", "lcrit_alarm", "crit_alarm"};
  static const std::vector<std::string> kFan = {"min",       "max",       "alarm",
                                                "min_alarm", "max_alarm", "fault"};
  return kind == SensorKind::Temperature ? kTemperature : kind == SensorKind::Fan ? kFan : kVoltage;
}

std::string ChipId(const std::filesystem::path& chip, const std::string& name_file_text,
                   int number) {
  std::error_code error;
  const fs::path link = chip / "device";
  if (fs::is_symlink(link, error)) {
    const fs::path target = fs::canonical(link, error);
    if (!error && target.has_parent_path() && !target.parent_path().filename().empty()) {
      return Sanitized(target.parent_path().filename().string() + "_" + target.filename().string());
    }
  }
  if (!name_file_text.empty()) return Sanitized(name_file_text);
  return "hwmon" + std::to_string(number);
}

bool ParseSysfsInteger(const std::string& text, long long& value) {
  const std::string trimmed = TrimmedLine(text);
  if (trimmed.empty() || trimmed[0] == '+') return false;
  const char* last = trimmed.data() + trimmed.size();
  auto [end, error] = std::from_chars(trimmed.data(), last, value);
  return error == std::errc() && end == last;
}

bool ThousandthsToHundredths(long long thousandths, std::int32_t& hundredths) {
  constexpr long long kLimit = std::numeric_limits<long long>::max() - 5;
  if (thousandths > kLimit || thousandths < -kLimit) return false;
  const long long rounded = thousandths >= 0 ? (thousandths + 5) / 10 : -((-thousandths + 5) / 10);
  if (rounded < std::numeric_limits<std::int32_t>::min() ||
      rounded > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  hundredths = static_cast<std::int32_t>(rounded);
  return true;
}

HwmonReadings ReadHwmon(const std::filesystem::path& root, const AttributeRead& read_given) {
  const AttributeRead read = read_given ? read_given : AttributeRead(ReadAttributeFile);
  HwmonReadings readings;
  for (const Chip& chip : OrderedChips(root, read)) {
    std::vector<InputFile> inputs = ListInputs(chip.folder);
    if (inputs.empty()) continue;
    const std::string name = chip.name.empty() ? "hwmon" + std::to_string(chip.number) : chip.name;
    for (const InputFile& file : inputs) {
      std::optional<std::int32_t> value = ReadValue(file, read);
      if (!value) continue;
      std::string label = TrimmedLine(read(file.folder / (file.input + "_label")).value_or(""));
      ListOf(readings, file.kind)
          .push_back({file.kind, chip.number, name, file.input, label, *value, chip.id,
                      ReadLimits(file, read), file.folder});
    }
  }
  return readings;
}
