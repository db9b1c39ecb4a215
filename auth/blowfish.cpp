#include "auth/blowfish.h"

#include <utility>

std::uint32_t Blowfish::Round(std::uint32_t x) const {
  const auto& s = state_.s;
  return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
}

void Blowfish::Encrypt(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left, r = right;
  for (int i = 0; i < 16; i += 2) {
    l ^= state_.p[i];
    r ^= Round(l);
    r ^= state_.p[i + 1];
    l ^= Round(r);
  }
  left = r ^ state_.p[17];
  right = l ^ state_.p[16];
}

void Blowfish::Decrypt(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left, r = right;
  for (int i = 17; i > 1; i -= 2) {
    l ^= state_.p[i];
    r ^= Round(l);
    r ^= state_.p[i - 1];
    l ^= Round(r);
  }
  left = r ^ state_.p[0];
  right = l ^ state_.p[1];
}

void Blowfish::ExpandKey(const std::uint32_t key_words[18], const std::uint32_t* salt) {
  for (int i = 0; i < 18; ++i) state_.p[i] ^= key_words[i];
  std::uint32_t l = 0, r = 0;
  int next_salt = 0;
  auto fill = [&](std::uint32_t* words, int count) {
    for (int i = 0; i < count; i += 2) {
      if (salt != nullptr) {
        l ^= salt[next_salt];
        r ^= salt[next_salt + 1];
        next_salt ^= 2;
      }
      Encrypt(l, r);
      words[i] = l;
      words[i + 1] = r;
    }
  };
  fill(state_.p, 18);
  for (auto& box : state_.s) fill(box, 256);
}

void Blowfish::SetKey(const unsigned char* key, std::size_t length) {
  state_ = kBlowfishInitialState;
  std::uint32_t words[18];
  std::size_t at = 0;
  for (auto& word : words) {
    word = 0;
    for (int j = 0; j < 4; ++j) {
      word = (word << 8) | key[at];
      at = (at + 1) % length;
    }
  }
  ExpandKey(words);
}
