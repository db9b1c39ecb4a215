#pragma once
// The test certificates and keys in tests/tls/data (KV_TLS_TEST_DATA).
#include <string>

inline std::string TlsTestFile(const char* name) {
  return std::string(KV_TLS_TEST_DATA) + "/" + name;
}

inline std::wstring TlsTestPath(const char* name) {
  const std::string path = TlsTestFile(name);
  return std::wstring(path.begin(), path.end());
}
