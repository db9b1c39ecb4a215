#include "auth/bcrypt.h"

#include <algorithm>
#include <cstring>

#include "auth/blowfish.h"

namespace {

constexpr char kAlphabet[] = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSaltChars = 22;
constexpr std::size_t kDigestChars = 31;
constexpr std::size_t kPrefixChars = 7;  // "$2b$10$"
constexpr std::size_t kMaxKeyBytes = 72;
// The text bcrypt encrypts 64 times: "OrpheanBeholderScryDoubt".
constexpr std::uint32_t kMagic[6] = {0x4F727068, 0x65616E42, 0x65686F6C,
                                     0x64657253, 0x63727944, 0x6F756274};

int SextetOf(char c) {
  const char* at = std::strchr(kAlphabet, c);
  return c != '\0' && at != nullptr ? static_cast<int>(at - kAlphabet) : -1;
}

// Decodes bcrypt's base64 (no padding) into `out`; false on a foreign
// character.
bool Decode(std::string_view text, std::uint8_t* out, std::size_t out_size) {
  std::size_t produced = 0;
  unsigned bits = 0, value = 0;
  for (char c : text) {
    const int sextet = SextetOf(c);
    if (sextet < 0) return false;
    value = (value << 6) | static_cast<unsigned>(sextet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (produced < out_size) out[produced++] = static_cast<std::uint8_t>(value >> bits);
      value &= (1u << bits) - 1;
    }
  }
  return produced == out_size;
}

void Encode(const std::uint8_t* data, std::size_t size, std::string& out) {
  unsigned bits = 0, value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value = (value << 8) | data[i];
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += kAlphabet[(value >> bits) & 0x3F];
    }
  }
  if (bits > 0) out += kAlphabet[(value << (6 - bits)) & 0x3F];
}

// The 18 key words: the password's bytes and its terminating NUL, repeated.
// For "$2a$", `first` is the key of the first expansion only: its bit 16 is
// flipped when a byte of 0x80 and above stood after the first of a word and
// yet a reading with sign extension (the fault of early implementations)
// came out the same, so that the two hashes differ (libxcrypt's guard).
void KeyWords(std::string_view password, char variant, std::uint32_t words[18],
              std::uint32_t first[18]) {
  const std::size_t length = std::min(password.find('\0'), password.size());
  std::size_t at = 0;
  std::uint32_t sign = 0, differs = 0;
  for (int i = 0; i < 18; ++i) {
    std::uint32_t correct = 0, extended = 0;
    for (int j = 0; j < 4; ++j) {
      const auto byte = at < length ? static_cast<unsigned char>(password[at]) : 0u;
      correct = (correct << 8) | byte;
      extended = (extended << 8) | static_cast<std::uint32_t>(
                                       static_cast<std::int32_t>(static_cast<signed char>(byte)));
      if (j > 0) sign |= extended & 0x80;
      at = at < length ? at + 1 : 0;
    }
    differs |= correct ^ extended;
    words[i] = first[i] = correct;
  }
  if (variant != 'a') return;
  // Bit 16 of `faulty` is set when the faulty reading differed anywhere.
  std::uint32_t faulty = (differs | (differs >> 16)) & 0xFFFF;
  faulty += 0xFFFF;
  first[0] ^= (sign << 9) & ~faulty & 0x10000;
}

// Words of `bytes` (a multiple of 4), big-endian.
void WordsOf(const std::uint8_t* bytes, std::size_t size, std::uint32_t* words) {
  for (std::size_t i = 0; i < size / 4; ++i) {
    words[i] = (std::uint32_t{bytes[4 * i]} << 24) | (std::uint32_t{bytes[4 * i + 1]} << 16) |
               (std::uint32_t{bytes[4 * i + 2]} << 8) | bytes[4 * i + 3];
  }
}

}  // namespace

std::optional<BcryptHash> ParseBcryptHash(std::string_view text, std::string* why) {
  auto fail = [why](const char* reason) {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  };
  if (text.size() != kPrefixChars + kSaltChars + kDigestChars) {
    return fail("a bcrypt hash has 60 characters");
  }
  if (text.substr(0, 2) != "$2" || text[3] != '$' || text[6] != '$' ||
      (text[2] != 'a' && text[2] != 'b' && text[2] != 'y')) {
    return fail("not a bcrypt hash ($2a$, $2b$ or $2y$)");
  }
  if (text[4] < '0' || text[4] > '9' || text[5] < '0' || text[5] > '9') {
    return fail("the cost is not two digits");
  }
  BcryptHash hash;
  hash.variant = text[2];
  hash.cost = (text[4] - '0') * 10 + (text[5] - '0');
  if (hash.cost < kBcryptMinCost || hash.cost > kBcryptMaxCost) {
    return fail("the cost is not between 04 and 17");
  }
  if (!Decode(text.substr(kPrefixChars, kSaltChars), hash.salt.data(), hash.salt.size()) ||
      !Decode(text.substr(kPrefixChars + kSaltChars), hash.digest.data(), hash.digest.size())) {
    return fail("a character outside bcrypt's base64");
  }
  return hash;
}

BcryptDigest ComputeBcrypt(std::string_view password, char variant, int cost,
                           const BcryptSalt& salt) {
  std::uint32_t key[18], first_key[18], salt_words[4], salt_key[18];
  KeyWords(password.substr(0, kMaxKeyBytes + 1), variant, key, first_key);
  WordsOf(salt.data(), salt.size(), salt_words);
  for (int i = 0; i < 18; ++i) salt_key[i] = salt_words[i % 4];

  Blowfish cipher;
  cipher.ExpandKey(first_key, salt_words);
  for (std::uint64_t round = 0, rounds = std::uint64_t{1} << cost; round < rounds; ++round) {
    cipher.ExpandKey(key);
    cipher.ExpandKey(salt_key);
  }
  std::uint32_t text[6];
  std::memcpy(text, kMagic, sizeof text);
  for (int i = 0; i < 64; ++i) {
    for (int j = 0; j < 6; j += 2) cipher.Encrypt(text[j], text[j + 1]);
  }
  std::uint8_t bytes[24];
  for (int i = 0; i < 6; ++i) {
    for (int j = 0; j < 4; ++j)
      bytes[4 * i + j] = static_cast<std::uint8_t>(text[i] >> (24 - 8 * j));
  }
  BcryptDigest digest;
  std::memcpy(digest.data(), bytes, digest.size());
  return digest;
}

std::string FormatBcryptHash(const BcryptHash& hash) {
  std::string text = "$2";
  text += hash.variant;
  text += '$';
  text += static_cast<char>('0' + hash.cost / 10);
  text += static_cast<char>('0' + hash.cost % 10);
  text += '$';
  Encode(hash.salt.data(), hash.salt.size(), text);
  Encode(hash.digest.data(), hash.digest.size(), text);
  return text;
}

bool BcryptMatches(std::string_view password, const BcryptHash& hash) {
  const BcryptDigest computed = ComputeBcrypt(password, hash.variant, hash.cost, hash.salt);
  std::uint8_t difference = 0;
  for (std::size_t i = 0; i < computed.size(); ++i) difference |= computed[i] ^ hash.digest[i];
  return difference == 0;
}
