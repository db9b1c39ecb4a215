#include "platform/wake_semaphore.h"

#include <errno.h>
#include <semaphore.h>
#include <time.h>

#include <new>

namespace platform {
namespace {

sem_t* Semaphore(void* handle) { return static_cast<sem_t*>(handle); }

timespec DeadlineAfter(int timeout_ms) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_nsec -= 1000000000L;
    ++deadline.tv_sec;
  }
  return deadline;
}

}  // namespace

WakeSemaphore::WakeSemaphore() : handle_(new sem_t) {
  // Unnamed and private to this process; sem_init cannot fail for these
  // arguments.
  sem_init(Semaphore(handle_), 0, 0);
}

WakeSemaphore::~WakeSemaphore() {
  sem_destroy(Semaphore(handle_));
  delete Semaphore(handle_);
}

void WakeSemaphore::Release() { sem_post(Semaphore(handle_)); }

bool WakeSemaphore::WaitFor(int timeout_ms) {
  if (timeout_ms < 0) timeout_ms = 0;
  const timespec deadline = DeadlineAfter(timeout_ms);
  for (;;) {
    if (sem_clockwait(Semaphore(handle_), CLOCK_MONOTONIC, &deadline) == 0) return true;
    if (errno != EINTR) return false;  // ETIMEDOUT
  }
}

}  // namespace platform
