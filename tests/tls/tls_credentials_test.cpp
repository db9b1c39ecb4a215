#include "tls/tls_credentials.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/tls/test_data.h"

namespace {

struct LoadCase {
  const char* what;
  const char* cert;
  const char* key;
  const char* client_ca;
  const wchar_t* min_version;
  const wchar_t* error;    // a part of the error text; null: loads
  const wchar_t* warning;  // a part of the one warning; null: none
};

const LoadCase kCases[] = {
    {"EC key", "server.pem", "server.key", "", L"", nullptr, nullptr},
    {"RSA key", "server-rsa.pem", "server-rsa.key", "", L"1.2", nullptr, nullptr},
    {"client CA", "server.pem", "server.key", "ca.pem", L"", nullptr, nullptr},
    {"expired: served, with a warning", "expired.pem", "expired.key", "", L"", nullptr,
     L"expired on 2020-01-02"},
    {"missing certificate", "absent.pem", "server.key", "", L"", L"cannot read", nullptr},
    {"missing key", "server.pem", "absent.key", "", L"", L"cannot read", nullptr},
    {"missing client CA", "server.pem", "server.key", "absent.pem", L"", L"cannot read", nullptr},
    {"key of another certificate", "server.pem", "other.key", "", L"", L"does not belong", nullptr},
    {"RSA key for an EC certificate", "server.pem", "server-rsa.key", "", L"", L"does not belong",
     nullptr},
    {"a key where the certificate goes", "server.key", "server.key", "", L"", L"no certificate",
     nullptr},
    {"a certificate where the key goes", "server.pem", "server.pem", "", L"",
     L"no usable private key", nullptr},
    {"no key file", "server.pem", nullptr, "", L"", L"needs both", nullptr},
    // Served by a library with TLS 1.3 (3.x), refused by one without (2.28).
    {"TLS 1.3 only", "server.pem", "server.key", "", L"1.3",
     KV_EXPECT_TLS13 ? nullptr : L"TLS 1.2 at most", nullptr},
    {"TLS 1.0", "server.pem", "server.key", "", L"1.0", L"not 1.2 or 1.3", nullptr},
};

TEST(TlsCredentialsTest, OffersTls13ExactlyWhereTheLibraryHasIt) {
  EXPECT_EQ(tls::OffersTls13(), KV_EXPECT_TLS13 != 0);
}

TEST(TlsCredentialsTest, LoadsOrSaysWhyNot) {
  for (const LoadCase& c : kCases) {
    tls::TlsFiles files;
    files.cert_file = TlsTestPath(c.cert);
    files.key_file = c.key == nullptr ? std::wstring() : TlsTestPath(c.key);
    files.client_ca_file = *c.client_ca == '\0' ? std::wstring() : TlsTestPath(c.client_ca);
    files.min_version = c.min_version;
    tls::TlsLoad load = tls::TlsCredentials::Load(files);
    if (c.error == nullptr) {
      ASSERT_NE(load.credentials, nullptr)
          << c.what << ": " << std::string(load.error.begin(), load.error.end());
      EXPECT_EQ(load.credentials->AsksForClientCertificate(), *c.client_ca != '\0') << c.what;
    } else {
      EXPECT_EQ(load.credentials, nullptr) << c.what;
      EXPECT_NE(load.error.find(c.error), std::wstring::npos)
          << c.what << ": " << std::string(load.error.begin(), load.error.end());
    }
    if (c.warning == nullptr) {
      EXPECT_TRUE(load.warnings.empty()) << c.what;
    } else {
      ASSERT_EQ(load.warnings.size(), 1u) << c.what;
      EXPECT_NE(load.warnings[0].find(c.warning), std::wstring::npos) << c.what;
    }
  }
}

}  // namespace
