#include "platform/profile.h"

#include <windows.h>

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

bool WriteIniString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                    const wchar_t* value) {
  return WritePrivateProfileStringW(section, key, value, file.c_str()) != FALSE;
}

}  // namespace platform
