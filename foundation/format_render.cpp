// Rendering of one formatter argument. Specs come in the Windows printf
// dialect ("I64", "%S" for 8-bit text); they are checked against the
// argument's kind so that no value is ever read through a conversion that
// does not fit it. Integers, text, pointers and fixed-notation doubles are
// rendered here, identically on every C library; other doubles go through
// swprintf.
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "foundation/format.h"
#include "platform/text.h"

namespace {

constexpr int kMaxWidth = 1024;  // width and precision above this are rejected
constexpr int kNumberBuffer = 2 * kMaxWidth + 400;

enum class SizePrefix { None, Short, Long, LongLong, I32, I64 };

struct Conversion {
  bool minus = false, plus = false, space = false, hash = false, zero = false;
  int width = 0;
  int precision = -1;
  SizePrefix size = SizePrefix::None;
  wchar_t letter = 0;
};

bool ReadNumber(const wchar_t*& p, int& out) {
  out = 0;
  while (*p >= L'0' && *p <= L'9') {
    out = out * 10 + (*p++ - L'0');
    if (out > kMaxWidth) return false;
  }
  return true;
}

bool ParseConversion(const wchar_t* p, Conversion& c) {
  if (*p++ != L'%') return false;
  for (;; ++p) {
    if (*p == L'-')
      c.minus = true;
    else if (*p == L'+')
      c.plus = true;
    else if (*p == L' ')
      c.space = true;
    else if (*p == L'#')
      c.hash = true;
    else if (*p == L'0')
      c.zero = true;
    else
      break;
  }
  if (!ReadNumber(p, c.width)) return false;
  if (*p == L'.') {
    ++p;
    if (!ReadNumber(p, c.precision)) return false;
  }
  if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4')
    c.size = SizePrefix::I64, p += 3;
  else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2')
    c.size = SizePrefix::I32, p += 3;
  else if (p[0] == L'l' && p[1] == L'l')
    c.size = SizePrefix::LongLong, p += 2;
  else if (p[0] == L'l' || p[0] == L'w')
    c.size = SizePrefix::Long, ++p;
  else if (p[0] == L'h')
    c.size = SizePrefix::Short, ++p;
  c.letter = *p;
  return c.letter != 0 && p[1] == 0;
}

bool IsIntegerLetter(wchar_t l) { return wcschr(L"diuxXo", l) != nullptr && l != 0; }
bool IsFloatLetter(wchar_t l) { return wcschr(L"fFeEgGaA", l) != nullptr && l != 0; }

bool Fits(FormatArgKind kind, const Conversion& c) {
  const SizePrefix s = c.size;
  switch (kind) {
    case FormatArgKind::Int32:
    case FormatArgKind::UInt32:
    case FormatArgKind::ULong:
    case FormatArgKind::HexByte:
      // "l" is 32 bits in this dialect.
      return IsIntegerLetter(c.letter) &&
             (s == SizePrefix::None || s == SizePrefix::Long || s == SizePrefix::I32);
    case FormatArgKind::Int64:
    case FormatArgKind::UInt64:
      return IsIntegerLetter(c.letter) && (s == SizePrefix::I64 || s == SizePrefix::LongLong);
    case FormatArgKind::Double:
      return IsFloatLetter(c.letter) && (s == SizePrefix::None || s == SizePrefix::Long);
    case FormatArgKind::WideString:
      return (c.letter == L's' && s != SizePrefix::Short) ||
             (c.letter == L'S' && s == SizePrefix::Long);
    case FormatArgKind::NarrowString:
      return (c.letter == L'S' && s != SizePrefix::Long) ||
             (c.letter == L's' && s == SizePrefix::Short);
    case FormatArgKind::WideChar:
      return (c.letter == L'c' && s != SizePrefix::Short) ||
             (c.letter == L'C' && s == SizePrefix::Long);
    case FormatArgKind::NarrowChar:
      return (c.letter == L'C' && s != SizePrefix::Long) ||
             (c.letter == L'c' && s == SizePrefix::Short);
    case FormatArgKind::Pointer:
      return c.letter == L'p' && s == SizePrefix::None;
  }
  return false;
}

const wchar_t* DefaultConversion(FormatArgKind kind) {
  switch (kind) {
    case FormatArgKind::Int32:
      return L"%d";
    case FormatArgKind::NarrowString:
      return L"%S";
    case FormatArgKind::WideString:
      return L"%s";
    case FormatArgKind::UInt32:
      return L"%u";
    case FormatArgKind::Int64:
      return L"%I64d";
    case FormatArgKind::UInt64:
      return L"%I64u";
    case FormatArgKind::Double:
      return L"%f";
    case FormatArgKind::ULong:
      return L"%lu";
    case FormatArgKind::WideChar:
      return L"%c";
    case FormatArgKind::NarrowChar:
      return L"%C";
    case FormatArgKind::HexByte:
      return L"%02X";
    case FormatArgKind::Pointer:
      return L"%p";
  }
  return nullptr;
}

// A rendered value: [spaces][prefix][zeros][body][spaces]. The body is either
// wide characters or 8-bit text converted on output.
struct Piece {
  const wchar_t* prefix = L"";
  int zeros = 0;
  const wchar_t* body = nullptr;
  const char* narrow_body = nullptr;
  int body_length = 0;    // characters the body takes in the output
  int narrow_length = 0;  // bytes of narrow_body to convert
};

int Emit(const Piece& piece, const Conversion& c, wchar_t* out, int capacity) {
  int prefix_length = static_cast<int>(wcslen(piece.prefix));
  int content = prefix_length + piece.zeros + piece.body_length;
  int pad = c.width > content ? c.width - content : 0;
  int total = content + pad;
  if (out == nullptr) return total;
  if (total > capacity) return -1;
  wchar_t* p = out;
  if (!c.minus) p = wmemset(p, L' ', pad) + pad;
  p = wmemcpy(p, piece.prefix, prefix_length) + prefix_length;
  p = wmemset(p, L'0', piece.zeros) + piece.zeros;
  if (piece.narrow_body != nullptr) {
    platform::AnsiToWide({piece.narrow_body, static_cast<std::size_t>(piece.narrow_length)}, p,
                         static_cast<std::size_t>(piece.body_length));
  } else if (piece.body_length > 0) {
    wmemcpy(p, piece.body, piece.body_length);
  }
  p += piece.body_length;
  if (c.minus) wmemset(p, L' ', pad);
  return total;
}

int RenderInteger(std::uint64_t magnitude, bool negative, const Conversion& c, wchar_t* out,
                  int capacity) {
  wchar_t digits[32];
  int n = 0;
  const unsigned base = c.letter == L'o' ? 8 : (c.letter == L'x' || c.letter == L'X') ? 16 : 10;
  const wchar_t* alphabet = c.letter == L'x' ? L"0123456789abcdef" : L"0123456789ABCDEF";
  for (std::uint64_t v = magnitude; v != 0; v /= base) digits[31 - n++] = alphabet[v % base];
  Piece piece;
  piece.body = digits + 32 - n;
  piece.body_length = n;
  int min_digits = c.precision < 0 ? 1 : c.precision;
  piece.zeros = min_digits > n ? min_digits - n : 0;
  bool is_signed = c.letter == L'd' || c.letter == L'i';
  if (is_signed) piece.prefix = negative ? L"-" : c.plus ? L"+" : c.space ? L" " : L"";
  if (c.hash && magnitude != 0 && base == 16) piece.prefix = c.letter == L'x' ? L"0x" : L"0X";
  if (c.hash && base == 8 && piece.zeros == 0) piece.zeros = 1;
  if (c.zero && !c.minus && c.precision < 0) {
    int content = static_cast<int>(wcslen(piece.prefix)) + piece.zeros + n;
    if (c.width > content) piece.zeros += c.width - content;
  }
  return Emit(piece, c, out, capacity);
}

int RenderInt(const FormatArg& arg, const Conversion& c, wchar_t* out, int capacity) {
  bool wide = arg.kind == FormatArgKind::Int64 || arg.kind == FormatArgKind::UInt64;
  std::uint64_t bits = wide ? arg.Bits() : arg.Low();
  bool is_signed = c.letter == L'd' || c.letter == L'i';
  if (!is_signed) return RenderInteger(bits, false, c, out, capacity);
  std::int64_t v = wide ? static_cast<std::int64_t>(bits)
                        : static_cast<std::int64_t>(static_cast<std::int32_t>(arg.Low()));
  std::uint64_t magnitude =
      v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  return RenderInteger(magnitude, v < 0, c, out, capacity);
}

// Fixed notation, what every reading uses: std::to_chars gives exactly the
// digits printf gives (correctly rounded, exact ties to even, "-0" for a
// negative value that rounds to zero) at a fraction of the cost. False when
// the conversion is not a plain finite "f"; swprintf then renders it.
bool RenderFixed(double value, const Conversion& c, wchar_t* out, int capacity, int& result) {
  if (c.letter != L'f' || c.hash || !std::isfinite(value)) return false;
  char digits[kNumberBuffer];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed,
                                    c.precision < 0 ? 6 : c.precision);
  if (error != std::errc()) return false;
  bool negative = digits[0] == '-';
  wchar_t body[kNumberBuffer];
  int length = 0;
  for (const char* d = digits + (negative ? 1 : 0); d < end; ++d) body[length++] = *d;
  Piece piece;
  piece.prefix = negative ? L"-" : c.plus ? L"+" : c.space ? L" " : L"";
  piece.body = body;
  piece.body_length = length;
  if (c.zero && !c.minus) {
    int content = static_cast<int>(wcslen(piece.prefix)) + length;
    if (c.width > content) piece.zeros = c.width - content;
  }
  result = Emit(piece, c, out, capacity);
  return true;
}

