#include "auth/basic_auth.h"

#include <mbedtls/base64.h>
#include <mbedtls/entropy.h>
#include <mbedtls/md.h>
#include "foundation/ascii_text.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

// Successful checks remembered at once; past it the cache starts again.
constexpr std::size_t kMaxCached = 1024;
// Base64 of the longest credentials we decode.
constexpr std::size_t kMaxEncoded = 4096;

std::wstring Widen(const std::string& text) {
  std::wstring wide;
  for (unsigned char c : text) wide += c < 0x80 ? static_cast<wchar_t>(c) : L'?';
  return wide;
}

}  // namespace

UsersLoad ParseUserLines(const std::vector<std::string>& lines) {
  UsersLoad load;
  for (const std::string& line : lines) {
    const std::size_t equals = line.find('=');
    const std::string name =
        std::string(ascii::Trim(std::string_view(line).substr(0, equals), ascii::kBlanks));
    const std::string hash_text =
        equals == std::string::npos
            ? std::string()
            : std::string(ascii::Trim(std::string_view(line).substr(equals + 1), ascii::kBlanks));
    std::string why;
    if (name.empty()) {
      load.errors.push_back(L"[Users] line \"" + Widen(line) + L"\" has no user name");
    } else if (name.find(':') != std::string::npos) {
      load.errors.push_back(L"[Users] user \"" + Widen(name) + L"\": a name cannot hold ':'");
    } else if (hash_text.empty()) {
      load.errors.push_back(L"[Users] user \"" + Widen(name) + L"\" has no password hash");
    } else if (auto hash = ParseBcryptHash(hash_text, &why)) {
      load.users.push_back({name, hash_text, *hash});
    } else {
      load.errors.push_back(L"[Users] user \"" + Widen(name) + L"\": " + Widen(why));
    }
  }
  return load;
}

bool DecodeBasicCredentials(std::string_view header, std::string& user, std::string& password) {
  const std::string value = std::string(ascii::Trim(header, ascii::kBlanks));
  const std::size_t space = value.find(' ');
  if (space == std::string::npos || !ascii::EqualNoCase(value.substr(0, space), "basic")) {
    return false;
  }
  const std::string encoded =
      std::string(ascii::Trim(std::string_view(value).substr(space + 1), ascii::kBlanks));
  if (encoded.empty() || encoded.size() > kMaxEncoded) return false;
  unsigned char decoded[kMaxEncoded];
  std::size_t length = 0;
  if (mbedtls_base64_decode(decoded, sizeof decoded, &length,
                            reinterpret_cast<const unsigned char*>(encoded.data()),
                            encoded.size()) != 0) {
    return false;
  }
  const std::string text(reinterpret_cast<const char*>(decoded), length);
  const std::size_t colon = text.find(':');
  // A NUL would end the password early for bcrypt: never a match.
  if (colon == std::string::npos || text.find('\0') != std::string::npos) return false;
  user = text.substr(0, colon);
  password = text.substr(colon + 1);
  return true;
}

std::wstring MixedCostsNote(const std::vector<UserEntry>& users) {
  if (users.empty()) return std::wstring();
  int lowest = users.front().hash.cost, highest = lowest;
  for (const UserEntry& user : users) {
    lowest = std::min(lowest, user.hash.cost);
    highest = std::max(highest, user.hash.cost);
  }
  if (lowest == highest) return std::wstring();
  return L"[Users] the password hashes' costs differ (" + std::to_wstring(lowest) + L" to " +
         std::to_wstring(highest) + L"): each user's check takes the time of its own cost, " +
         L"and an unknown user's that of cost " + std::to_wstring(highest);
}

BasicAuthenticator::BasicAuthenticator(std::vector<UserEntry> users, unsigned slots, Clock clock)
    : users_(std::move(users)),
      gate_(slots != 0 ? slots : std::thread::hardware_concurrency()),
      clock_(std::move(clock)) {
  if (!clock_) {
    clock_ = [] {
      using namespace std::chrono;
      return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    };
  }
  // An unknown user is checked against a hash of the costliest listed one,
  // so that the answer's timing does not tell which users exist.
  stand_in_.cost = users_.empty() ? 10 : 0;
  for (const UserEntry& user : users_) stand_in_.cost = std::max(stand_in_.cost, user.hash.cost);
  mbedtls_entropy_context entropy;
  mbedtls_entropy_init(&entropy);
  // Without a secret nothing is cached.
  has_secret_ = mbedtls_entropy_func(&entropy, secret_, sizeof secret_) == 0;
  mbedtls_entropy_free(&entropy);
  std::memcpy(stand_in_.salt.data(), secret_, stand_in_.salt.size());
}

std::string BasicAuthenticator::CacheKey(const std::string& user, const std::string& password,
                                         const std::string& hash_text) const {
  std::string input(reinterpret_cast<const char*>(secret_), sizeof secret_);
  // Lengths first, so that no two triples give the same input.
  for (const std::string* part : {&user, &password, &hash_text}) {
    input += std::to_string(part->size());
    input += ':';
    input += *part;
  }
  // The generic digest call: its form is the same in every library version.
  unsigned char digest[32];
  const int result =
      mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_SHA256),
                 reinterpret_cast<const unsigned char*>(input.data()), input.size(), digest);
  std::fill(input.begin(), input.end(), '\0');
  if (result != 0) return std::string();  // never a key: nothing is cached
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

bool BasicAuthenticator::Verified(const std::string& key) const {
  if (key.empty()) return false;
  std::lock_guard<std::mutex> hold(mutex_);
  return verified_.count(key) != 0;
}

void BasicAuthenticator::Remember(const std::string& key) {
  if (key.empty()) return;
  std::lock_guard<std::mutex> hold(mutex_);
  if (verified_.size() >= kMaxCached) verified_.clear();
  verified_.insert(key);
}

AuthResult BasicAuthenticator::Check(std::string_view authorization_header,
                                     std::string_view client) {
  using Verdict = AuthResult::Verdict;
  std::string user, password;
  if (!DecodeBasicCredentials(authorization_header, user, password)) return {};
  const UserEntry* entry = nullptr;
  for (const UserEntry& candidate : users_) {
    if (entry == nullptr && candidate.name == user) entry = &candidate;  // the first line counts
  }
  const std::string key =
      entry != nullptr && has_secret_ ? CacheKey(user, password, entry->hash_text) : std::string();
  if (Verified(key)) return {Verdict::Allowed};
  // The name as given, after the client's bytes and their length.
  const std::string throttle_key = std::to_string(client.size()) + ':' + std::string(client) + user;
  const std::int64_t pause_ms = throttle_.Begin(throttle_key, clock_());
  if (pause_ms > 0) return {Verdict::Throttled, static_cast<int>((pause_ms + 999) / 1000)};
  bool matches = false;
  {
    GateSlot slot(gate_, kSlotWaitMs);
    if (!slot.Held()) {
      throttle_.End(throttle_key, FailureThrottle::Outcome::NotChecked, clock_());
      return {Verdict::Busy, 1};
    }
    matches = BcryptMatches(password, entry != nullptr ? entry->hash : stand_in_);
  }
  const bool failed = entry == nullptr || !matches;
  throttle_.End(throttle_key,
                failed ? FailureThrottle::Outcome::Failed : FailureThrottle::Outcome::Succeeded,
                clock_());
  if (failed) return {};
  Remember(key);
  return {Verdict::Allowed};
}

std::size_t BasicAuthenticator::CachedForTests() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return verified_.size();
}
