#pragma once
// The [TLS] section of the settings file, read once at start: CertFile,
// KeyFile, ClientCAFile and MinVersion; relative paths are beside the
// executable. Without any of them, the agent speaks plain HTTP, as ever.
#include <string>

#include "tls/tls_credentials.h"

inline constexpr const wchar_t* kTlsSection = L"TLS";

struct TlsSection {
  bool wanted = false;  // any key set
  tls::TlsFiles files;
};

TlsSection ReadTlsSectionFrom(const std::wstring& settings_file,
                              const std::wstring& executable_path);

// `path` as it is when absolute, else beside the executable.
std::wstring BesideExecutable(const std::wstring& path, const std::wstring& executable_path);
