#pragma once
// Status codes raised by the string type (the Windows HRESULT values).
#include <cstdint>

using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000E);

// The exception the string type raises; carries one HResult.
class CAtlException {
 public:
  explicit CAtlException(HResult hr) noexcept : m_hr(hr) {}
  HResult m_hr;
};

[[noreturn]] inline void AtlThrow(HResult hr) { throw CAtlException(hr); }
