#pragma once
// The debugger output channel (the HTTP server's trace, the snapshot dumps).
// Texts go to the platform's debugger output; tests may install a sink that
// receives every text as well.
#include <functional>
#include <string>

using DebugSink = std::function<void(const std::wstring&)>;

// Installs (or with an empty function removes) the sink; any thread may. The
// sink is called one text at a time, and never again once removal returns.
void SetDebugSink(DebugSink sink);
// False when nobody would see a text, so callers can skip building it.
bool DebugChannelActive();
void WriteDebugText(const std::wstring& text);
