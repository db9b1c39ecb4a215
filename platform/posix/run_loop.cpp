#include "platform/run_loop.h"

#include <signal.h>
#include <time.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<bool> g_quit{false};

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
  sigset_t set = QuitSignals();
  const timespec step{0, 100 * 1000 * 1000};
  while (!g_quit) {
    if (quit_on_signals) {
      if (sigtimedwait(&set, nullptr, &step) > 0) break;
    } else {
      nanosleep(&step, nullptr);
    }
  }
  return true;
}

void PostQuit(std::uint32_t) { g_quit = true; }

}  // namespace platform
