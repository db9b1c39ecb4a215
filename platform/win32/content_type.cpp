#include "platform/content_type.h"

#include <windows.h>

namespace platform {

bool RegisteredContentType(const std::wstring& extension, std::string& content_type) {
  HKEY key;
  if (RegOpenKeyW(HKEY_CLASSES_ROOT, extension.c_str(), &key) != ERROR_SUCCESS) return false;
  wchar_t value[1000] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  DWORD type = 0;
  LONG rc =
      RegQueryValueExW(key, L"Content Type", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || value[0] == 0) return false;
  int n = WideCharToMultiByte(CP_ACP, 0, value, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return false;
  content_type.assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, value, -1, content_type.data(), n, nullptr, nullptr);
  content_type.resize(static_cast<size_t>(n - 1));
  return true;
}

}  // namespace platform
