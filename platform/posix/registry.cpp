#include "platform/registry.h"

#include <errno.h>
#include <stdlib.h>
#include <wctype.h>

#include <filesystem>
#include <system_error>

#include "platform/posix/file_io.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

fs::path RootFolder(RegistryRoot root) {
  const char* moved = getenv("KVHTTP_REGISTRY_ROOT");
  if (moved != nullptr && *moved != 0) {
    return fs::path(moved) / (root == RegistryRoot::ClassesRoot ? "HKCR" : "HKCU");
  }
  if (root == RegistryRoot::ClassesRoot) return "/var/lib/KelvaneHTTPAgent/registry/HKCR";
  const char* data = getenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  fs::path base = data != nullptr && *data != 0
                      ? fs::path(data)
                      : fs::path(home != nullptr ? home : "/") / ".local/share";
  return base / "KelvaneHTTPAgent/registry/HKCU";
}

fs::path KeyFolder(RegistryRoot root, const std::wstring& key) {
  fs::path folder = RootFolder(root);
  std::wstring part;
  for (wchar_t c : key + L"\\") {
    if (c != L'\\') {
      part += c;
    } else if (!part.empty()) {
      folder /= NarrowPath(part);
      part.clear();
    }
  }
  return folder;
}

fs::path ValueFile(RegistryRoot root, const std::wstring& key, const std::wstring& name) {
  return KeyFolder(root, key) / (name.empty() ? std::string("@") : NarrowPath(name));
}

bool IsAppIdKey(const std::wstring& key) {
  std::wstring lower;
  for (wchar_t c : key) lower += static_cast<wchar_t>(towlower(c));
  return lower == L"appid";
}

std::uint32_t Code(const std::error_code& error) {
  return error ? static_cast<std::uint32_t>(error.value()) : 0;
}

}  // namespace

std::uint32_t RegistryKeyExists(RegistryRoot root, const std::wstring& key) {
  if (root == RegistryRoot::ClassesRoot && IsAppIdKey(key)) return 0;  // always present
  std::error_code error;
  return fs::is_directory(KeyFolder(root, key), error) ? 0 : ENOENT;
}

std::uint32_t RegistryCreateKey(RegistryRoot root, const std::wstring& key) {
  std::error_code error;
  fs::create_directories(KeyFolder(root, key), error);
  return Code(error);
}

std::uint32_t RegistrySetString(RegistryRoot root, const std::wstring& key,
                                const std::wstring& value_name, const std::wstring& data) {
  if (std::uint32_t rc = RegistryCreateKey(root, key)) return rc;
  return ReplaceFileAtomically(ValueFile(root, key, value_name).wstring(), NarrowPath(data))
             ? 0
             : static_cast<std::uint32_t>(errno);
}

std::uint32_t RegistryGetString(RegistryRoot root, const std::wstring& key,
                                const std::wstring& value_name, std::wstring& data) {
  std::string bytes;
  if (!ReadWholeFile(ValueFile(root, key, value_name).wstring(), bytes)) {
    return static_cast<std::uint32_t>(errno);
  }
  data.assign(AnsiToWide(bytes, nullptr, 0), L'\0');
  AnsiToWide(bytes, data.data(), data.size());
  return 0;
}

std::uint32_t RegistryDeleteValue(RegistryRoot root, const std::wstring& key,
                                  const std::wstring& value_name) {
  std::error_code error;
  if (!fs::remove(ValueFile(root, key, value_name), error) && !error) return ENOENT;
  return Code(error);
}

std::uint32_t RegistryDeleteKey(RegistryRoot root, const std::wstring& key) {
  fs::path folder = KeyFolder(root, key);
  std::error_code error;
  if (!fs::is_directory(folder, error)) return ENOENT;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_directory()) return ENOTEMPTY;  // a key with subkeys stays
  }
  fs::remove_all(folder, error);
  return Code(error);
}

}  // namespace platform
