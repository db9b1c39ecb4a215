#pragma once
// Conversions between wide text and 8-bit "ANSI" text (the ANSI code page on
// Windows, UTF-8 on Linux), and to UTF-8 for the log file.
#include <string>
#include <string_view>

#include "foundation/wstring.h"

std::string WideToAnsi(std::wstring_view text);
CWString AnsiToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
