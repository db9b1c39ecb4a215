#include "platform/desktop.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {

int StartupShowCommand() {
  STARTUPINFOW info{};
  info.cb = sizeof info;
  GetStartupInfoW(&info);
  return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
}

void OpenBrowser(const std::wstring& url) {
  ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOW);
}

void ShowMessage(const std::wstring& caption, const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

bool InstanceMarkerAlreadyTaken(const std::wstring& name) {
  // Built once and never freed: the event must be open to every account.
  static SECURITY_DESCRIPTOR descriptor;
  static SECURITY_ATTRIBUTES attributes;
  static bool built = false;
  if (!built) {
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    attributes = {sizeof attributes, &descriptor, TRUE};
    built = true;
  }
  HANDLE event = CreateEventW(&attributes, FALSE, FALSE, (L"Global\\" + name).c_str());
  return event != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;  // the handle stays open
}

}  // namespace platform

namespace platform {

std::wstring ResourceString(unsigned id, const wchar_t* fallback) {
  wchar_t text[256] = {};
  int n = LoadStringW(GetModuleHandleW(nullptr), id, text, 256);
  return n > 0 ? std::wstring(text, static_cast<size_t>(n)) : std::wstring(fallback);
}

}  // namespace platform
