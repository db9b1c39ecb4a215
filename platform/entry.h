#pragma once
// The program entry: wWinMain (GUI subsystem) on Windows, main on Linux, both
// calling AgentMain with the show command the starter asked for and returning
// its result as the exit code (on Linux only the low 8 bits reach the parent).
// Linux blocks SIGINT and SIGTERM first, before any thread starts.
int AgentMain(int show_command);
