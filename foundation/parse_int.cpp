#include "foundation/parse_int.h"

#include <limits>

namespace {

template <class Char>
std::int32_t Parse(std::basic_string_view<Char> text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;  // clamped, and kept from overflowing
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

std::int32_t ParseLeadingInt32(std::string_view text) { return Parse(text); }
std::int32_t ParseLeadingInt32(std::wstring_view text) { return Parse(text); }
