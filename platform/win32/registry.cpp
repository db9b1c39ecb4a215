#include "platform/registry.h"

#include <windows.h>

namespace platform {
namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}

std::wstring FullPath(RegistryRoot root, const std::wstring& key) {
  return root == RegistryRoot::ClassesRoot ? key : L"Software\\Classes\\" + key;
}

}  // namespace

std::uint32_t RegistryKeyExists(RegistryRoot root, const std::wstring& key) {
  HKEY handle;
  LONG rc = RegOpenKeyExW(RootKey(root), FullPath(root, key).c_str(), 0, KEY_READ, &handle);
  if (rc == ERROR_SUCCESS) RegCloseKey(handle);
  return static_cast<std::uint32_t>(rc);
}

std::uint32_t RegistryCreateKey(RegistryRoot root, const std::wstring& key) {
  HKEY handle;
  LONG rc = RegCreateKeyExW(RootKey(root), FullPath(root, key).c_str(), 0, nullptr, 0,
                            KEY_READ | KEY_WRITE, nullptr, &handle, nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(handle);
  return static_cast<std::uint32_t>(rc);
}

std::uint32_t RegistrySetString(RegistryRoot root, const std::wstring& key,
                                const std::wstring& value_name, const std::wstring& data) {
  HKEY handle;
  LONG rc = RegCreateKeyExW(RootKey(root), FullPath(root, key).c_str(), 0, nullptr, 0,
                            KEY_READ | KEY_WRITE, nullptr, &handle, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
  rc = RegSetValueExW(handle, value_name.empty() ? nullptr : value_name.c_str(), 0, REG_SZ,
                      reinterpret_cast<const BYTE*>(data.c_str()),
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return static_cast<std::uint32_t>(rc);
}

std::uint32_t RegistryGetString(RegistryRoot root, const std::wstring& key,
                                const std::wstring& value_name, std::wstring& data) {
  HKEY handle;
  LONG rc = RegOpenKeyExW(RootKey(root), FullPath(root, key).c_str(), 0, KEY_READ, &handle);
  if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
  wchar_t buffer[260] = {};  // 520 bytes, as the service check reads it
  DWORD size = sizeof(buffer) - sizeof(wchar_t), type = 0;
  rc = RegQueryValueExW(handle, value_name.empty() ? nullptr : value_name.c_str(), nullptr, &type,
                        reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
  bool text = (type == REG_SZ || type == REG_EXPAND_SZ) &&
              (size == 0 || (size % 2 == 0 && buffer[size / 2 - 1] == 0));
  if (!text) return ERROR_INVALID_DATA;
  data = buffer;
  return 0;
}

std::uint32_t RegistryDeleteValue(RegistryRoot root, const std::wstring& key,
                                  const std::wstring& value_name) {
  HKEY handle;
  LONG rc = RegOpenKeyExW(RootKey(root), FullPath(root, key).c_str(), 0, KEY_WRITE, &handle);
  if (rc != ERROR_SUCCESS) return static_cast<std::uint32_t>(rc);
  rc = RegDeleteValueW(handle, value_name.c_str());
  RegCloseKey(handle);
  return static_cast<std::uint32_t>(rc);
}

std::uint32_t RegistryDeleteKey(RegistryRoot root, const std::wstring& key) {
  return static_cast<std::uint32_t>(RegDeleteKeyW(RootKey(root), FullPath(root, key).c_str()));
}

}  // namespace platform
