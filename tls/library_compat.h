#pragma once
// The few calls whose form differs between the two mbedTLS versions we build
// against: 2.28 (Debian 12) and 3.6 (Debian 13). Everything else uses the
// calls both share; only library_compat.cpp asks which version it has.
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>

#include <cstddef>

namespace tls::library {

// Whether this build's library speaks TLS 1.3 (3.x does, 2.28 does not).
bool OffersTls13();

// Sets up what the library needs before its first handshake (3.x: its PSA
// crypto core). 0 or the library's error code.
int Prepare();

// A PEM or DER private key, unencrypted; `random` blinds the key check.
int ParseKey(mbedtls_pk_context& key, const unsigned char* bytes, std::size_t size,
             mbedtls_ctr_drbg_context& random);

// Whether `key` is the private half of `certificate_key`.
bool KeysPair(const mbedtls_pk_context& certificate_key, const mbedtls_pk_context& key,
              mbedtls_ctr_drbg_context& random);

// Signs a hash as a handshake does; 0 or the library's error code.
int SignHash(mbedtls_pk_context& key, mbedtls_md_type_t md, const unsigned char* hash,
             std::size_t hash_size, unsigned char* signature, std::size_t signature_room,
             std::size_t& signature_size, mbedtls_ctr_drbg_context& random);

// The protocols, suites, groups and signature schemes the agent offers:
// TLS 1.2 (and 1.3 where the library has it, only 1.3 with `tls13_only`),
// ECDHE with AEAD ciphers, SHA-2 signatures.
void OfferModernTls(mbedtls_ssl_config& config, bool tls13_only);

}  // namespace tls::library
