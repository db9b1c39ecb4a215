#pragma once
// Whole-file reads and atomic replacement.
#include <cstdint>
#include <string>

namespace platform {

inline constexpr std::uint64_t kMaxWholeFileBytes = 0xFFFFFFFFull;  // below 4 GiB

// Reads a regular file whole. False (LastError set) when it cannot be opened,
// is a directory, or holds 4 GiB or more.
bool ReadWholeRegularFile(const std::wstring& path, std::string& bytes);

// Writes `bytes` to a temporary file beside `path` and moves it over `path`
// (MoveFileExW with replace on Windows, rename on Linux), so the file is
// never left half-written. False (LastError set) on failure.
bool ReplaceFileContents(const std::wstring& path, const std::string& bytes);

}  // namespace platform
