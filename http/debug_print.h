#pragma once
// DebugPrint: the HTTP server's printf-style trace (wide; %ls for wide
// strings) to the debugger output, each text followed by CR LF, at most 8182
// characters.
#include "foundation/debug_channel.h"

void DebugPrint(const wchar_t* format, ...);
