#include "foundation/locks.h"

#include "platform/process_info.h"

CAcquireCS::CAcquireCS(CLockCS& lock) : lock_(lock) {
  if (lock.state_ != CLockCS::kUsable) return;
  lock.section_.lock();
  section_ = &lock.section_;
  holds_ = 1;
  lock.holder_ = platform::CurrentThreadId();
}

CAcquireCS::~CAcquireCS() {
  if (holds_ == 0) return;
  if (--holds_ == 0) {
    lock_.last_holder_ = lock_.holder_;
    lock_.holder_ = 0;
  }
  section_->unlock();
}
