#include "platform/wake_semaphore.h"

#include <windows.h>

#include <climits>

namespace platform {

WakeSemaphore::WakeSemaphore() : handle_(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)) {}

WakeSemaphore::~WakeSemaphore() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

void WakeSemaphore::Release() {
  if (handle_ != nullptr) ReleaseSemaphore(handle_, 1, nullptr);
}

bool WakeSemaphore::WaitFor(int timeout_ms) {
  if (timeout_ms < 0) timeout_ms = 0;
  if (handle_ == nullptr) {
    // No semaphore (out of handles): a short nap, after which the caller
    // looks again for what it waits for.
    Sleep(static_cast<DWORD>(timeout_ms < 10 ? timeout_ms : 10));
    return false;
  }
  return WaitForSingleObject(handle_, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
}

}  // namespace platform
