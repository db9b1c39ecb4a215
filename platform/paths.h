#pragma once
// The executable's own path and command line, and the directory separator.
#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr wchar_t kDirSeparator = L'\\';
inline constexpr bool kFileNamesIgnoreCase = true;
inline constexpr const wchar_t* kExecutableSuffix = L".exe";
#else
inline constexpr wchar_t kDirSeparator = L'/';
inline constexpr bool kFileNamesIgnoreCase = false;
inline constexpr const wchar_t* kExecutableSuffix = L"";
#endif

// Full path of the running executable (GetModuleFileNameW; on Linux
// readlink("/proc/self/exe")). Empty when the system cannot tell.
std::wstring ExecutablePath();

// The whole command line, starting with the executable (GetCommandLineW; on
// Linux argv joined by single blanks, an argument holding a blank or tab, or
// an empty one, put in double quotes).
std::wstring CommandLine();

// True when a file or directory exists at `path` (an existence test only).
bool PathExists(const std::wstring& path);

}  // namespace platform
