#pragma once
// What a desktop start needs from the system.
#include <cstdint>
#include <string>

namespace platform {

// The show command the starter asked for: GetStartupInfoW's show-window
// value, or 10 when it set none. Linux: 10 with a graphical session (DISPLAY
// or WAYLAND_DISPLAY set), else 0.
int StartupShowCommand();

// Opens `url` in the user's browser: ShellExecuteW "open" with SW_SHOW;
// Linux: xdg-open, detached, nothing when it is missing.
void OpenBrowser(const std::wstring& url);

// A message for the user, captioned: MessageBoxW with an OK button; Linux:
// one line on standard error, "caption: text".
void ShowMessage(const std::wstring& caption, const std::wstring& text);

// Takes the single-instance marker for the life of the process and says
// whether another process already holds it: the named event
// "Global\\<name>" with a null DACL on Windows (ERROR_ALREADY_EXISTS), an
// abstract Unix socket "<name>" on Linux (EADDRINUSE). Any other failure
// counts as the first instance.
bool InstanceMarkerAlreadyTaken(const std::wstring& name);

}  // namespace platform

namespace platform {

// String `id` of the executable's string table (LoadStringW); Linux, which
// has no resources, and a missing string give `fallback`.
std::wstring ResourceString(unsigned id, const wchar_t* fallback);

}  // namespace platform
