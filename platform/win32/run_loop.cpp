#include "platform/run_loop.h"

#include <windows.h>

namespace platform {

void BlockQuitSignals() {}

void PrepareMessageQueue() {
  MSG message;
  PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

bool RunMessageLoop(bool) {
  MSG message;
  BOOL rc;
  while ((rc = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return rc == 0;
}

void PostQuit(std::uint32_t thread_id) { PostThreadMessageW(thread_id, WM_QUIT, 0, 0); }

}  // namespace platform
