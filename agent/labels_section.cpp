#include "agent/labels_section.h"

#include <cctype>
#include <string_view>

#include "foundation/ascii_text.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

constexpr const char* kKindKeys[kLabelKinds] = {"temperature", "fan", "voltage"};

}  // namespace

bool ParseReadingKey(std::string_view key, int& kind, int& index) {
  for (kind = 0; kind < kLabelKinds; ++kind) {
    const std::string_view word = kKindKeys[kind];
    if (!ascii::StartsWithNoCase(key, word)) continue;
    const std::string_view digits = key.substr(word.size());
    if (digits.empty() || digits.size() > 2 || digits.front() == '0') return false;
    int number = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      number = number * 10 + (c - '0');
    }
    if (number > kLabelsPerKind) return false;
    index = number - 1;
    return true;
  }
  return false;
}

namespace {

bool IsControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool IsHighSurrogate(wchar_t c) { return sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::wstring CleanLabel(std::wstring_view text, std::size_t max_chars) {
  std::wstring out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size() && chars < max_chars; ++i) {
    if (IsControl(text[i])) continue;
    out += text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size()) out += text[++i];
    ++chars;
  }
  return out;
}

ReadingLabels ParseLabels(const std::vector<std::string>& lines) {
  ReadingLabels labels;
  for (const std::string& line : lines) {
    const std::string_view text = ascii::Trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    int kind = 0, index = 0;
    if (!ParseReadingKey(ascii::Trim(text.substr(0, equals)), kind, index)) continue;
    std::string_view value = ascii::Trim(text.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    std::wstring wide(platform::Utf8OrAnsiToWide(value, nullptr, 0), L'\0');
    platform::Utf8OrAnsiToWide(value, wide.data(), wide.size());
    std::wstring& slot = labels.text[kind][index];
    if (!slot.empty()) continue;  // the first line of a key counts
    slot = CleanLabel(wide);
    if (!slot.empty()) labels.empty = false;
  }
  return labels;
}

std::vector<std::string> ReadLabelLinesFrom(const std::wstring& settings_file) {
  return platform::ReadIniSectionLines(settings_file, kLabelsSection);
}

ReadingLabels ReadLabelsFrom(const std::wstring& settings_file) {
  return ParseLabels(ReadLabelLinesFrom(settings_file));
}
