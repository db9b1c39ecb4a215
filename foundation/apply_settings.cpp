#include "foundation/apply_settings.h"

#include <cwchar>
#include <mutex>

#include "foundation/exe_files.h"
#include "foundation/format.h"
#include "foundation/settings.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"

std::wstring RelaunchParameters(std::uint16_t port, bool can_launch) {
  wchar_t text[64];
  swprintf(text, 64, L"-relaunch %ls -setport %u", can_launch ? L"-tested" : L"",
           static_cast<unsigned>(port));
  return text;
}

void ApplySettingsTo(const std::wstring& settings_file, const std::wstring& exe_path,
                     std::uint16_t port, bool can_launch) {
  // Both keys are written under one lock so that concurrent callers cannot
  // leave one caller's port beside another's flag.
  static std::mutex writer;
  std::lock_guard<std::mutex> hold(writer);
  if (port == ReadPortFrom(settings_file) && can_launch == ReadCanLaunchFrom(settings_file)) {
    return;
  }
  CWString port_text;
  Format(port_text, L"{0}", static_cast<std::uint32_t>(port));
  bool port_written = platform::WriteIniString(settings_file, kSettingsSection, L"Port", port_text);
  bool flag_written = platform::WriteIniString(settings_file, kSettingsSection, L"CanLaunch",
                                               can_launch ? L"1" : L"0");
  if (port_written || flag_written) return;
  platform::StartElevated(exe_path, RelaunchParameters(port, can_launch));
}

void ApplySettings(std::uint16_t port, bool can_launch) {
  ApplySettingsTo(SettingsFilePath(), platform::ExecutablePath(), port, can_launch);
}
