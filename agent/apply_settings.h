#pragma once
// ApplySettings: the only writer of the settings file. Writes "Port" and then
// "CanLaunch" when either differs from what the file holds; when both writes
// fail (a folder the account may not write), starts an elevated copy of the
// agent with "-relaunch %s -setport %u" that stores them. While one such copy
// runs (or its consent prompt is up), later calls start none and say so in
// the trace. The running server keeps its port. Writes are serialised, so
// two calls at once leave one complete result in the file.
#include <cstdint>
#include <string>

void ApplySettings(std::uint16_t port, bool can_launch);

// The same for a given settings file and executable (for tests and callers
// that know both).
void ApplySettingsTo(const std::wstring& settings_file, const std::wstring& exe_path,
                     std::uint16_t port, bool can_launch);

// The elevated copy's parameter text: "-relaunch -tested -setport 8080", or
// with two blanks after "-relaunch" when can_launch is false.
std::wstring RelaunchParameters(std::uint16_t port, bool can_launch);