int RenderDouble(double value, const Conversion& c, wchar_t* out, int capacity) {
  int fixed;
  if (RenderFixed(value, c, out, capacity, fixed)) return fixed;
  wchar_t format[32];
  swprintf(format, 32, L"%%%ls%ls%ls%ls%ls%d.%d%lc", c.minus ? L"-" : L"", c.plus ? L"+" : L"",
           c.space ? L" " : L"", c.hash ? L"#" : L"", c.zero ? L"0" : L"", c.width,
           c.precision < 0 ? 6 : c.precision, static_cast<wint_t>(c.letter));
  wchar_t text[kNumberBuffer];
  int n = swprintf(text, kNumberBuffer, format, value);
  if (n < 0) return -1;
  // Whatever the process locale says, the decimal point written is '.'.
  const char* point = std::localeconv()->decimal_point;
  if (point != nullptr && point[0] != '.' && point[0] != 0) {
    wchar_t* hit = wcschr(text, static_cast<wchar_t>(static_cast<unsigned char>(point[0])));
    if (hit != nullptr) *hit = L'.';
  }
  Piece piece;
  piece.body = text;
  piece.body_length = n;
  return Emit(piece, Conversion{}, out, capacity);
}

int RenderText(const FormatArg& arg, const Conversion& c, wchar_t* out, int capacity) {
  Piece piece;
  bool narrow = arg.kind == FormatArgKind::NarrowString;
  if (narrow) {
    const char* text = arg.AsPointer<char>();
    if (text != nullptr) {
      piece.narrow_body = text;
      piece.narrow_length = static_cast<int>(strlen(text));
      piece.body_length = static_cast<int>(
          platform::AnsiToWide({text, static_cast<std::size_t>(piece.narrow_length)}, nullptr, 0));
    }
  } else {
    piece.body = arg.AsPointer<wchar_t>();
    piece.body_length = piece.body == nullptr ? 0 : static_cast<int>(wcslen(piece.body));
  }
  if (c.precision >= 0 && piece.body_length > c.precision) piece.body_length = c.precision;
  return Emit(piece, c, out, capacity);
}

