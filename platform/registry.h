#pragma once
// Registry keys holding text values. Windows: the registry itself
// (HKEY_CLASSES_ROOT, or HKEY_CURRENT_USER\Software\Classes for per-user
// registration). Linux: a directory tree, a key a folder and a value a file
// named after it holding the text ("@" for the default value), under
// /var/lib/KelvaneHTTPAgent/registry/HKCR and, per user, under
// $XDG_DATA_HOME (or ~/.local/share)/KelvaneHTTPAgent/registry/HKCU; the
// environment variable KVHTTP_REGISTRY_ROOT moves both (ROOT/HKCR,
// ROOT/HKCU). HKEY_CLASSES_ROOT\AppID exists on every Windows machine, so on
// Linux a missing AppID folder reads as an empty key.
//
// Paths use backslashes ("AppID\\{...}"). Every call returns 0 or a system
// error code (2 for a missing key or value).
#include <cstdint>
#include <string>

namespace platform {

enum class RegistryRoot { ClassesRoot, CurrentUserClasses };

std::uint32_t RegistryKeyExists(RegistryRoot root, const std::wstring& key);
std::uint32_t RegistryCreateKey(RegistryRoot root, const std::wstring& key);
// An empty value name is the key's default value.
std::uint32_t RegistrySetString(RegistryRoot root, const std::wstring& key,
                                const std::wstring& value_name, const std::wstring& data);
std::uint32_t RegistryGetString(RegistryRoot root, const std::wstring& key,
                                const std::wstring& value_name, std::wstring& data);
std::uint32_t RegistryDeleteValue(RegistryRoot root, const std::wstring& key,
                                  const std::wstring& value_name);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED / ENOTEMPTY otherwise).
std::uint32_t RegistryDeleteKey(RegistryRoot root, const std::wstring& key);

}  // namespace platform
