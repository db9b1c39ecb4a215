#include "monitor/hwmon_reader.h"

#include "monitor/attribute_reader.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

namespace {

namespace fs = std::filesystem;

std::string TrimLine(std::string text) {
  std::size_t end = text.find_last_not_of(" \t\r\n");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
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
  std::string input;  // "temp1"
  fs::path folder;    // where its files are
};

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
// input found in both is taken from the chip's folder.
std::vector<InputFile> ListInputs(const fs::path& chip) {
  std::map<std::pair<SensorKind, int>, InputFile> found;
  for (const fs::path& folder : {chip, chip / "device"}) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      if (auto file = ParseInputName(it->path().filename().string(), folder)) {
        found.try_emplace({file->kind, file->channel}, *file);
      }
    }
  }
  std::vector<InputFile> inputs;
  for (auto& [key, file] : found) inputs.push_back(std::move(file));
  return inputs;  // ordered by kind, then channel
}

std::string ChipName(const fs::path& chip, int number, const AttributeRead& read) {
  for (const fs::path& file : {chip / "name", chip / "device" / "name"}) {
    if (auto text = read(file)) {
      std::string name = TrimLine(*text);
      if (!name.empty()) return name;
    }
  }
  return "hwmon" + std::to_string(number);
}

std::optional<std::int32_t> ReadValue(const InputFile& file, const AttributeRead& read) {
  auto text = read(file.folder / (file.input + "_input"));
  long long raw = 0;
  if (!text || !ParseSysfsInteger(*text, raw)) return std::nullopt;
  std::int32_t value = 0;
  if (file.kind == SensorKind::Fan) {
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

std::vector<HwmonInput>& ListOf(HwmonReadings& readings, SensorKind kind) {
  return kind == SensorKind::Temperature ? readings.temps
         : kind == SensorKind::Fan       ? readings.fans
                                         : readings.volts;
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

}  // namespace

bool ParseSysfsInteger(const std::string& text, long long& value) {
  const std::string trimmed = TrimLine(text);
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
  for (const auto& [number, chip] : ListChips(root)) {
    std::vector<InputFile> inputs = ListInputs(chip);
    if (inputs.empty()) continue;
    const std::string name = ChipName(chip, number, read);
    for (const InputFile& file : inputs) {
      std::optional<std::int32_t> value = ReadValue(file, read);
      if (!value) continue;
      std::string label = TrimLine(read(file.folder / (file.input + "_label")).value_or(""));
      ListOf(readings, file.kind).push_back({file.kind, number, name, file.input, label, *value});
    }
  }
  return readings;
}
