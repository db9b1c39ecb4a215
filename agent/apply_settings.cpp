#include "agent/apply_settings.h"

#include <atomic>
#include <cwchar>
#include <mutex>

#include "agent/settings_section.h"
#include "foundation/debug_channel.h"
#include "foundation/exe_files.h"
#include "foundation/format.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"

std::wstring RelaunchParameters(std::uint16_t port, bool can_launch) {
  wchar_t text[64];
  swprintf(text, 64, L"-relaunch %ls -setport %u", can_launch ? L"-tested" : L"",
           static_cast<unsigned>(port));
  return text;
}

namespace {

// One elevated copy at a time: each would ask the user for consent (or start
// pkexec) again, and a flood of settings actions must not start a flood of
// them.
std::atomic<bool> g_relaunch_in_flight{false};

void RelaunchEnded() { g_relaunch_in_flight.store(false); }

// True when the file already holds both values; else writes them, true when
// either write went through.
bool WriteBoth(const std::wstring& settings_file, std::uint16_t port, bool can_launch) {
  // Both keys are written under one lock so that concurrent callers cannot
  // leave one caller's port beside another's flag.
  static std::mutex* writer = new std::mutex;  // never destroyed: used until the end
  std::lock_guard<std::mutex> hold(*writer);
  if (port == ReadPortFrom(settings_file) && can_launch == ReadCanLaunchFrom(settings_file)) {
    return true;
  }
  CWString port_text;
  Format(port_text, L"{0}", static_cast<std::uint32_t>(port));
  bool port_written = platform::WriteIniString(settings_file, kSettingsSection, L"Port", port_text);
  bool flag_written = platform::WriteIniString(settings_file, kSettingsSection, L"CanLaunch",
                                               can_launch ? L"1" : L"0");
  return port_written || flag_written;
}

}  // namespace

void ApplySettingsTo(const std::wstring& settings_file, const std::wstring& exe_path,
                     std::uint16_t port, bool can_launch) {
  if (WriteBoth(settings_file, port, can_launch)) return;
  bool idle = false;
  if (!g_relaunch_in_flight.compare_exchange_strong(idle, true)) {
    WriteDebugText(L"Elevated relaunch already in progress: none started\r\n");
    return;
  }
  WriteDebugText(L"Starting an elevated relaunch to store the settings\r\n");
  if (!platform::StartElevated(exe_path, RelaunchParameters(port, can_launch), RelaunchEnded)) {
    RelaunchEnded();
  }
}

void ApplySettings(std::uint16_t port, bool can_launch) {
  ApplySettingsTo(SettingsFilePath(), platform::ExecutablePath(), port, can_launch);
}
