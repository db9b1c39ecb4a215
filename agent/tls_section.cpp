#include "agent/tls_section.h"

#include "platform/paths.h"
#include "platform/profile.h"

namespace {

bool IsAbsolute(const std::wstring& path) {
  if (!path.empty() && (path[0] == L'/' || path[0] == L'\\')) return true;
  return path.size() >= 2 && path[1] == L':';  // a Windows drive
}

}  // namespace

std::wstring BesideExecutable(const std::wstring& path, const std::wstring& executable_path) {
  if (path.empty() || IsAbsolute(path)) return path;
  const std::size_t separator = executable_path.rfind(platform::kDirSeparator);
  if (separator == std::wstring::npos) return path;
  return executable_path.substr(0, separator + 1) + path;
}

TlsSection ReadTlsSectionFrom(const std::wstring& settings_file,
                              const std::wstring& executable_path) {
  TlsSection section;
  const wchar_t* const keys[] = {L"CertFile", L"KeyFile", L"ClientCAFile", L"MinVersion"};
  std::wstring values[4];
  platform::ReadIniSection(settings_file, kTlsSection, nullptr, nullptr, nullptr, 0, keys, values,
                           4);
  for (const std::wstring& value : values) section.wanted |= !value.empty();
  section.files.cert_file = BesideExecutable(values[0], executable_path);
  section.files.key_file = BesideExecutable(values[1], executable_path);
  section.files.client_ca_file = BesideExecutable(values[2], executable_path);
  section.files.min_version = values[3];
  return section;
}
