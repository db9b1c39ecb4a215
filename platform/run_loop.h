#pragma once
// The run thread's message loop and its quit message.
//
// Windows: a thread message queue (PeekMessageW creates it), GetMessageW
// until WM_QUIT, PostThreadMessageW(WM_QUIT) to end it.
// Linux: a process-wide quit flag that exists before anyone can post to it;
// on the desktop SIGINT and SIGTERM post the quit message too, so Ctrl-C
// ends the agent cleanly with exit code 0.
#include <cstdint>

namespace platform {

// Linux: blocks SIGINT and SIGTERM in the calling thread, and so in every
// thread started after it (they are then taken only by sigwait). Call first
// thing in main. Windows: nothing.
void BlockQuitSignals();

// Makes sure the calling thread can receive the quit message.
void PrepareMessageQueue();

// Runs until the quit message arrives (or, with `quit_on_signals`, SIGINT or
// SIGTERM on Linux). False when the loop ended on an error.
bool RunMessageLoop(bool quit_on_signals);

void PostQuit(std::uint32_t thread_id);

}  // namespace platform
