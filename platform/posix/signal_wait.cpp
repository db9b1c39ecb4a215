#include "platform/posix/signal_wait.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace platform {

int WaitForWakeOrSignal(int wake_fd, const sigset_t* signals) {
  const int signal_fd = signals != nullptr ? signalfd(-1, signals, SFD_CLOEXEC) : -1;
  pollfd watched[2] = {{wake_fd, POLLIN, 0}, {signal_fd, POLLIN, 0}};
  int taken = 0;
  for (;;) {
    // A negative descriptor is skipped by poll: without either, this waits
    // until the process ends, which is what a loop without a way out means.
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watched[0].revents != 0) break;
    signalfd_siginfo info{};
    if (watched[1].revents != 0 && read(signal_fd, &info, sizeof info) == sizeof info) {
      taken = static_cast<int>(info.ssi_signo);
      break;
    }
  }
  if (signal_fd >= 0) close(signal_fd);
  return taken;
}

int MakeWakeFd() { return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

void Wake(int wake_fd) {
  const eventfd_t one = 1;
  // Only a full counter can fail, and then it is readable already.
  [[maybe_unused]] ssize_t written = write(wake_fd, &one, sizeof one);
}

}  // namespace platform
