#pragma once
// Text conversions and case mapping.
//
// "ANSI" text is the system's ANSI code page on Windows (CP_ACP with the
// default handling of unmappable characters) and UTF-8 on Linux, whatever the
// locale; an invalid UTF-8 sequence becomes U+FFFD there.
//
// Each conversion returns the number of units the whole result needs (no
// terminator counted) and writes min(needed, capacity) units to `out` when
// `out` is not null. Thread safe.
#include <cstddef>
#include <string_view>

namespace platform {

std::size_t AnsiToWide(std::string_view in, wchar_t* out, std::size_t capacity);
std::size_t WideToAnsi(std::wstring_view in, char* out, std::size_t capacity);
std::size_t WideToUtf8(std::wstring_view in, char* out, std::size_t capacity);
// Bytes whose encoding is not declared (a hand-edited file): UTF-8 where they
// are valid UTF-8 (as Notepad saves them), the ANSI code page otherwise.
// Linux: the same as AnsiToWide.
std::size_t Utf8OrAnsiToWide(std::string_view in, wchar_t* out, std::size_t capacity);

// The system's own case mapping (CharLowerBuffW / CharUpperW on Windows; the
// C.UTF-8 locale's towlower/towupper on Linux): letters beyond ASCII too.
void LowerCase(wchar_t* text, std::size_t length);
wchar_t UpperCaseChar(wchar_t ch);

}  // namespace platform

namespace platform {

// White space as the system's wide classification counts it (iswspace; on
// Linux in the C.UTF-8 locale, so the other Unicode space characters count).
bool IsSpace(wchar_t ch);

}  // namespace platform
