#pragma once
// The agent's two settings in the INI file beside the executable, section
// "Settings": "Port" (default 8167; only the low 16 bits count, 0 means the
// default) and "CanLaunch" (true only for 1). Nothing is cached: every call
// reads the file anew.
#include <cstdint>
#include <string>

inline constexpr std::uint16_t kDefaultPort = 8167;
inline constexpr const wchar_t* kSettingsSection = L"Settings";

std::uint16_t ReadPort();
bool ReadCanLaunch();

// Both settings with one read of the file.
struct StoredSettings {
  std::uint16_t port;
  bool can_launch;
};
StoredSettings ReadSettingsFrom(const std::wstring& file);

// The same reads from a given settings file.
std::uint16_t ReadPortFrom(const std::wstring& file);
bool ReadCanLaunchFrom(const std::wstring& file);
