#include "platform/profile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/file_io.h"
#include "platform/posix/file_read_cache.h"
#include "platform/text.h"

namespace platform {
namespace {

struct Line {
  std::string_view text;    // without its line break
  std::string_view ending;  // "\r\n", "\n" or "" at the end of the file
};

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  while (!content.empty()) {
    size_t lf = content.find('\n');
    std::string_view raw = content.substr(0, lf);
    size_t taken = lf == std::string_view::npos ? content.size() : lf + 1;
    bool cr = !raw.empty() && raw.back() == '\r';
    std::string_view text = cr ? raw.substr(0, raw.size() - 1) : raw;
    lines.push_back({text, content.substr(text.size(), taken - text.size())});
    content.remove_prefix(taken);
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The name of a section line ("[name]"), or false for any other line.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

bool KeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') return false;
  size_t eq = trimmed.find('=');
  key = Trim(trimmed.substr(0, eq));
  value = eq == std::string_view::npos ? std::string_view() : Trim(trimmed.substr(eq + 1));
  return true;
}

// Where a key lives in the parsed file: the section's first line (or -1), the
// key's line (or -1), and the line after which a new key goes.
struct Place {
  int section = -1, key = -1, insert_after = -1;
};

Place Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Place place;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::string_view name, k, v;
    if (SectionName(lines[i].text, name)) {
      if (place.section >= 0) break;  // only the first section of a name counts
      if (SameName(name, section)) place.section = place.insert_after = i;
      continue;
    }
    if (place.section < 0) continue;
    if (KeyLine(lines[i].text, k, v)) {
      place.insert_after = i;
      if (place.key < 0 && SameName(k, key)) place.key = i;
    }
  }
  return place;
}

std::string Narrow(const wchar_t* text) {
  std::wstring_view view(text == nullptr ? L"" : text);
  std::string out(WideToAnsi(view, nullptr, 0), '\0');
  WideToAnsi(view, out.data(), out.size());
  return out;
}

std::int32_t ParseInt(std::string_view value, std::int32_t default_value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  if (value.empty()) return default_value;
  size_t i = 0;
  bool negative = false;
  if (value[i] == '-' || value[i] == '+') negative = value[i++] == '-';
  std::uint32_t result = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    result = result * 10u + static_cast<std::uint32_t>(value[i] - '0');  // wraps like Windows
  }
  return static_cast<std::int32_t>(negative ? 0u - result : result);
}

std::string_view DominantEnding(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (!line.ending.empty()) return line.ending;
  }
  return "\n";
}

}  // namespace

std::int32_t ReadIniInt(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                        std::int32_t default_value) {
  std::int32_t value = default_value;
  ReadIniInts(file, section, &key, &default_value, &value, 1);
  return value;
}

void ReadIniInts(const std::wstring& file, const wchar_t* section, const wchar_t* const* keys,
                 const std::int32_t* defaults, std::int32_t* values, std::size_t count) {
  ReadIniSection(file, section, keys, defaults, values, count, nullptr, nullptr, 0);
}

void ReadIniSection(const std::wstring& file, const wchar_t* section,
                    const wchar_t* const* int_keys, const std::int32_t* int_defaults,
                    std::int32_t* ints, std::size_t int_count, const wchar_t* const* text_keys,
                    std::wstring* texts, std::size_t text_count) {
  std::copy(int_defaults, int_defaults + int_count, ints);
  for (std::size_t i = 0; i < text_count; ++i) texts[i].clear();
  std::string content;
  if (!ReadUnchangedOrWholeFile(file, content)) return;
  std::vector<Line> lines = SplitLines(content);
  std::string section_name = Narrow(section);
  auto value_of = [&](const wchar_t* key, std::string_view& value) {
    Place place = Locate(lines, section_name, Narrow(key));
    if (place.key < 0) return false;
    std::string_view k;
    KeyLine(lines[place.key].text, k, value);
    return true;
  };
  std::string_view value;
  for (std::size_t i = 0; i < int_count; ++i) {
    if (value_of(int_keys[i], value)) ints[i] = ParseInt(value, int_defaults[i]);
  }
  for (std::size_t i = 0; i < text_count; ++i) {
    if (!value_of(text_keys[i], value)) continue;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    value = value.substr(0, 1023);
    texts[i].assign(AnsiToWide(value, nullptr, 0), L'\0');
    AnsiToWide(value, texts[i].data(), texts[i].size());
  }
}

std::vector<std::string> ReadIniSectionLines(const std::wstring& file, const wchar_t* section) {
  std::vector<std::string> found;
  std::string content;
  if (!ReadUnchangedOrWholeFile(file, content)) return found;
  const std::string section_name = Narrow(section);
  bool inside = false;
  for (const Line& line : SplitLines(content)) {
    std::string_view name, key, value;
    if (SectionName(line.text, name)) {
      if (inside) break;  // only the first section of a name counts
      inside = SameName(name, section_name);
    } else if (inside && KeyLine(line.text, key, value)) {
      found.emplace_back(Trim(line.text));
    }
  }
  return found;
}

bool WriteIniString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                    const wchar_t* value) {
  std::string content;
  if (!ReadWholeFile(file, content) && errno != ENOENT) return false;
  std::vector<Line> lines = SplitLines(content);
  std::string section_name = Narrow(section), key_name = Narrow(key);
  Place place = Locate(lines, section_name, key_name);
  std::string_view ending = DominantEnding(lines);
  std::string result;
  result.reserve(content.size() + key_name.size() + section_name.size() + 64);
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    if (i == place.key) {
      std::string_view stored_key, old_value;
      KeyLine(lines[i].text, stored_key, old_value);
      result.append(stored_key).append("=").append(Narrow(value));
      result.append(lines[i].ending.empty() ? ending : lines[i].ending);
      continue;
    }
    result.append(lines[i].text).append(lines[i].ending);
    if (i == place.insert_after && place.key < 0) {
      if (lines[i].ending.empty()) result.append(ending);
      result.append(key_name).append("=").append(Narrow(value)).append(ending);
    }
  }
  if (place.section < 0) {
    if (!result.empty() && result.back() != '\n') result.append(ending);
    result.append("[").append(section_name).append("]").append(ending);
    result.append(key_name).append("=").append(Narrow(value)).append(ending);
  }
  return ReplaceFileAtomically(file, result);
}

}  // namespace platform
