// What one full handshake costs the agent's side in the TLS library: the
// ECDHE key pair and shared secret (P-256 and X25519) and the signature
// (ECDSA P-256, RSA-2048) with the test keys. bench/tls_crypto_cost.sh puts
// these beside `openssl speed`, nginx's library, for the same operations.
#include <benchmark/benchmark.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ecdh.h>
#include <mbedtls/entropy.h>
#include <mbedtls/pk.h>

#include <cstdio>
#include <string>

#include "platform/files.h"
#include "tls/library_compat.h"

namespace {

struct Random {
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context drbg;
  Random() {
    tls::library::Prepare();
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0);
  }
  ~Random() {
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
  }
};

void EcdhExchange(benchmark::State& state, mbedtls_ecp_group_id group) {
  Random random;
  for (auto _ : state) {
    mbedtls_ecdh_context server, client;
    mbedtls_ecdh_init(&server);
    mbedtls_ecdh_init(&client);
    mbedtls_ecdh_setup(&server, group);
    mbedtls_ecdh_setup(&client, group);
    unsigned char server_public[100], client_public[100], secret[66];
    std::size_t server_length = 0, client_length = 0, secret_length = 0;
    mbedtls_ecdh_make_public(&client, &client_length, client_public, sizeof client_public,
                             mbedtls_ctr_drbg_random, &random.drbg);
    // Timed as the server does it: its key pair and the shared secret.
    mbedtls_ecdh_make_public(&server, &server_length, server_public, sizeof server_public,
                             mbedtls_ctr_drbg_random, &random.drbg);
    mbedtls_ecdh_read_public(&server, client_public, client_length);
    mbedtls_ecdh_calc_secret(&server, &secret_length, secret, sizeof secret,
                             mbedtls_ctr_drbg_random, &random.drbg);
    benchmark::DoNotOptimize(secret);
    mbedtls_ecdh_free(&server);
    mbedtls_ecdh_free(&client);
  }
}
void BM_EcdheP256(benchmark::State& state) { EcdhExchange(state, MBEDTLS_ECP_DP_SECP256R1); }
void BM_EcdheX25519(benchmark::State& state) { EcdhExchange(state, MBEDTLS_ECP_DP_CURVE25519); }

void Sign(benchmark::State& state, const char* key_file) {
  Random random;
  mbedtls_pk_context key;
  mbedtls_pk_init(&key);
  const std::string path = std::string(KV_TLS_TEST_DATA) + "/" + key_file;
  std::string pem;
  const bool read = platform::ReadWholeRegularFile(std::wstring(path.begin(), path.end()), pem);
  pem.push_back('\0');  // as the PEM parser wants it
  if (!read || tls::library::ParseKey(key, reinterpret_cast<const unsigned char*>(pem.data()),
                                      pem.size(), random.drbg) != 0) {
    state.SkipWithError("cannot read the test key");
    return;
  }
  unsigned char hash[32] = {1, 2, 3}, signature[MBEDTLS_PK_SIGNATURE_MAX_SIZE];
  for (auto _ : state) {
    std::size_t length = 0;
    tls::library::SignHash(key, MBEDTLS_MD_SHA256, hash, sizeof hash, signature, sizeof signature,
                           length, random.drbg);
    benchmark::DoNotOptimize(signature);
  }
  mbedtls_pk_free(&key);
}
void BM_SignEcdsaP256(benchmark::State& state) { Sign(state, "server.key"); }
void BM_SignRsa2048(benchmark::State& state) { Sign(state, "server-rsa.key"); }

BENCHMARK(BM_EcdheP256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EcdheX25519)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignEcdsaP256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SignRsa2048)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
