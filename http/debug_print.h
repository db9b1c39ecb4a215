#pragma once
// DebugPrint: the HTTP server's printf-style trace (wide; %ls for wide
// strings) to the debugger output, each text followed by CR LF, at most 8182
// characters. Tests may install a sink that receives every trace text.
#include <functional>
#include <string>

void DebugPrint(const wchar_t* format, ...);

using TraceSink = std::function<void(const std::wstring&)>;
// Installs (or with an empty function removes) the sink. Not thread safe with
// concurrent DebugPrint calls: set it before the server starts.
void SetTraceSink(TraceSink sink);
