#pragma once
// Typed argument records for the composite formatter.
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "foundation/wstring.h"

enum class FormatArgKind : std::int32_t {
  Int32 = 0,
  NarrowString = 1,
  WideString = 2,
  UInt32 = 3,
  Int64 = 4,
  UInt64 = 5,
  Double = 6,
  ULong = 7,
  WideChar = 8,
  NarrowChar = 9,
  HexByte = 10,
  Pointer = 11,
};

// One argument: a 64-bit value (a 32-bit integer zero-extended, a whole
// pointer, a double's bits or a 64-bit integer), its kind, and an optional
// default conversion used when the placeholder has no spec. Text kinds hold
// only the pointer: the text must outlive the formatting call.
struct FormatArg {
  std::uint64_t value = 0;
  FormatArgKind kind = FormatArgKind::Int32;
  const wchar_t* override_conversion = nullptr;

  FormatArg() = default;
  FormatArg(double d) : kind(FormatArgKind::Double) { std::memcpy(&value, &d, sizeof d); }
  FormatArg(const CWString& s) : FormatArg(s.GetString()) {}
  FormatArg(const wchar_t* s)
      : value(reinterpret_cast<std::uintptr_t>(s)), kind(FormatArgKind::WideString) {}
  FormatArg(const char* s)
      : value(reinterpret_cast<std::uintptr_t>(s)), kind(FormatArgKind::NarrowString) {}
  FormatArg(wchar_t c) : value(static_cast<std::uint32_t>(c)), kind(FormatArgKind::WideChar) {}
  FormatArg(char c) : value(static_cast<unsigned char>(c)), kind(FormatArgKind::NarrowChar) {}

  // Integers by width and sign: up to 32-bit signed and 16-bit unsigned give
  // Int32, 32-bit unsigned gives ULong, 64-bit gives Int64 / UInt64.
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, char> &&
                                          !std::is_same_v<T, wchar_t>,
                                      int> = 0>
  FormatArg(T v) {
    if constexpr (sizeof(T) == 8) {
      value = static_cast<std::uint64_t>(v);
      kind = std::is_signed_v<T> ? FormatArgKind::Int64 : FormatArgKind::UInt64;
    } else if constexpr (std::is_signed_v<T> || sizeof(T) < 4) {
      value = static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
      kind = FormatArgKind::Int32;
    } else {
      value = static_cast<std::uint32_t>(v);
      kind = FormatArgKind::ULong;
    }
  }

  static FormatArg Make(FormatArgKind kind, std::uint64_t value) {
    FormatArg arg;
    arg.kind = kind;
    arg.value = value;
    return arg;
  }

  std::uint32_t Low() const noexcept { return static_cast<std::uint32_t>(value); }
  std::uint64_t Bits() const noexcept { return value; }
  double AsDouble() const noexcept {
    double d;
    std::memcpy(&d, &value, sizeof d);
    return d;
  }
  template <class P>
  const P* AsPointer() const noexcept {
    return reinterpret_cast<const P*>(static_cast<std::uintptr_t>(value));
  }
};

// Ordered argument list; element i answers placeholder index i. Holds up to
// kInline arguments without touching the general allocator.
class FormatArgList {
 public:
  static constexpr int kInline = 12;

  void reserve(int n) {
    if (n > kInline) overflow_.reserve(static_cast<std::size_t>(n - kInline));
  }
  void push_back(const FormatArg& arg) {
    if (size_ < kInline) {
      inline_[size_] = arg;
    } else {
      overflow_.push_back(arg);
    }
    ++size_;
  }
  int size() const noexcept { return size_; }
  const FormatArg& operator[](int i) const noexcept {
    return i < kInline ? inline_[i] : overflow_[static_cast<std::size_t>(i - kInline)];
  }

 private:
  FormatArg inline_[kInline];
  std::vector<FormatArg> overflow_;
  int size_ = 0;
};
