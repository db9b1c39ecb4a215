#include "auth/bcrypt_gate.h"

#include <algorithm>
#include <chrono>

BcryptGate::BcryptGate(unsigned slots) : free_(std::max(1u, slots)) {}

bool BcryptGate::Enter(int wait_ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (!freed_.wait_for(hold, std::chrono::milliseconds(wait_ms), [this] { return free_ > 0; })) {
    return false;
  }
  --free_;
  return true;
}

void BcryptGate::Leave() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ++free_;
  }
  freed_.notify_one();
}
