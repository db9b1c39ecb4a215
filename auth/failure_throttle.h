#pragma once
// FailureThrottle: wrong passwords from one client for one user name are
// refused for a while once they repeat, so that guessing costs the guesser
// time and the agent no bcrypt. The key is the client's address with the
// name it gave, so that one client's failures never hold up another user's
// login, even from the same address. A key that has failed has one check
// at a time, so that a crowd of guessers whose pause ends together makes
// one bcrypt, not a queue of them. The table is bounded.
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
  // Checks of one key at once before it has failed (a browser's parallel
  // requests); after a failure, one.
  static constexpr int kChecksAtOnce = 4;

  // Starts a check of `key` at `now_ms`: 0 when it may go on (then End
  // must follow), else the milliseconds to wait before trying again.
  std::int64_t Begin(std::string_view key, std::int64_t now_ms);
  enum class Outcome { Failed, Succeeded, NotChecked };
  // Ends a check that Begin let go on.
  void End(std::string_view key, Outcome outcome, std::int64_t now_ms);
  std::size_t KeysForTests();

 private:
  struct Record {
    int failures = 0;
    int checking = 0;  // checks begun and not ended
    std::int64_t last_failure_ms = 0;
    std::int64_t shut_until_ms = 0;
  };
  void MakeRoom(std::int64_t now_ms);

  std::mutex mutex_;
  std::unordered_map<std::string, Record> records_;  // guarded by mutex_
};
