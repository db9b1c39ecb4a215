// The program entry: the registration switches first, then the service or
// the desktop.
#include "host/module.h"
#include "platform/entry.h"
#include "platform/paths.h"

int AgentMain(int show_command) {
  CKelvaneHTTPAgentModule& module = TheModule();
  TheAgentServer();  // built before anything runs
  std::uint32_t result = 0;
  if (module.HandleRegistrationSwitches(platform::CommandLine(), result)) {
    return static_cast<int>(result);
  }
  const int exit_code = module.SelectRunMode(show_command);
  // The stop step, with the listener waited for: the process then ends
  // without destroying anything the workers still use.
  TheAgentServer().Stop();
  TheAgentServer().WaitForListener();
  TheAgentServer().StopHistory();
  return exit_code;
}
