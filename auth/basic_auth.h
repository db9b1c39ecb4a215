#pragma once
// Who may read: the users of the [Users] section ("name=bcrypt hash", as
// htpasswd -nB prints them) and the check of a request's
// "Authorization: Basic" header against them.
//
// A successful check is remembered, so that a scrape every second costs one
// bcrypt, not one per request. The cache holds no password: an entry is the
// SHA-256 of a random per-process secret, the user, the password and the
// user's hash, and it is bounded.
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "auth/bcrypt.h"

struct UserEntry {
  std::string name;  // UTF-8
  std::string hash_text;
  BcryptHash hash;
};

struct UsersLoad {
  std::vector<UserEntry> users;
  std::vector<std::wstring> errors;  // one per malformed line
};

// Parses the section's "name=hash" lines (as the file has them: UTF-8).
UsersLoad ParseUserLines(const std::vector<std::string>& lines);

// The user and password of an "Authorization" header's value ("Basic"
// and base64 of "user:password"); false when it is none.
bool DecodeBasicCredentials(std::string_view header, std::string& user, std::string& password);

class BasicAuthenticator {
 public:
  explicit BasicAuthenticator(std::vector<UserEntry> users);
  // Whether the header names a listed user with their password. An unknown
  // user costs a bcrypt as a known one does.
  bool Allows(std::string_view authorization_header);
  std::size_t CachedForTests() const;

 private:
  std::string CacheKey(const std::string& user, const std::string& password,
                       const std::string& hash_text) const;

  std::vector<UserEntry> users_;
  BcryptHash stand_in_;  // checked for unknown users
  unsigned char secret_[32] = {};
  bool has_secret_ = false;
  mutable std::mutex mutex_;
  std::unordered_set<std::string> verified_;  // guarded by mutex_
};

// The 401 answer's challenge header line.
inline constexpr char kBasicChallengeLine[] =
    "WWW-Authenticate: Basic realm=\"KelvaneHTTPAgent\", charset=\"UTF-8\"\r\n";
