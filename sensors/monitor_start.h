#pragma once
// Starting the monitor when its block is missing: make it start hidden
// (its configuration's "StartupHide=false" becomes "StartupHide=true"), start
// it hidden (elevated on Windows when the system asks), then poll for a valid
// block. Runs under the data endpoint's render lock.
#include <cstdint>
#include <string>

#include "foundation/wstring.h"

// The poll for the block: `attempts` tries, `interval_ms` apart (the first
// one interval after the start). Tests shorten them.
struct MonitorWait {
  int attempts = 15;
  int interval_ms = 1000;
};
MonitorWait& MonitorWaitSettings();

// True when the monitor process was started (whether or not its block then
// appeared); the last poll's mapping (or none) is left in the snapshot state
// and its open error in `open_error`. False when it could not be started; the
// reason is logged.
bool StartMonitor(const wchar_t* monitor_path, std::uint32_t& open_error);

// The monitor's configuration file. Windows: the lower-cased monitor path
// with "kelvane.exe" replaced by "kelvaneparams.cfg". Linux: the monitor's
// folder plus "kelvaneparams.cfg" (folders are case-sensitive there).
CWString MonitorConfigPath(const wchar_t* monitor_path);

// Replaces every "StartupHide=false" in the file's bytes by
// "StartupHide=true", keeps every other byte, and replaces the file
// atomically; writes nothing when the text is absent. Logs failures.
void EnableStartupHide(const CWString& config_path);
