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

namespace {

// One failed check of `key` at `now`; the pause it leaves.
std::int64_t FailOnce(FailureThrottle& throttle, const char* key, std::int64_t now) {
  EXPECT_EQ(throttle.Begin(key, now), 0);
  throttle.End(key, FailureThrottle::Outcome::Failed, now);
  const std::int64_t pause = throttle.Begin(key, now);
  if (pause == 0) throttle.End(key, FailureThrottle::Outcome::NotChecked, now);
  return pause;
}

TEST(FailureThrottleTest, RepeatedFailuresShutTheKeyForLongerEachTime) {
  using Outcome = FailureThrottle::Outcome;
  FailureThrottle throttle;
  std::int64_t now = 1'000'000;
  // Failure n, then the pause it leaves.
  const std::int64_t pauses[] = {0, 0, 0, 1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
  for (std::int64_t expected : pauses) {
    EXPECT_EQ(FailOnce(throttle, "a", now), expected);
    now += expected;
  }
  EXPECT_EQ(FailOnce(throttle, "b", now), 0);  // other keys are not touched
  now += FailureThrottle::kForgetAfterMs;
  EXPECT_EQ(FailOnce(throttle, "a", now), 0);  // forgotten
  for (int i = 0; i < 4; ++i) FailOnce(throttle, "c", now);
  now += 1000;
  ASSERT_EQ(throttle.Begin("c", now), 0);
  throttle.End("c", Outcome::Succeeded, now);
  EXPECT_EQ(FailOnce(throttle, "c", now), 0);  // a success starts again
}

TEST(FailureThrottleTest, AKeyThatFailedHasOneCheckAtATime) {
  using Outcome = FailureThrottle::Outcome;
  FailureThrottle throttle;
  for (int i = 0; i < FailureThrottle::kChecksAtOnce; ++i) EXPECT_EQ(throttle.Begin("a", 0), 0);
  EXPECT_GT(throttle.Begin("a", 0), 0);  // a crowd of one key
  for (int i = 0; i < FailureThrottle::kChecksAtOnce; ++i) {
    throttle.End("a", i < 2 ? Outcome::Failed : Outcome::NotChecked, 0);
  }
  ASSERT_EQ(throttle.Begin("a", 0), 0);       // two failures: no pause yet, but
  EXPECT_EQ(throttle.Begin("a", 0), 1000);    // one check at a time
  throttle.End("a", Outcome::NotChecked, 0);  // neither a failure nor a success
  EXPECT_EQ(throttle.Begin("a", 0), 0);
}

TEST(FailureThrottleTest, TheTableStaysBounded) {
  FailureThrottle throttle;
  for (std::size_t i = 0; i < 3 * FailureThrottle::kMaxKeys; ++i) {
    FailOnce(throttle, std::to_string(i).c_str(), 1000);
  }
  EXPECT_LE(throttle.KeysForTests(), FailureThrottle::kMaxKeys);
}

TEST(BasicAuthenticatorTest, WrongPasswordsAreThrottledPerClientAndName) {
  std::int64_t now = 5000;
  BasicAuthenticator users(
      ParseUserLines({std::string("alice=") + kAliceHash, std::string("bob=") + kAliceHash}).users,
      1, [&now] { return now; });
  using Verdict = AuthResult::Verdict;
  const char kAliceWrong[] = "Basic YWxpY2U6d3Jvbmc=";  // alice:wrong
  for (int i = 0; i < FailureThrottle::kFreeFailures + 1; ++i) {
    EXPECT_EQ(users.Check(kAliceWrong, "A").verdict, Verdict::Refused);
  }
  const AuthResult throttled = users.Check(kAliceWrong, "A");
  EXPECT_EQ(throttled.verdict, Verdict::Throttled);
  EXPECT_EQ(throttled.retry_after_s, 1);
  // Neither another name from the same client nor the name from another.
  EXPECT_EQ(users.Check("Basic Ym9iOnMzY3JldA==", "A").verdict, Verdict::Allowed);  // bob
  EXPECT_EQ(users.Check("Basic YWxpY2U6czNjcmV0", "B").verdict, Verdict::Allowed);  // alice
  // A success already made still counts, and the pause ends.
  EXPECT_EQ(users.Check("Basic YWxpY2U6czNjcmV0", "A").verdict, Verdict::Allowed);
  now += 1000;
  EXPECT_EQ(users.Check(kAliceWrong, "A").verdict, Verdict::Refused);
  // Unknown names are throttled alike.
  for (int i = 0; i < FailureThrottle::kFreeFailures + 1; ++i) users.Check("Basic eDp5", "A");
  EXPECT_EQ(users.Check("Basic eDp5", "A").verdict, Verdict::Throttled);  // x:y
}

TEST(BasicAuthenticatorTest, AnUnknownUserCostsAsTheCostliestListedOne) {
  const std::vector<UserEntry> mixed =
      ParseUserLines({"alice=$2y$12$z1Aq2gLKzKUD9OeEIEwhtO92oPxDLxGp4uhsg81z7d7.hn05w.Kcu",
                      "bob=$2y$05$z1Aq2gLKzKUD9OeEIEwhtO92oPxDLxGp4uhsg81z7d7.hn05w.Kcu"})
          .users;
  ASSERT_EQ(mixed.size(), 2u);
  EXPECT_EQ(BasicAuthenticator(mixed).StandInCostForTests(), 12);
  EXPECT_NE(MixedCostsNote(mixed).find(L"(5 to 12)"), std::wstring::npos);
  const std::vector<UserEntry> same{mixed[0], mixed[0]};
  EXPECT_EQ(MixedCostsNote(same), L"");
}

}  // namespace
