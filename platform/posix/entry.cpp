#include "platform/entry.h"

#include "platform/desktop.h"
#include "platform/run_loop.h"

int main() {
  platform::BlockQuitSignals();
  return AgentMain(platform::StartupShowCommand());
}
