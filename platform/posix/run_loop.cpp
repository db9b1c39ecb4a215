#include "platform/run_loop.h"

#include <signal.h>

#include <atomic>

#include "platform/posix/signal_wait.h"

namespace platform {
namespace {

std::atomic<bool> g_quit{false};
// Made before main, so that PostQuit can wake a loop from any thread at any
// time; readable for good once the quit is posted.
const int g_quit_fd = MakeWakeFd();

sigset_t QuitSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockQuitSignals() {
  sigset_t set = QuitSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void PrepareMessageQueue() {}

bool RunMessageLoop(bool quit_on_signals) {
  const sigset_t set = QuitSignals();
  while (!g_quit) {
    if (WaitForWakeOrSignal(g_quit_fd, quit_on_signals ? &set : nullptr) != 0) break;
  }
  return true;
}

void PostQuit(std::uint32_t) {
  g_quit = true;
  Wake(g_quit_fd);
}

}  // namespace platform
