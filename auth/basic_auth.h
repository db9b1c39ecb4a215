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
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "auth/bcrypt.h"
#include "auth/failure_throttle.h"
#include "foundation/counting_gate.h"

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

// A note for the start when the listed hashes differ in cost (empty when
// they do not): each user's check then takes its own time.
std::wstring MixedCostsNote(const std::vector<UserEntry>& users);

struct AuthResult {
  enum class Verdict {
    Allowed,
    Refused,    // 401
    Throttled,  // 429: this client failed for this name too often
    Busy,       // 503: no bcrypt slot came free in time
  };
  Verdict verdict = Verdict::Refused;
  int retry_after_s = 0;  // with Throttled and Busy
};

class BasicAuthenticator {
 public:
  using Clock = std::function<std::int64_t()>;  // monotonic milliseconds
  // How long a check waits for a bcrypt slot.
  static constexpr int kSlotWaitMs = 10000;

  // `slots`: bcrypts at once, 0 for one per processor.
  explicit BasicAuthenticator(std::vector<UserEntry> users, unsigned slots = 0,
                              Clock clock = nullptr);
  // Whether the header names a listed user with their password, for a
  // request from `client` (any bytes that tell clients apart). An unknown
  // user costs a bcrypt as the costliest listed one does. Successes and
  // cached checks are never throttled.
  AuthResult Check(std::string_view authorization_header, std::string_view client);
  bool Allows(std::string_view authorization_header) {
    return Check(authorization_header, {}).verdict == AuthResult::Verdict::Allowed;
  }
  std::size_t CachedForTests() const;
  int StandInCostForTests() const { return stand_in_.cost; }

 private:
  bool Verified(const std::string& key) const;
  void Remember(const std::string& key);
  std::string CacheKey(const std::string& user, const std::string& password,
                       const std::string& hash_text) const;

  std::vector<UserEntry> users_;
  BcryptHash stand_in_;  // checked for unknown users
  unsigned char secret_[32] = {};
  bool has_secret_ = false;
  mutable std::mutex mutex_;
  std::unordered_set<std::string> verified_;  // guarded by mutex_
  CountingGate gate_;                         // one bcrypt per slot
  FailureThrottle throttle_;
  Clock clock_;
};

// The 401 answer's challenge header line.
inline constexpr char kBasicChallengeLine[] =
    "WWW-Authenticate: Basic realm=\"KelvaneHTTPAgent\", charset=\"UTF-8\"\r\n";
