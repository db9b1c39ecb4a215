#include "platform/profile.h"

#include <windows.h>

#include "platform/text.h"

namespace platform {

std::int32_t ReadIniInt(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                        std::int32_t default_value) {
  return static_cast<std::int32_t>(
      GetPrivateProfileIntW(section, key, default_value, file.c_str()));
}

void ReadIniInts(const std::wstring& file, const wchar_t* section, const wchar_t* const* keys,
                 const std::int32_t* defaults, std::int32_t* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    values[i] = ReadIniInt(file, section, keys[i], defaults[i]);
}

void ReadIniSection(const std::wstring& file, const wchar_t* section,
                    const wchar_t* const* int_keys, const std::int32_t* int_defaults,
                    std::int32_t* ints, std::size_t int_count, const wchar_t* const* text_keys,
                    std::wstring* texts, std::size_t text_count) {
  ReadIniInts(file, section, int_keys, int_defaults, ints, int_count);
  for (std::size_t i = 0; i < text_count; ++i) {
    wchar_t value[1024];
    DWORD length = GetPrivateProfileStringW(section, text_keys[i], L"", value, 1024, file.c_str());
    texts[i].assign(value, length);
  }
}

std::vector<std::string> ReadIniSectionLines(const std::wstring& file, const wchar_t* section) {
  // Sections beyond this are not ours to read whole.
  constexpr DWORD kLargest = 1 << 20;
  std::vector<std::string> found;
  std::string narrow_section(WideToAnsi(section, nullptr, 0), '\0');
  WideToAnsi(section, narrow_section.data(), narrow_section.size());
  std::string narrow_file(WideToAnsi(file, nullptr, 0), '\0');
  WideToAnsi(file, narrow_file.data(), narrow_file.size());
  std::string buffer(4096, '\0');
  DWORD length = 0;
  for (;;) {
    length = GetPrivateProfileSectionA(narrow_section.c_str(), buffer.data(),
                                       static_cast<DWORD>(buffer.size()), narrow_file.c_str());
    // A full buffer reports its size less two: the section may go on.
    if (length + 2 < buffer.size() || buffer.size() >= kLargest) break;
    buffer.resize(buffer.size() * 4);
  }
  for (std::size_t start = 0; start < length;) {
    const std::size_t end = buffer.find('\0', start);
    std::string line = buffer.substr(start, end - start);
    if (!line.empty() && line.front() != ';') found.push_back(std::move(line));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return found;
}

bool WriteIniString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                    const wchar_t* value) {
  return WritePrivateProfileStringW(section, key, value, file.c_str()) != FALSE;
}

}  // namespace platform
