#pragma once
// Blowfish (64-bit blocks, 16 rounds) with the expensive key schedule that
// bcrypt builds on: the state is exposed so that the key and salt can be
// mixed in as bcrypt's "EksBlowfish" setup requires.
#include <cstddef>
#include <cstdint>

struct BlowfishState {
  std::uint32_t p[18];
  std::uint32_t s[4][256];
};

// The digits of pi every key schedule starts from.
extern const BlowfishState kBlowfishInitialState;

class Blowfish {
 public:
  Blowfish() : state_(kBlowfishInitialState) {}

  void Encrypt(std::uint32_t& left, std::uint32_t& right) const;
  void Decrypt(std::uint32_t& left, std::uint32_t& right) const;

  // The classic key schedule: XORs the P-array with `key` (repeated, taken
  // as big-endian words), then replaces P and S with a running encryption.
  // With a salt (4 words), each block first takes in the next two salt
  // words, as bcrypt's setup does.
  void ExpandKey(const std::uint32_t key_words[18], const std::uint32_t* salt = nullptr);

  // Plain Blowfish keyed with 4 to 56 bytes, for the standard test vectors.
  void SetKey(const unsigned char* key, std::size_t length);

  BlowfishState& state() { return state_; }

 private:
  std::uint32_t Round(std::uint32_t x) const;
  BlowfishState state_;
};
