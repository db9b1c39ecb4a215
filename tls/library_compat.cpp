#include "tls/library_compat.h"

#include <mbedtls/version.h>

#include <cstdint>

#if MBEDTLS_VERSION_MAJOR >= 3
#include <psa/crypto.h>
#endif

namespace tls::library {
namespace {

// Mozilla's "intermediate" server suites, less the finite-field DHE ones:
// ECDHE with AES-GCM or ChaCha20-Poly1305; first the three of TLS 1.3.
const int kSuites[] = {
#if MBEDTLS_VERSION_MAJOR >= 3
    MBEDTLS_TLS1_3_AES_128_GCM_SHA256,
    MBEDTLS_TLS1_3_AES_256_GCM_SHA384,
    MBEDTLS_TLS1_3_CHACHA20_POLY1305_SHA256,
#endif
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256,
    0,
};

#if MBEDTLS_VERSION_MAJOR >= 3
const std::uint16_t kGroups[] = {
    MBEDTLS_SSL_IANA_TLS_GROUP_X25519, MBEDTLS_SSL_IANA_TLS_GROUP_SECP256R1,
    MBEDTLS_SSL_IANA_TLS_GROUP_SECP384R1, MBEDTLS_SSL_IANA_TLS_GROUP_NONE};
// TLS 1.3 signs with RSA only in PSS; PKCS#1 v1.5 stays for TLS 1.2.
const std::uint16_t kSignatureSchemes[] = {
    MBEDTLS_TLS1_3_SIG_ECDSA_SECP256R1_SHA256, MBEDTLS_TLS1_3_SIG_ECDSA_SECP384R1_SHA384,
    MBEDTLS_TLS1_3_SIG_ECDSA_SECP521R1_SHA512, MBEDTLS_TLS1_3_SIG_RSA_PSS_RSAE_SHA256,
    MBEDTLS_TLS1_3_SIG_RSA_PSS_RSAE_SHA384,    MBEDTLS_TLS1_3_SIG_RSA_PSS_RSAE_SHA512,
    MBEDTLS_TLS1_3_SIG_RSA_PKCS1_SHA256,       MBEDTLS_TLS1_3_SIG_RSA_PKCS1_SHA384,
    MBEDTLS_TLS1_3_SIG_RSA_PKCS1_SHA512,       MBEDTLS_TLS1_3_SIG_NONE};
#else
const mbedtls_ecp_group_id kGroups[] = {MBEDTLS_ECP_DP_CURVE25519, MBEDTLS_ECP_DP_SECP256R1,
                                        MBEDTLS_ECP_DP_SECP384R1, MBEDTLS_ECP_DP_NONE};
const int kSignatureHashes[] = {MBEDTLS_MD_SHA512, MBEDTLS_MD_SHA384, MBEDTLS_MD_SHA256,
                                MBEDTLS_MD_NONE};
#endif

}  // namespace

#if MBEDTLS_VERSION_MAJOR >= 3

bool OffersTls13() {
#if defined(MBEDTLS_SSL_PROTO_TLS1_3)
  return true;
#else
  return false;
#endif
}

int Prepare() {
  const psa_status_t status = psa_crypto_init();
  return status == PSA_SUCCESS ? 0 : MBEDTLS_ERR_SSL_HW_ACCEL_FAILED;
}

int ParseKey(mbedtls_pk_context& key, const unsigned char* bytes, std::size_t size,
             mbedtls_ctr_drbg_context& random) {
  return mbedtls_pk_parse_key(&key, bytes, size, nullptr, 0, mbedtls_ctr_drbg_random, &random);
}

bool KeysPair(const mbedtls_pk_context& certificate_key, const mbedtls_pk_context& key,
              mbedtls_ctr_drbg_context& random) {
  return mbedtls_pk_check_pair(&certificate_key, &key, mbedtls_ctr_drbg_random, &random) == 0;
}

int SignHash(mbedtls_pk_context& key, mbedtls_md_type_t md, const unsigned char* hash,
             std::size_t hash_size, unsigned char* signature, std::size_t signature_room,
             std::size_t& signature_size, mbedtls_ctr_drbg_context& random) {
  return mbedtls_pk_sign(&key, md, hash, hash_size, signature, signature_room, &signature_size,
                         mbedtls_ctr_drbg_random, &random);
}

void OfferModernTls(mbedtls_ssl_config& config, bool tls13_only) {
  mbedtls_ssl_conf_min_tls_version(
      &config, tls13_only ? MBEDTLS_SSL_VERSION_TLS1_3 : MBEDTLS_SSL_VERSION_TLS1_2);
  mbedtls_ssl_conf_max_tls_version(
      &config, OffersTls13() ? MBEDTLS_SSL_VERSION_TLS1_3 : MBEDTLS_SSL_VERSION_TLS1_2);
  mbedtls_ssl_conf_ciphersuites(&config, kSuites);
  mbedtls_ssl_conf_groups(&config, kGroups);
  mbedtls_ssl_conf_sig_algs(&config, kSignatureSchemes);
}

#else  // mbedTLS 2.28

bool OffersTls13() { return false; }

int Prepare() { return 0; }

int ParseKey(mbedtls_pk_context& key, const unsigned char* bytes, std::size_t size,
             mbedtls_ctr_drbg_context&) {
  return mbedtls_pk_parse_key(&key, bytes, size, nullptr, 0);
}

bool KeysPair(const mbedtls_pk_context& certificate_key, const mbedtls_pk_context& key,
              mbedtls_ctr_drbg_context&) {
  return mbedtls_pk_check_pair(&certificate_key, &key) == 0;
}

int SignHash(mbedtls_pk_context& key, mbedtls_md_type_t md, const unsigned char* hash,
             std::size_t hash_size, unsigned char* signature, std::size_t signature_room,
             std::size_t& signature_size, mbedtls_ctr_drbg_context& random) {
  // This version writes up to its largest signature, whatever the room.
  if (signature_room < MBEDTLS_PK_SIGNATURE_MAX_SIZE) return MBEDTLS_ERR_PK_BAD_INPUT_DATA;
  return mbedtls_pk_sign(&key, md, hash, hash_size, signature, &signature_size,
                         mbedtls_ctr_drbg_random, &random);
}

void OfferModernTls(mbedtls_ssl_config& config, bool) {
  mbedtls_ssl_conf_min_version(&config, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
  mbedtls_ssl_conf_max_version(&config, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
  mbedtls_ssl_conf_ciphersuites(&config, kSuites);
  mbedtls_ssl_conf_curves(&config, kGroups);
  mbedtls_ssl_conf_sig_hashes(&config, kSignatureHashes);
}

#endif

}  // namespace tls::library
