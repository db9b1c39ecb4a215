#include "platform/entry.h"

#include <windows.h>

#include "platform/desktop.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return AgentMain(platform::StartupShowCommand());
}
