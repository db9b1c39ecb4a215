#pragma once
// FailureThrottle: wrong passwords from one client for one user name are
// refused for a while once they repeat, so that guessing costs the guesser
// time and the agent no bcrypt. The key is the client's address with the
// name it gave, so that one client's failures never hold up another user's
// login, even from the same address. The table is bounded.
//
// Thread safety: every call may come from any thread.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class FailureThrottle {
 public:
  // Failures of a key that cost nothing more; each one past them shuts the
  // key for twice as long as the last, from 1 s up to kLongestPauseMs.
  static constexpr int kFreeFailures = 3;
  static constexpr std::int64_t kLongestPauseMs = 60'000;
  // A key without a failure for this long starts again from nothing.
  static constexpr std::int64_t kForgetAfterMs = 15 * 60'000;
  static constexpr std::size_t kMaxKeys = 4096;

  // Milliseconds until `key` may try again (0: now), at `now_ms`.
  std::int64_t PauseLeft(std::string_view key, std::int64_t now_ms);
  void Failed(std::string_view key, std::int64_t now_ms);
  void Succeeded(std::string_view key);
  std::size_t KeysForTests();

 private:
  struct Record {
    int failures = 0;
    std::int64_t last_failure_ms = 0;
    std::int64_t shut_until_ms = 0;
  };
  void MakeRoom(std::int64_t now_ms);

  std::mutex mutex_;
  std::unordered_map<std::string, Record> records_;  // guarded by mutex_
};
