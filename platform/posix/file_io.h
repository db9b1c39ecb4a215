#pragma once
// Whole-file helpers shared by the Linux stand-ins (not a portable facility).
#include <string>

namespace platform {

// Reads the whole file; false with errno set when it cannot be read.
bool ReadWholeFile(const std::wstring& path, std::string& content);

// Writes `content` to a temporary file beside `path` (same permissions as the
// file it replaces, 0644 for a new one), then renames it over `path`, so the
// file is never seen half-written. False with errno set on failure.
bool ReplaceFileAtomically(const std::wstring& path, const std::string& content);

std::string NarrowPath(const std::wstring& path);

}  // namespace platform
