#pragma once
// TlsCredentials: what every TLS connection of the agent shares. Its
// certificate chain and key, the CA that must have signed a client's
// certificate (mutual TLS, optional), and one configuration: TLS 1.3 where
// the library has it and TLS 1.2, with ECDHE key exchange and AEAD ciphers
// only, SHA-2 signatures, no renegotiation, no compression, no resumption
// (no session tickets: every connection is a full handshake). Loaded once at start, read-only
// afterwards, shared by the threads that run handshakes.
#include <memory>
#include <string>
#include <vector>

namespace tls {

// The files of the [TLS] section, as full paths, and its MinVersion text.
struct TlsFiles {
  std::wstring cert_file;       // PEM, the leaf first, the chain allowed
  std::wstring key_file;        // PEM, RSA or EC
  std::wstring client_ca_file;  // empty: no client certificate asked for
  std::wstring min_version;     // "1.2" (empty means it) or "1.3"
};

// Whether this build's TLS library offers TLS 1.3 (and so MinVersion=1.3).
bool OffersTls13();

class TlsCredentials;

struct TlsLoad {
  std::shared_ptr<const TlsCredentials> credentials;  // null on failure
  std::wstring error;                                 // why, for a person
  std::vector<std::wstring> warnings;                 // served all the same
};

class TlsCredentials {
 public:
  // Reads and checks the files: a missing or unreadable file, a key that
  // does not belong to the certificate, or a MinVersion this build cannot
  // offer is an error. A certificate out of its validity dates is a warning.
  static TlsLoad Load(const TlsFiles& files);
  ~TlsCredentials();
  TlsCredentials(const TlsCredentials&) = delete;
  TlsCredentials& operator=(const TlsCredentials&) = delete;

  bool AsksForClientCertificate() const;
  // The library's configuration (mbedtls_ssl_config), for TlsSession.
  const void* Config() const;

 private:
  TlsCredentials();
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tls
