#pragma once
// Private-profile (INI) files: GetPrivateProfileIntW / WritePrivateProfileStringW
// on Windows, our own reader and writer with the same rules on Linux:
// - section and key names match without regard to case; only the first
//   section of a name counts, and in it the first line of a key;
// - lines starting with ';' are comments; values are trimmed;
// - an integer is an optional sign and leading decimal digits, wrapping at 32
//   bits; no digits read as 0, an empty or missing value as the default
//   (Windows also reads a "0x" prefix as hexadecimal; Linux does not).
// The Linux writer keeps every other line byte for byte, replaces the key's
// line or adds it to its section (or the section at the end), and replaces the
// file atomically (a temporary file beside it, then rename). The Linux reader
// reuses the text of its last read of a file that has not changed since
// (platform/posix/file_read_cache.h), so a busy reader costs one stat.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

std::int32_t ReadIniInt(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                        std::int32_t default_value);

// Several integers of one section at once: values[i] gets keys[i] (or
// defaults[i]). Linux reads the file once for all of them.
void ReadIniInts(const std::wstring& file, const wchar_t* section, const wchar_t* const* keys,
                 const std::int32_t* defaults, std::int32_t* values, std::size_t count);

// Integers and texts of one section at once (Linux reads the file once):
// ints as ReadIniInts; texts[i] gets text_keys[i]'s value, trimmed, one pair
// of enclosing double quotes removed (as GetPrivateProfileStringW does, up to
// 1023 characters), or empty text when the key is missing.
void ReadIniSection(const std::wstring& file, const wchar_t* section,
                    const wchar_t* const* int_keys, const std::int32_t* int_defaults,
                    std::int32_t* ints, std::size_t int_count, const wchar_t* const* text_keys,
                    std::wstring* texts, std::size_t text_count);

// The key lines of a section ("key=value", trimmed, comments left out), as
// the file's bytes: the caller decides how they are encoded. Windows: one
// GetPrivateProfileSectionA call (the W call would already have decoded the
// bytes in the ANSI code page). Empty when the file or section is missing.
std::vector<std::string> ReadIniSectionLines(const std::wstring& file, const wchar_t* section);

// False when the file cannot be written; LastError() then tells why.
bool WriteIniString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                    const wchar_t* value);

}  // namespace platform
