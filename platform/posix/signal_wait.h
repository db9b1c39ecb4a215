#pragma once
// Waiting without waking: until a file descriptor becomes readable or one of
// some signals arrives, with no timeout to poll by. The signals must be
// blocked in every thread (BlockQuitSignals), as they are for sigwait.
#include <signal.h>

namespace platform {

// Returns 0 when `wake_fd` is readable, or the number of the signal taken.
int WaitForWakeOrSignal(int wake_fd, const sigset_t* signals);

// An eventfd to wake such a wait with; -1 if none could be made.
int MakeWakeFd();
void Wake(int wake_fd);

}  // namespace platform
