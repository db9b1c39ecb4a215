#include "foundation/ip_address.h"

#include <charconv>
#include <cstdio>
#include <vector>
#include "foundation/ascii_text.h"

namespace {

bool ParseDecimal(std::string_view text, int max, int& value) {
  if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value <= max;
}

bool ParseIpv4(std::string_view text, std::uint8_t* out) {
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = text.find('.');
    if ((part < 3) == (dot == std::string_view::npos)) return false;
    int value = 0;
    if (!ParseDecimal(text.substr(0, dot), 255, value)) return false;
    out[part] = static_cast<std::uint8_t>(value);
    text = part < 3 ? text.substr(dot + 1) : std::string_view();
  }
  return true;
}

bool ParseGroup(std::string_view text, std::uint16_t& group) {
  if (text.empty() || text.size() > 4) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), group, 16);
  return error == std::errc() && end == text.data() + text.size();
}

// The 16-bit groups of one side of "::" (an IPv4 tail counts as two).
bool ParseGroups(std::string_view text, std::vector<std::uint16_t>& groups, bool tail_allowed) {
  if (text.empty()) return true;
  for (;;) {
    std::size_t colon = text.find(':');
    std::string_view piece = text.substr(0, colon);
    if (colon == std::string_view::npos && tail_allowed && piece.find('.') != piece.npos) {
      std::uint8_t v4[4];
      if (!ParseIpv4(piece, v4)) return false;
      groups.push_back(static_cast<std::uint16_t>(v4[0] << 8 | v4[1]));
      groups.push_back(static_cast<std::uint16_t>(v4[2] << 8 | v4[3]));
      return true;
    }
    std::uint16_t group = 0;
    if (!ParseGroup(piece, group)) return false;
    groups.push_back(group);
    if (colon == std::string_view::npos) return true;
    text = text.substr(colon + 1);
  }
}

bool ParseIpv6(std::string_view text, std::uint8_t* out) {
  std::vector<std::uint16_t> head, tail;
  std::size_t gap = text.find("::");
  bool ok = gap == std::string_view::npos ? ParseGroups(text, head, true) && head.size() == 8
                                          : text.find("::", gap + 1) == std::string_view::npos &&
                                                ParseGroups(text.substr(0, gap), head, false) &&
                                                ParseGroups(text.substr(gap + 2), tail, true) &&
                                                head.size() + tail.size() <= 7;
  if (!ok) return false;
  std::vector<std::uint16_t> groups = head;
  groups.resize(8 - tail.size(), 0);
  groups.insert(groups.end(), tail.begin(), tail.end());
  for (int i = 0; i < 8; ++i) {
    out[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
    out[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
  }
  return true;
}

bool IsMappedIpv4(const IpAddress& a) {
  if (!a.v6) return false;
  for (int i = 0; i < 10; ++i) {
    if (a.bytes[i] != 0) return false;
  }
  return a.bytes[10] == 0xFF && a.bytes[11] == 0xFF;
}

}  // namespace

bool ParseIpAddress(std::string_view text, IpAddress& address) {
  IpAddress parsed;
  parsed.v6 = text.find(':') != std::string_view::npos;
  if (!(parsed.v6 ? ParseIpv6(text, parsed.bytes.data()) : ParseIpv4(text, parsed.bytes.data()))) {
    return false;
  }
  address = parsed;
  return true;
}

std::string FormatIpAddress(const IpAddress& a) {
  char text[64];
  if (!a.v6) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a.bytes[0], a.bytes[1], a.bytes[2], a.bytes[3]);
    return text;
  }
  std::uint16_t groups[8];
  for (int i = 0; i < 8; ++i)
    groups[i] = static_cast<std::uint16_t>(a.bytes[2 * i] << 8 | a.bytes[2 * i + 1]);
  int best = -1, best_length = 1;  // a single zero group is not shortened
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > best_length) best = i, best_length = j - i;
    i = j == i ? i + 1 : j;
  }
  std::string out;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      out += "::";
      i += best_length - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    std::snprintf(text, sizeof text, "%x", groups[i]);
    out += text;
  }
  return out;
}

IpAddress Unmapped(const IpAddress& address) {
  if (!IsMappedIpv4(address)) return address;
  IpAddress v4;
  for (int i = 0; i < 4; ++i) v4.bytes[i] = address.bytes[12 + i];
  return v4;
}

bool ParseIpRange(std::string_view text, IpRange& range) {
  text = ascii::Trim(text, ascii::kBlanks);
  std::size_t slash = text.find('/');
  IpRange parsed;
  if (!ParseIpAddress(text.substr(0, slash), parsed.base)) return false;
  const int max_bits = parsed.base.v6 ? 128 : 32;
  parsed.prefix_bits = max_bits;
  if (slash != std::string_view::npos &&
      !ParseDecimal(text.substr(slash + 1), max_bits, parsed.prefix_bits)) {
    return false;
  }
  range = parsed;
  return true;
}

bool InRange(const IpAddress& client, const IpRange& range) {
  const IpAddress address = Unmapped(client);
  if (address.v6 != range.base.v6) return false;
  int bits = range.prefix_bits;
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const std::uint8_t mask = bits >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - bits));
    if ((address.bytes[i] & mask) != (range.base.bytes[i] & mask)) return false;
  }
  return true;
}
