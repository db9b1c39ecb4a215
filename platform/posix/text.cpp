#include "platform/text.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Sink {
  wchar_t* out;
  std::size_t capacity;
  std::size_t count = 0;
  void Put(char32_t c) {
    if (out != nullptr && count < capacity) out[count] = static_cast<wchar_t>(c);
    ++count;
  }
};

// Length of the sequence led by `lead` and the lowest code point it may carry,
// or 0 for a byte that cannot start a sequence.
int SequenceLength(unsigned char lead, char32_t& min_value, char32_t& value) {
  if (lead < 0x80) return value = lead, 1;
  if (lead >= 0xC2 && lead <= 0xDF) return value = lead & 0x1F, min_value = 0x80, 2;
  if (lead >= 0xE0 && lead <= 0xEF) return value = lead & 0x0F, min_value = 0x800, 3;
  if (lead >= 0xF0 && lead <= 0xF4) return value = lead & 0x07, min_value = 0x10000, 4;
  return 0;
}

void PutUtf8(char32_t c, char* out, std::size_t capacity, std::size_t& count) {
  unsigned char bytes[4];
  int n;
  if (c < 0x80) {
    bytes[0] = static_cast<unsigned char>(c), n = 1;
  } else if (c < 0x800) {
    bytes[0] = 0xC0 | (c >> 6), bytes[1] = 0x80 | (c & 0x3F), n = 2;
  } else if (c < 0x10000) {
    bytes[0] = 0xE0 | (c >> 12), bytes[1] = 0x80 | ((c >> 6) & 0x3F);
    bytes[2] = 0x80 | (c & 0x3F), n = 3;
  } else {
    bytes[0] = 0xF0 | (c >> 18), bytes[1] = 0x80 | ((c >> 12) & 0x3F);
    bytes[2] = 0x80 | ((c >> 6) & 0x3F), bytes[3] = 0x80 | (c & 0x3F), n = 4;
  }
  for (int i = 0; i < n; ++i, ++count) {
    if (out != nullptr && count < capacity) out[count] = static_cast<char>(bytes[i]);
  }
}

locale_t Utf8Locale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

std::size_t Utf8OrAnsiToWide(std::string_view in, wchar_t* out, std::size_t capacity) {
  return AnsiToWide(in, out, capacity);
}

std::size_t AnsiToWide(std::string_view in, wchar_t* out, std::size_t capacity) {
  Sink sink{out, capacity};
  std::size_t i = 0;
  while (i < in.size()) {
    char32_t min_value = 0, value = 0;
    int length = SequenceLength(static_cast<unsigned char>(in[i]), min_value, value);
    if (length == 0) {
      sink.Put(kReplacement), ++i;
      continue;
    }
    int taken = 1;
    for (; taken < length && i + taken < in.size(); ++taken) {
      unsigned char b = static_cast<unsigned char>(in[i + taken]);
      if ((b & 0xC0) != 0x80) break;
      value = (value << 6) | (b & 0x3F);
      // Reject overlong forms and surrogates as early as the second byte shows them.
      if (taken == 1 && length >= 3 && (value << (6 * (length - 2))) < min_value) break;
      if (taken == 1 && length == 3 && value >= 0x360 && value <= 0x37F) break;
      if (taken == 1 && length == 4 && (value << 12) > 0x10FFFF) break;
    }
    if (taken < length) {
      sink.Put(kReplacement), i += taken;
      continue;
    }
    sink.Put(value), i += length;
  }
  return sink.count;
}

std::size_t WideToUtf8(std::wstring_view in, char* out, std::size_t capacity) {
  std::size_t count = 0;
  for (wchar_t wc : in) {
    char32_t c = static_cast<char32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    PutUtf8(c, out, capacity, count);
  }
  return count;
}

std::size_t WideToAnsi(std::wstring_view in, char* out, std::size_t capacity) {
  return WideToUtf8(in, out, capacity);
}

void LowerCase(wchar_t* text, std::size_t length) {
  locale_t locale = Utf8Locale();
  for (std::size_t i = 0; i < length; ++i) {
    text[i] = locale != static_cast<locale_t>(0) ? static_cast<wchar_t>(towlower_l(text[i], locale))
                                                 : static_cast<wchar_t>(towlower(text[i]));
  }
}

wchar_t UpperCaseChar(wchar_t ch) {
  locale_t locale = Utf8Locale();
  return locale != static_cast<locale_t>(0) ? static_cast<wchar_t>(towupper_l(ch, locale))
                                            : static_cast<wchar_t>(towupper(ch));
}

}  // namespace platform

namespace platform {

bool IsSpace(wchar_t ch) {
  locale_t locale = Utf8Locale();
  return locale != static_cast<locale_t>(0) ? iswspace_l(ch, locale) != 0 : iswspace(ch) != 0;
}

}  // namespace platform
