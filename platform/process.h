#pragma once
// Starting other programs.
#include <string>

namespace platform {

// Starts `exe` with administrator rights and the parameter text `params`,
// hidden, without waiting. Windows: ShellExecuteW(NULL, "runas", exe, params,
// NULL, SW_HIDE), which asks the user for consent. Linux: `pkexec exe params…`
// (the text split at blanks) when pkexec is on the PATH, else nothing, the
// same as a refused consent. True when the start was handed over.
bool StartElevated(const std::wstring& exe, const std::wstring& params);

}  // namespace platform
