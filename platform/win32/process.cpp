#include "platform/process.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {

bool StartElevated(const std::wstring& exe, const std::wstring& params) {
  HINSTANCE result =
      ShellExecuteW(nullptr, L"runas", exe.c_str(), params.c_str(), nullptr, SW_HIDE);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace platform
