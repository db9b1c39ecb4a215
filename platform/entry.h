#pragma once
// The program entry: wWinMain (GUI subsystem) on Windows, main on Linux, both
// calling AgentMain with the show command the starter asked for and ending
// the process with its result as the exit code (on Linux only the low 8 bits
// reach the parent). Linux blocks SIGINT and SIGTERM first, before any
// thread starts.
//
// The process ends without running static destructors: worker threads may
// still be serving, and must never meet a destroyed process-wide object.
// Standard output and error are flushed first; every other channel (the log
// file, the event log) writes through at once.
int AgentMain(int show_command);

namespace platform {

[[noreturn]] void EndProcess(int exit_code);

}  // namespace platform
