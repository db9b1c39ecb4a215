#include "tls/tls_credentials.h"

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/error.h>
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <cstdio>

#include "platform/files.h"
#include "tls/library_compat.h"
#include "tls/library_error.h"

// Handshakes run on several threads and share the key and the random
// generator: the library must lock them.
#if !defined(MBEDTLS_THREADING_C)
#error "mbedtls must be built with MBEDTLS_THREADING_C"
#endif

namespace tls {
namespace {

// The file's bytes with a terminating NUL, as the PEM parsers want them.
bool ReadPem(const std::wstring& path, std::string& bytes, std::wstring& error) {
  if (!platform::ReadWholeRegularFile(path, bytes)) {
    error = L"cannot read " + path;
    return false;
  }
  bytes.push_back('\0');
  return true;
}

std::wstring DateText(const mbedtls_x509_time& time) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%04d-%02d-%02d", time.year, time.mon, time.day);
  return text;
}

}  // namespace

struct TlsCredentials::State {
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context random;
  mbedtls_x509_crt chain;
  mbedtls_x509_crt client_ca;
  mbedtls_pk_context key;
  mbedtls_ssl_config config;
  bool client_certificates = false;
  bool tls13_only = false;

  State() {
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&random);
    mbedtls_x509_crt_init(&chain);
    mbedtls_x509_crt_init(&client_ca);
    mbedtls_pk_init(&key);
    mbedtls_ssl_config_init(&config);
  }
  ~State() {
    mbedtls_ssl_config_free(&config);
    mbedtls_pk_free(&key);
    mbedtls_x509_crt_free(&client_ca);
    mbedtls_x509_crt_free(&chain);
    mbedtls_ctr_drbg_free(&random);
    mbedtls_entropy_free(&entropy);
  }

  bool LoadCertificate(const std::wstring& path, TlsLoad& load) {
    std::string pem;
    if (!ReadPem(path, pem, load.error)) return false;
    int result = mbedtls_x509_crt_parse(&chain, reinterpret_cast<const unsigned char*>(pem.data()),
                                        pem.size());
    if (result != 0) {
      load.error = L"no certificate in " + path + L": " + LibraryError(result);
      return false;
    }
    if (mbedtls_x509_time_is_past(&chain.valid_to)) {
      load.warnings.push_back(L"the certificate in " + path + L" expired on " +
                              DateText(chain.valid_to));
    }
    if (mbedtls_x509_time_is_future(&chain.valid_from)) {
      load.warnings.push_back(L"the certificate in " + path + L" is valid only from " +
                              DateText(chain.valid_from));
    }
    return true;
  }

  bool LoadKey(const std::wstring& path, TlsLoad& load) {
    std::string pem;
    if (!ReadPem(path, pem, load.error)) return false;
    int result = library::ParseKey(key, reinterpret_cast<const unsigned char*>(pem.data()),
                                   pem.size(), random);
    mbedtls_platform_zeroize(pem.data(), pem.size());
    if (result != 0) {
      load.error = L"no usable private key in " + path + L": " + LibraryError(result);
      return false;
    }
    const mbedtls_pk_type_t type = mbedtls_pk_get_type(&key);
    if (type != MBEDTLS_PK_RSA && type != MBEDTLS_PK_ECKEY) {
      load.error = L"the key in " + path + L" is neither RSA nor EC";
      return false;
    }
    // Also computes an EC key's tables once, before threads share the key.
    if (!library::KeysPair(chain.pk, key, random)) {
      load.error = L"the key in " + path + L" does not belong to the certificate";
      return false;
    }
    return true;
  }

  bool LoadClientCa(const std::wstring& path, TlsLoad& load) {
    std::string pem;
    if (!ReadPem(path, pem, load.error)) return false;
    int result = mbedtls_x509_crt_parse(
        &client_ca, reinterpret_cast<const unsigned char*>(pem.data()), pem.size());
    if (result != 0) {
      load.error = L"no CA certificate in " + path + L": " + LibraryError(result);
      return false;
    }
    client_certificates = true;
    return true;
  }

  // The library's own set-up and the random generator, which the key's
  // check already uses.
  bool PrepareLibrary(TlsLoad& load) {
    static const char kPersonal[] = "KelvaneHTTPAgent TLS";
    int result = library::Prepare();
    if (result == 0) {
      result = mbedtls_ctr_drbg_seed(&random, mbedtls_entropy_func, &entropy,
                                     reinterpret_cast<const unsigned char*>(kPersonal),
                                     sizeof kPersonal - 1);
    }
    if (result != 0) load.error = L"TLS cannot be set up: " + LibraryError(result);
    return result == 0;
  }

  bool Configure(TlsLoad& load) {
    int result = mbedtls_ssl_config_defaults(
        &config, MBEDTLS_SSL_IS_SERVER, MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT);
    if (result == 0) result = mbedtls_ssl_conf_own_cert(&config, &chain, &key);
    if (result != 0) {
      load.error = L"TLS cannot be set up: " + LibraryError(result);
      return false;
    }
    mbedtls_ssl_conf_rng(&config, mbedtls_ctr_drbg_random, &random);
    library::OfferModernTls(config, tls13_only);
    mbedtls_ssl_conf_renegotiation(&config, MBEDTLS_SSL_RENEGOTIATION_DISABLED);
    if (client_certificates) {
      mbedtls_ssl_conf_ca_chain(&config, &client_ca, nullptr);
      mbedtls_ssl_conf_authmode(&config, MBEDTLS_SSL_VERIFY_REQUIRED);
    } else {
      mbedtls_ssl_conf_authmode(&config, MBEDTLS_SSL_VERIFY_NONE);
    }
    return true;
  }
};

bool OffersTls13() { return library::OffersTls13(); }

TlsCredentials::TlsCredentials() : state_(std::make_unique<State>()) {}
TlsCredentials::~TlsCredentials() = default;

TlsLoad TlsCredentials::Load(const TlsFiles& files) {
  TlsLoad load;
  const bool tls13_only = files.min_version == L"1.3";
  if (tls13_only && !library::OffersTls13()) {
    load.error = L"MinVersion=1.3: this build's TLS library offers TLS 1.2 at most";
    return load;
  }
  if (!files.min_version.empty() && files.min_version != L"1.2" && !tls13_only) {
    load.error = L"MinVersion=" + files.min_version + L" is not 1.2 or 1.3";
    return load;
  }
  if (files.cert_file.empty() || files.key_file.empty()) {
    load.error = L"[TLS] needs both CertFile and KeyFile";
    return load;
  }
  std::shared_ptr<TlsCredentials> made(new TlsCredentials());
  State& state = *made->state_;
  state.tls13_only = tls13_only;
  if (!state.PrepareLibrary(load) || !state.LoadCertificate(files.cert_file, load) ||
      !state.LoadKey(files.key_file, load) ||
      (!files.client_ca_file.empty() && !state.LoadClientCa(files.client_ca_file, load)) ||
      !state.Configure(load)) {
    return load;
  }
  load.credentials = std::move(made);
  return load;
}

bool TlsCredentials::AsksForClientCertificate() const { return state_->client_certificates; }

const void* TlsCredentials::Config() const { return &state_->config; }

}  // namespace tls
