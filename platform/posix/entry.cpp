#include "platform/entry.h"

#include <unistd.h>

#include <cstdio>

#include "platform/desktop.h"
#include "platform/run_loop.h"

namespace platform {

void EndProcess(int exit_code) {
  std::fflush(nullptr);
  _exit(exit_code);
}

}  // namespace platform

int main() {
  platform::BlockQuitSignals();
  platform::EndProcess(AgentMain(platform::StartupShowCommand()));
}
