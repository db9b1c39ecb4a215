#include "foundation/ascii_text.h"

namespace ascii {
namespace {

char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string_view Trim(std::string_view text, std::string_view chars) {
  const std::size_t start = text.find_first_not_of(chars);
  if (start == std::string_view::npos) return std::string_view();
  return TrimEnd(text.substr(start), chars);
}

std::string_view TrimEnd(std::string_view text, std::string_view chars) {
  const std::size_t end = text.find_last_not_of(chars);
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace ascii