int RenderChar(const FormatArg& arg, const Conversion& c, wchar_t* out, int capacity) {
  wchar_t ch[2] = {static_cast<wchar_t>(arg.Low()), 0};
  if (arg.kind == FormatArgKind::NarrowChar) {
    char byte = static_cast<char>(arg.Low());
    platform::AnsiToWide({&byte, 1}, ch, 1);
  }
  Piece piece;
  piece.body = ch;
  piece.body_length = 1;
  return Emit(piece, c, out, capacity);
}

int RenderPointer(const FormatArg& arg, const Conversion& c, wchar_t* out, int capacity) {
  // Sixteen upper-case digits, as Windows prints "%p" on x64.
  wchar_t digits[16];
  std::uint64_t v = arg.Bits();
  for (int i = 15; i >= 0; --i, v >>= 4) digits[i] = L"0123456789ABCDEF"[v & 15];
  Piece piece;
  piece.body = digits;
  piece.body_length = 16;
  return Emit(piece, c, out, capacity);
}

}  // namespace

int EstimateArgLength(const FormatArg& arg) noexcept {
  switch (arg.kind) {
    case FormatArgKind::NarrowString: {
      const char* text = arg.AsPointer<char>();
      return text == nullptr ? 0 : static_cast<int>(strnlen(text, 1u << 30));
    }
    case FormatArgKind::WideString: {
      const wchar_t* text = arg.AsPointer<wchar_t>();
      return text == nullptr ? 0 : static_cast<int>(wcsnlen(text, 1u << 30));
    }
    case FormatArgKind::WideChar:
    case FormatArgKind::NarrowChar:
      return 1;
    case FormatArgKind::HexByte:
      return 2;
    case FormatArgKind::Pointer:
      return 16;
    default:
      return 10;
  }
}

int RenderArg(const FormatArg& arg, wchar_t* out, int capacity, const wchar_t* spec) {
  if (spec == nullptr) spec = arg.override_conversion;
  if (spec == nullptr) {
    // The kind's own rendering: wide text is copied character for character.
    if (arg.kind == FormatArgKind::WideString)
      spec = L"%s";
    else
      spec = DefaultConversion(arg.kind);
    if (spec == nullptr) return -1;
  }
  Conversion c;
  if (!ParseConversion(spec, c) || !Fits(arg.kind, c)) return -1;
  switch (arg.kind) {
    case FormatArgKind::Double:
      return RenderDouble(arg.AsDouble(), c, out, capacity);
    case FormatArgKind::WideString:
    case FormatArgKind::NarrowString:
      return RenderText(arg, c, out, capacity);
    case FormatArgKind::WideChar:
    case FormatArgKind::NarrowChar:
      return RenderChar(arg, c, out, capacity);
    case FormatArgKind::Pointer:
      return RenderPointer(arg, c, out, capacity);
    default:
      return RenderInt(arg, c, out, capacity);
  }
}
