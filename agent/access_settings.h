#pragma once
// Who may read, from the settings file, read once at start: the [TLS]
// section (CertFile, KeyFile, ClientCAFile, MinVersion; relative paths are
// beside the executable) and the [Users] section ("name=bcrypt hash").
// Without either, the agent speaks plain HTTP to anyone, as ever.
#include <string>
#include <vector>

#include "auth/basic_auth.h"
#include "tls/tls_credentials.h"

inline constexpr const wchar_t* kTlsSection = L"TLS";
inline constexpr const wchar_t* kUsersSection = L"Users";

struct AccessSettings {
  bool tls_wanted = false;  // any key of [TLS] set
  tls::TlsFiles tls;
  UsersLoad users;  // no users and no errors: everyone may read
};

AccessSettings ReadAccessSettingsFrom(const std::wstring& settings_file,
                                      const std::wstring& executable_path);

// `path` as it is when absolute, else beside the executable.
std::wstring BesideExecutable(const std::wstring& path, const std::wstring& executable_path);
