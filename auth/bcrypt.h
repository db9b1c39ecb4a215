#pragma once
// bcrypt password hashes, as htpasswd -B, libxcrypt and OpenBSD make them:
// "$2b$10$" + 22 characters of salt + 31 of digest, in bcrypt's own base64.
// "$2a$", "$2b$" and "$2y$" are accepted. "$2a$" keeps libxcrypt's guard
// for passwords with bytes of 0x80 and above (the sign-extension fault of
// early implementations), so every hash it made still verifies.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Costs above htpasswd's own maximum would keep a worker for minutes on one
// wrong password.
inline constexpr int kBcryptMinCost = 4;
inline constexpr int kBcryptMaxCost = 17;

using BcryptSalt = std::array<std::uint8_t, 16>;
using BcryptDigest = std::array<std::uint8_t, 23>;

struct BcryptHash {
  char variant = 'b';  // a, b or y
  int cost = 10;
  BcryptSalt salt{};
  BcryptDigest digest{};
};

// The parts of a hash; nullopt with `why` set when it is malformed.
std::optional<BcryptHash> ParseBcryptHash(std::string_view text, std::string* why = nullptr);

// The digest of `password` (its bytes up to the first NUL, of which bcrypt
// uses the first 72).
BcryptDigest ComputeBcrypt(std::string_view password, char variant, int cost,
                           const BcryptSalt& salt);

// The hash text of `hash`'s parts.
std::string FormatBcryptHash(const BcryptHash& hash);

// Whether `password` has the hash; the digests are compared in constant time.
bool BcryptMatches(std::string_view password, const BcryptHash& hash);
