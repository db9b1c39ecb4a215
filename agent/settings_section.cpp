#include "agent/settings_section.h"

#include "foundation/exe_files.h"
#include "platform/profile.h"

namespace {

std::uint16_t PortFromStored(std::int32_t stored) {
  auto port = static_cast<std::uint16_t>(stored);
  return port == 0 ? kDefaultPort : port;
}

}  // namespace

std::uint16_t ReadPortFrom(const std::wstring& file) {
  return PortFromStored(platform::ReadIniInt(file, kSettingsSection, L"Port", 0));
}

bool ReadCanLaunchFrom(const std::wstring& file) {
  return platform::ReadIniInt(file, kSettingsSection, L"CanLaunch", 0) == 1;
}

StoredSettings ReadSettingsFrom(const std::wstring& file) {
  const wchar_t* const keys[] = {L"Port", L"CanLaunch"};
  const std::int32_t defaults[] = {0, 0};
  std::int32_t values[2];
  const wchar_t* const text_keys[] = {L"SettingsFrom", L"AllowOrigin", L"AllowedHosts"};
  std::wstring texts[3];
  platform::ReadIniSection(file, kSettingsSection, keys, defaults, values, 2, text_keys, texts, 3);
  return {PortFromStored(values[0]), values[1] == 1, std::move(texts[0]), std::move(texts[1]),
          std::move(texts[2])};
}

std::wstring ReadBindFrom(const std::wstring& file) {
  const wchar_t* const key = L"Bind";
  std::wstring value;
  platform::ReadIniSection(file, kSettingsSection, nullptr, nullptr, nullptr, 0, &key, &value, 1);
  return value;
}

std::wstring ReadBind() { return ReadBindFrom(SettingsFilePath()); }

std::uint16_t ReadPort() { return ReadPortFrom(SettingsFilePath()); }

bool ReadCanLaunch() { return ReadCanLaunchFrom(SettingsFilePath()); }

std::int32_t HistorySecondsFromText(const std::wstring& text) {
  std::size_t begin = text.find_first_not_of(L" \t");
  std::size_t end = text.find_last_not_of(L" \t");
  if (begin == std::wstring::npos) return kDefaultHistorySeconds;
  std::int64_t value = 0;
  for (std::size_t i = begin; i <= end; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return kDefaultHistorySeconds;
    value = value * 10 + (text[i] - L'0');
    if (value > kMaxHistorySeconds) return kMaxHistorySeconds;
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t ReadHistorySecondsFrom(const std::wstring& file) {
  const wchar_t* const key = L"History";
  std::wstring value;
  platform::ReadIniSection(file, kSettingsSection, nullptr, nullptr, nullptr, 0, &key, &value, 1);
  return HistorySecondsFromText(value);
}

std::size_t ReadMaxConnectionsFrom(const std::wstring& file) {
  const std::int32_t value = platform::ReadIniInt(file, kSettingsSection, L"MaxConnections", 0);
  return value > 0 ? static_cast<std::size_t>(value) : 0;
}
