#pragma once
// CLockCS: a process-wide critical-section lock; CAcquireCS: its scoped holder.
//
// The lock is recursive (like a critical section). Once destroyed (state 32)
// a CAcquireCS built on it enters nothing and leaves nothing, so late users
// during process exit do not touch a dead lock. A CAcquireCS must be destroyed
// on the thread that created it.
#include <cstdint>
#include <mutex>

class CLockCS {
 public:
  static constexpr std::uint32_t kUsable = 16;
  static constexpr std::uint32_t kDestroyed = 32;

  CLockCS() = default;
  virtual ~CLockCS() { Destroy(); }
  CLockCS(const CLockCS&) = delete;
  CLockCS& operator=(const CLockCS&) = delete;

  // Marks the lock unusable; what the destructor does first.
  void Destroy() noexcept { state_ = kDestroyed; }

  std::uint32_t State() const noexcept { return state_; }
  std::uint32_t Holder() const noexcept { return holder_; }
  std::uint32_t LastHolder() const noexcept { return last_holder_; }

 private:
  friend class CAcquireCS;
  std::recursive_mutex section_;
  std::uint32_t holder_ = 0;
  std::uint32_t last_holder_ = 0;
  std::uint32_t state_ = kUsable;
};

class CAcquireCS {
 public:
  explicit CAcquireCS(CLockCS& lock);
  virtual ~CAcquireCS();
  CAcquireCS(const CAcquireCS&) = delete;
  CAcquireCS& operator=(const CAcquireCS&) = delete;

  bool Holds() const noexcept { return section_ != nullptr; }

 private:
  CLockCS& lock_;
  std::recursive_mutex* section_ = nullptr;
  int holds_ = 0;
};
