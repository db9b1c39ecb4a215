#include "foundation/settings.h"

#include "foundation/exe_files.h"
#include "platform/profile.h"

std::uint16_t ReadPortFrom(const std::wstring& file) {
  auto port = static_cast<std::uint16_t>(platform::ReadIniInt(file, kSettingsSection, L"Port", 0));
  return port == 0 ? kDefaultPort : port;
}

bool ReadCanLaunchFrom(const std::wstring& file) {
  return platform::ReadIniInt(file, kSettingsSection, L"CanLaunch", 0) == 1;
}

std::uint16_t ReadPort() { return ReadPortFrom(SettingsFilePath()); }

bool ReadCanLaunch() { return ReadCanLaunchFrom(SettingsFilePath()); }
