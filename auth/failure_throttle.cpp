#include "auth/failure_throttle.h"

#include <algorithm>

std::int64_t FailureThrottle::PauseLeft(std::string_view key, std::int64_t now_ms) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = records_.find(std::string(key));
  if (found == records_.end()) return 0;
  return std::max<std::int64_t>(0, found->second.shut_until_ms - now_ms);
}

void FailureThrottle::Failed(std::string_view key, std::int64_t now_ms) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = records_.find(std::string(key));
  if (found == records_.end()) {
    MakeRoom(now_ms);
    found = records_.emplace(std::string(key), Record{}).first;
  }
  Record& record = found->second;
  if (now_ms - record.last_failure_ms >= kForgetAfterMs) record = Record{};
  record.last_failure_ms = now_ms;
  if (++record.failures <= kFreeFailures) return;
  const int doublings = std::min(record.failures - kFreeFailures - 1, 16);
  record.shut_until_ms = now_ms + std::min<std::int64_t>(kLongestPauseMs, 1000LL << doublings);
}

void FailureThrottle::Succeeded(std::string_view key) {
  std::lock_guard<std::mutex> hold(mutex_);
  records_.erase(std::string(key));
}

std::size_t FailureThrottle::KeysForTests() {
  std::lock_guard<std::mutex> hold(mutex_);
  return records_.size();
}

void FailureThrottle::MakeRoom(std::int64_t now_ms) {
  if (records_.size() < kMaxKeys) return;
  // Keys whose pause is over and that have not failed for a while go
  // first; should every key still be fresh, the table starts again, which
  // costs a guesser a bcrypt per key to fill it once more.
  std::erase_if(records_, [now_ms](const auto& entry) {
    return entry.second.shut_until_ms <= now_ms &&
           now_ms - entry.second.last_failure_ms >= kLongestPauseMs;
  });
  if (records_.size() >= kMaxKeys) records_.clear();
}
