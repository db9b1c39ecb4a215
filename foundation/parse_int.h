#pragma once
// Reads a decimal integer from the start of `text` the way the C library's
// atoi/strtol family does: leading white space skipped, an optional sign,
// then digits up to the first other character; no digits give 0, and a value
// beyond the signed 32-bit range is clamped to it.
#include <cstdint>
#include <string_view>

std::int32_t ParseLeadingInt32(std::string_view text);
std::int32_t ParseLeadingInt32(std::wstring_view text);
