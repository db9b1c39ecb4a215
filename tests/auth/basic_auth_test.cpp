#include "auth/basic_auth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// htpasswd -nbBC 4 alice 's3cret'
const char kAliceHash[] = "$2y$04$z1Aq2gLKzKUD9OeEIEwhtO92oPxDLxGp4uhsg81z7d7.hn05w.Kcu";

TEST(UserLinesTest, EachLineIsAUserOrAnError) {
  struct Case {
    std::string line;
    bool user;
    const wchar_t* error_part;
  };
  const Case cases[] = {
      {std::string("alice=") + kAliceHash, true, nullptr},
      {std::string(" bob = ") + kAliceHash + " ", true, nullptr},
      {"carol=", false, L"has no password hash"},
      {"carol", false, L"has no password hash"},
      {std::string("=") + kAliceHash, false, L"has no user name"},
      {"dave=secret", false, L"60 characters"},
      {"erin=$2y$04$z1Aq2gLKzKUD9OeEIEwhtO92oPxDLxGp4uhsg81z7d7.hn05w.Kc!", false, L"base64"},
      {std::string("a:b=") + kAliceHash, false, L"cannot hold ':'"},
  };
  for (const Case& c : cases) {
    UsersLoad load = ParseUserLines({c.line});
    EXPECT_EQ(load.users.size(), c.user ? 1u : 0u) << c.line;
    if (c.error_part == nullptr) {
      EXPECT_TRUE(load.errors.empty()) << c.line;
    } else {
      ASSERT_EQ(load.errors.size(), 1u) << c.line;
      EXPECT_NE(load.errors[0].find(c.error_part), std::wstring::npos) << c.line;
    }
  }
  UsersLoad two = ParseUserLines({std::string(" bob = ") + kAliceHash + " "});
  ASSERT_EQ(two.users.size(), 1u);
  EXPECT_EQ(two.users[0].name, "bob");
  EXPECT_EQ(two.users[0].hash_text, kAliceHash);
}

TEST(BasicCredentialsTest, DecodesOnlyWellFormedBasicHeaders) {
  struct Case {
    const char* header;
    bool ok;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {"Basic YWxpY2U6czNjcmV0", true, "alice", "s3cret"},
      {"basic   YWxpY2U6czNjcmV0  ", true, "alice", "s3cret"},
      {"Basic YWxpY2U6YTpi", true, "alice", "a:b"},  // the first colon splits
      {"Basic OnB3", true, "", "pw"},
      {"Basic YWxpY2U=", false, "", ""},  // no colon
      {"Bearer YWxpY2U6czNjcmV0", false, "", ""},
      {"Basic", false, "", ""},
      {"Basic !!!!", false, "", ""},
      {"Basic YTpiAGM=", false, "", ""},  // "a:b\0c": a NUL in the password
      {"", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string user, password;
    EXPECT_EQ(DecodeBasicCredentials(c.header, user, password), c.ok) << c.header;
    if (c.ok) {
      EXPECT_EQ(user, c.user) << c.header;
      EXPECT_EQ(password, c.password) << c.header;
    }
  }
  std::string user, password;
  EXPECT_FALSE(DecodeBasicCredentials("Basic " + std::string(5000, 'A'), user, password));
}

TEST(BasicAuthenticatorTest, AllowsListedUsersAndRemembersOnlySuccess) {
  BasicAuthenticator users(ParseUserLines({std::string("alice=") + kAliceHash}).users);
  EXPECT_FALSE(users.Allows(""));
  EXPECT_FALSE(users.Allows("Basic YWxpY2U6d3Jvbmc="));  // alice:wrong
  EXPECT_FALSE(users.Allows("Basic Ym9iOnMzY3JldA=="));  // bob:s3cret
  EXPECT_EQ(users.CachedForTests(), 0u);
  EXPECT_TRUE(users.Allows("Basic YWxpY2U6czNjcmV0"));  // alice:s3cret
  EXPECT_EQ(users.CachedForTests(), 1u);
  EXPECT_TRUE(users.Allows("Basic YWxpY2U6czNjcmV0"));
  EXPECT_EQ(users.CachedForTests(), 1u);
  // A cached success says nothing about another password.
  EXPECT_FALSE(users.Allows("Basic YWxpY2U6czNjcmV0eA=="));  // alice:s3cretx
}

TEST(BasicAuthenticatorTest, TheFirstLineOfANameCounts) {
  auto users =
      ParseUserLines({std::string("alice=") + kAliceHash,
                      "alice=$2b$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW"});
  BasicAuthenticator check(users.users);
  EXPECT_TRUE(check.Allows("Basic YWxpY2U6czNjcmV0"));  // s3cret
  EXPECT_FALSE(check.Allows("Basic YWxpY2U6VSpV"));     // U*U, the second line's
}

}  // namespace
