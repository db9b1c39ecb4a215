#pragma once
// Starting other programs.
#include <cstdint>
#include <string>

namespace platform {

// Starts `exe` with administrator rights and the parameter text `params`,
// hidden, without waiting for it. Windows: ShellExecuteExW with the verb
// "runas" and SW_HIDE, which asks the user for consent (and returns once it
// is answered). Linux: `pkexec exe params…` (the text split at blanks) when
// pkexec is on the PATH, else nothing, the same as a refused consent.
// True when the start was handed over; then `on_end` (if given) is called
// once, on another thread, when the started program has ended (at once when
// there is no program to watch). False, and `on_end` is never called,
// otherwise.
bool StartElevated(const std::wstring& exe, const std::wstring& params, void (*on_end)() = nullptr);

using ProcessHandle = std::int64_t;
inline constexpr ProcessHandle kNoProcess = 0;
// The Windows error that asks for an elevated start; Linux never reports it.
inline constexpr std::uint32_t kErrorElevationRequired = 740;

// Starts `exe` hidden, with no command line of its own, no inherited handles,
// the agent's environment and current folder. Windows: CreateProcessW with
// STARTF_USESHOWWINDOW / SW_HIDE. Linux: posix_spawn with standard input,
// output and error on /dev/null, in a new session. kNoProcess on failure
// (LastError set).
ProcessHandle StartHidden(const std::wstring& exe);

// ShellExecuteW(NULL, "runas", exe, NULL, NULL, SW_HIDE); true when the shell
// reported success (a result above 32). Linux: false (never asked for).
bool StartElevatedHidden(const std::wstring& exe);

// Whether a started process still runs (a zero wait). Linux reaps it here
// when it has ended, so no zombie stays behind.
enum class ProcessState { Running, Ended, Unknown };
ProcessState QueryProcess(ProcessHandle process);
void CloseProcess(ProcessHandle process);

// Ends a process started by StartHidden (tests and the stand-in's callers).
void TerminateStartedProcess(ProcessHandle process);

}  // namespace platform
