#pragma once
// Small text helpers for ASCII-only rules (HTTP names, settings keys, option
// words): letter case changes only A-Z and a-z, whatever the locale, and
// bytes above 0x7F pass through untouched. The platform layer, below this
// folder, keeps its own where it needs them.
#include <string>
#include <string_view>

namespace ascii {

// What the C locale's isspace takes: space, tab, LF, VT, FF, CR.
inline constexpr std::string_view kSpaces = " \t\n\v\f\r";
inline constexpr std::string_view kBlanks = " \t";

// `text` without the leading and trailing `chars`.
std::string_view Trim(std::string_view text, std::string_view chars = kSpaces);
// `text` without the trailing `chars`.
std::string_view TrimEnd(std::string_view text, std::string_view chars = kSpaces);

std::string Lower(std::string_view text);
std::string Upper(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace ascii
