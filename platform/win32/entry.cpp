#include "platform/entry.h"

#include <windows.h>

#include <cstdio>

#include "platform/desktop.h"

namespace platform {

void EndProcess(int exit_code) {
  std::fflush(nullptr);
  // ExitProcess ends every other thread before anything is torn down.
  ExitProcess(static_cast<UINT>(exit_code));
}

}  // namespace platform

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  platform::EndProcess(AgentMain(platform::StartupShowCommand()));
}
