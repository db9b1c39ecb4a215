// Query and form parameters.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "foundation/ascii_text.h"
#include "http/request.h"

namespace {

// A name escape reads its two characters the way scanf's "%x" reads them;
// no digit gives 0xFF.
char NameEscape(const char* two) {
  char text[3] = {two[0], two[1], 0};
  unsigned value = 0;
  return std::sscanf(text, "%x", &value) == 1 ? static_cast<char>(value & 0xFF)
                                              : static_cast<char>(0xFF);
}

int HexPosition(char c) {
  const char* digits = "0123456789ABCDEF";
  const char* hit =
      c == 0 ? nullptr : std::strchr(digits, std::toupper(static_cast<unsigned char>(c)));
  return hit == nullptr ? -1 : static_cast<int>(hit - digits);
}

}  // namespace

void Request::ParseParams(char* text) {
  if (text == nullptr) return;
  char* p = text;
  while (*p != 0) {
    // The name, decoded in place up to "=", "&" or the end.
    char* name = p;
    char* out = p;
    while (*p != 0 && *p != '=' && *p != '&') {
      if (*p == '+') {
        *out++ = ' ', ++p;
      } else if (*p == '%' && p[1] != 0 && p[2] != 0) {
        *out++ = NameEscape(p + 1), p += 3;
      } else if (*p == '%') {
        *out++ = 0, p += p[1] != 0 ? 2 : 1;  // cut short: the name ends here
      } else {
        *out++ = *p++;
      }
    }
    char ender = *p;
    *out = 0;
    std::string name_text(name);
    std::string value_text;
    if (ender == '=') {
      char* value = ++p;
      out = p;
      while (*p != 0 && *p != '&' && *p != '#') {
        int high = *p == '%' && p[1] != 0 ? HexPosition(p[1]) : -1;
        int low = high >= 0 && p[2] != 0 ? HexPosition(p[2]) : -1;
        if (*p == '+') {
          *out++ = ' ', ++p;
        } else if (*p == '%' && (p[1] == 0 || p[2] == 0)) {
          *out++ = 0, p += p[1] != 0 ? 2 : 1;
        } else if (*p == '%' && low >= 0) {
          *out++ = static_cast<char>(high * 16 + low), p += 3;
        } else {
          *out++ = *p++;  // a "%" without two hex digits stays as written
        }
      }
      ender = *p;
      *out = 0;
      value_text = value;
    }
    parameters_[ascii::Upper(name_text)] = value_text;
    if (ender == '#') return;  // the rest is a fragment, not pairs
    if (ender == '&' || ender == '=') ++p;
  }
}

std::string Request::GetParam(const char* name) const {
  auto found = parameters_.find(ascii::Upper(name == nullptr ? "" : name));
  return found == parameters_.end() ? std::string() : found->second;
}
