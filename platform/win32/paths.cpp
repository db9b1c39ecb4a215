#include "platform/paths.h"

#include <windows.h>

namespace platform {

std::wstring ExecutablePath() {
  std::wstring path(5000, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  return path;
}

std::wstring CommandLine() { return GetCommandLineW(); }

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace platform
