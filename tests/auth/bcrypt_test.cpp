#include "auth/bcrypt.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "auth/blowfish.h"

#if !defined(_WIN32)
#include <crypt.h>
#endif

namespace {

TEST(BlowfishTest, StandardVectorsEncryptAndDecrypt) {
  struct Vector {
    std::uint64_t key, plain, cipher;
  };
  // From the published Blowfish test set (8-byte keys).
  const Vector vectors[] = {
      {0x0000000000000000, 0x0000000000000000, 0x4EF997456198DD78},
      {0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
      {0x3000000000000000, 0x1000000000000001, 0x7D856F9A613063F2},
      {0x0123456789ABCDEF, 0x1111111111111111, 0x61F9C3802281B096},
      {0xFEDCBA9876543210, 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
      {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x59C68245EB05282B},
  };
  for (const Vector& v : vectors) {
    unsigned char key[8];
    for (int i = 0; i < 8; ++i) key[i] = static_cast<unsigned char>(v.key >> (56 - 8 * i));
    Blowfish cipher;
    cipher.SetKey(key, sizeof key);
    auto left = static_cast<std::uint32_t>(v.plain >> 32),
         right = static_cast<std::uint32_t>(v.plain);
    cipher.Encrypt(left, right);
    EXPECT_EQ((std::uint64_t{left} << 32) | right, v.cipher) << std::hex << v.key;
    cipher.Decrypt(left, right);
    EXPECT_EQ((std::uint64_t{left} << 32) | right, v.plain) << std::hex << v.key;
  }
}

struct Known {
  const char* password;
  const char* hash;
};

// Made by libxcrypt's crypt() and by htpasswd -nbBC: every variant, costs 4
// to 12, the 72-byte limit, UTF-8 and bytes above 0x7F ("$2a$" keeps its
// guard for "\xff\xff\xa3").
const Known kKnown[] = {
    {"", "$2a$04$abcdefghijklmnopqrstuubyCG3zY1GIXMyxfivm.ClDiInHzxjiq"},
    {"U*U", "$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW"},
    {"correct horse battery staple",
     "$2y$06$R9h/cIPz0gi.URNNX3kh2OJyaMLeomAD.xTZokrZDWA2KwUbG8Nuq"},
    {"p\xc3\xa4ssw\xc3\xb6rd \xe2\x98\x83",
     "$2b$07$XXXXXXXXXXXXXXXXXXXXXOThJ2pKa79bRBYURpDez98Ekeckkm1Ye"},
    {"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
     "$2a$08$abcdefghijklmnopqrstuuoPZoNpjVzOBhRYW2bjbs0yXmLY/AmY."},
    {"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789chars after 72 are "
     "ignored",
     "$2b$09$abcdefghijklmnopqrstuuoxIb54LWM1MpP4lohntvE58VamwiV5K"},
    {"\xff\xff\xa3", "$2a$10$/OK.fbVrR/bpIqNJ5ianF.BserRw5WGp1Wrh8WvrNhCudoZLxbrQS"},
    {"\xff\xff\xa3", "$2y$10$/OK.fbVrR/bpIqNJ5ianF.B0NcLf7RwM1ssuSKrEA6UC9m.5n1cF."},
    {"\xa3", "$2b$11$/OK.fbVrR/bpIqNJ5ianF..lNIg3OuClrFXzEPlVFv9K5CGV6bU3a"},
    {"\xa3", "$2a$12$/OK.fbVrR/bpIqNJ5ianF.bzpw3mfxJEkT6rUxyMSkJ59rMzkCzzW"},
    // htpasswd -nbBC
    {"s3cret", "$2y$04$z1Aq2gLKzKUD9OeEIEwhtO92oPxDLxGp4uhsg81z7d7.hn05w.Kcu"},
    {"Gr\xc3\xbc\xc3\x9f"
     "e, \xe4\xb8\x96\xe7\x95\x8c!",
     "$2y$10$ewFlt89an/keT17EAuQABuCobLIX4wM2g0eoPY90bkvm64ObvB3BS"},
    {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
     "$2y$05$jiNUpC.MY7DEqcmz/admuOAW7kSQ5rKwqVJ8O8s3myve9laJrZvHq"},
};

TEST(BcryptTest, KnownHashesVerifyAndReformatExactly) {
  for (const Known& known : kKnown) {
    std::string why;
    auto hash = ParseBcryptHash(known.hash, &why);
    ASSERT_TRUE(hash.has_value()) << known.hash << ": " << why;
    EXPECT_TRUE(BcryptMatches(known.password, *hash)) << known.hash;
    EXPECT_EQ(FormatBcryptHash(*hash), known.hash);
    std::string wrong = std::string(known.password) + "x";
    if (wrong.size() <= 72) {
      EXPECT_FALSE(BcryptMatches(wrong, *hash)) << known.hash;
    }
  }
}

TEST(BcryptTest, OnlyTheFirst72BytesCount) {
  auto hash = ParseBcryptHash("$2y$05$jiNUpC.MY7DEqcmz/admuOAW7kSQ5rKwqVJ8O8s3myve9laJrZvHq");
  ASSERT_TRUE(hash.has_value());
  EXPECT_TRUE(BcryptMatches(std::string(72, 'x'), *hash));
  EXPECT_TRUE(BcryptMatches(std::string(200, 'x'), *hash));
  EXPECT_FALSE(BcryptMatches(std::string(71, 'x'), *hash));
}

TEST(BcryptTest, MalformedHashesAreRefusedWithAReason) {
  const char* const malformed[] = {
      "",
      "secret",
      "$2x$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW",   // unknown variant
      "$1$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeWx",   // not bcrypt
      "$2b$5$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeWx",   // one-digit cost
      "$2b$03$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW",   // cost too low
      "$2b$18$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW",   // cost too high
      "$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOe",    // short
      "$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeWW",  // long
      "$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOe!",   // not base64
      "$2b$05$CCCCCCCCCCCCCCCCCCCC+.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW",   // standard base64
  };
  for (const char* text : malformed) {
    std::string why;
    EXPECT_FALSE(ParseBcryptHash(text, &why).has_value()) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

TEST(BcryptTest, ANulEndsThePassword) {
  auto hash = ParseBcryptHash("$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW");
  ASSERT_TRUE(hash.has_value());
  EXPECT_TRUE(BcryptMatches(std::string("U*U\0extra", 9), *hash));
}

#if !defined(_WIN32)
// Random passwords and salts against the system's own bcrypt.
TEST(BcryptTest, AgreesWithLibxcrypt) {
  std::mt19937 random(20261210);
  crypt_data data{};
  for (int round = 0; round < 40; ++round) {
    BcryptHash hash;
    hash.variant = "aby"[round % 3];
    hash.cost = 4 + round % 3;
    for (auto& byte : hash.salt) byte = static_cast<std::uint8_t>(random());
    std::string password(random() % 90, '\0');
    for (char& c : password) c = static_cast<char>(1 + random() % 255);
    std::string setting = FormatBcryptHash(hash).substr(0, 29);
    const char* expected = crypt_r(password.c_str(), setting.c_str(), &data);
    ASSERT_NE(expected, nullptr);
    hash.digest = ComputeBcrypt(password, hash.variant, hash.cost, hash.salt);
    // libxcrypt writes the salt's last character in its canonical form.
    EXPECT_EQ(FormatBcryptHash(hash).substr(29), std::string(expected).substr(29))
        << setting << " password of " << password.size() << " bytes";
  }
}
#endif

}  // namespace
