#include "auth/failure_throttle.h"

#include <algorithm>

std::int64_t FailureThrottle::Begin(std::string_view key, std::int64_t now_ms) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = records_.find(std::string(key));
  if (found == records_.end()) {
    MakeRoom(now_ms);
    found = records_.emplace(std::string(key), Record{}).first;
  }
  Record& record = found->second;
  if (record.failures > 0 && now_ms - record.last_failure_ms >= kForgetAfterMs) {
    record.failures = 0;
    record.shut_until_ms = 0;
  }
  if (record.shut_until_ms > now_ms) return record.shut_until_ms - now_ms;
  if (record.checking >= (record.failures > 0 ? 1 : kChecksAtOnce)) return 1000;
  ++record.checking;
  return 0;
}

void FailureThrottle::End(std::string_view key, Outcome outcome, std::int64_t now_ms) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = records_.find(std::string(key));
  if (found == records_.end()) {
    if (outcome != Outcome::Failed) return;
    MakeRoom(now_ms);  // the table started again meanwhile
    found = records_.emplace(std::string(key), Record{}).first;
  }
  Record& record = found->second;
  if (record.checking > 0) --record.checking;
  if (outcome == Outcome::NotChecked) return;
  if (outcome == Outcome::Succeeded) {
    if (record.checking == 0) {
      records_.erase(found);
    } else {
      record = Record{0, record.checking, 0, 0};
    }
    return;
  }
  record.last_failure_ms = now_ms;
  if (++record.failures <= kFreeFailures) return;
  const int doublings = std::min(record.failures - kFreeFailures - 1, 16);
  record.shut_until_ms = now_ms + std::min<std::int64_t>(kLongestPauseMs, 1000LL << doublings);
}

std::size_t FailureThrottle::KeysForTests() {
  std::lock_guard<std::mutex> hold(mutex_);
  return records_.size();
}

void FailureThrottle::MakeRoom(std::int64_t now_ms) {
  if (records_.size() < kMaxKeys) return;
  // Keys with no check under way whose pause is over and that have not
  // failed for a while go first; should every key still be fresh, the table
  // starts again, which costs a guesser a bcrypt per key to fill it again.
  std::erase_if(records_, [now_ms](const auto& entry) {
    return entry.second.checking == 0 && entry.second.shut_until_ms <= now_ms &&
           now_ms - entry.second.last_failure_ms >= kLongestPauseMs;
  });
  if (records_.size() >= kMaxKeys) records_.clear();
}
