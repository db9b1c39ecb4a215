// The program entry: the registration switches first, then the service or
// the desktop.
#include "host/module.h"
#include "platform/entry.h"
#include "platform/paths.h"

int AgentMain(int show_command) {
  CKelvaneHTTPAgentModule& module = TheModule();
  TheAgentServer();  // built before anything runs, destroyed at exit (stopping it)
  std::uint32_t result = 0;
  if (module.HandleRegistrationSwitches(platform::CommandLine(), result)) {
    return static_cast<int>(result);
  }
  return module.SelectRunMode(show_command);
}
