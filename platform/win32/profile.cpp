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

bool WriteIniString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                    const wchar_t* value) {
  return WritePrivateProfileStringW(section, key, value, file.c_str()) != FALSE;
}

}  // namespace platform
