#include "foundation/exe_files.h"

#include "platform/paths.h"

std::wstring SiblingFileName(const std::wstring& exe_path, const wchar_t* replacement) {
  size_t name_start = exe_path.find_last_of(L"\\/");
  name_start = name_start == std::wstring::npos ? 0 : name_start + 1;
  size_t dot = exe_path.rfind(L'.');
  if (dot == std::wstring::npos || dot < name_start) return exe_path + replacement;
  return exe_path.substr(0, dot) + replacement;
}

std::wstring SettingsFilePath() { return SiblingFileName(platform::ExecutablePath(), L".ini"); }

std::wstring LogFilePath() { return SiblingFileName(platform::ExecutablePath(), L"_Log.txt"); }
