#pragma once
// IP address literals and ranges: parsing, printing and matching, the same on
// every system (no resolver, no locale). IPv4 is dotted decimal with four
// parts of 0 to 255 and no leading zeros (so "010" never means eight); IPv6
// is RFC 4291 text with "::" and an optional dotted IPv4 tail. No zone ids,
// no brackets.
#include <string>
#include <string_view>

#include "platform/net_address.h"

using platform::IpAddress;

bool ParseIpAddress(std::string_view text, IpAddress& address);
// Dotted decimal, or RFC 5952 IPv6 text (lower case, longest zero run as "::").
std::string FormatIpAddress(const IpAddress& address);

// An IPv4 client seen through a dual-stack socket (::ffff:a.b.c.d) as the
// IPv4 address it is; any other address as it is.
IpAddress Unmapped(const IpAddress& address);

// An address and how many leading bits of it count.
struct IpRange {
  IpAddress base;
  int prefix_bits = 0;
};

// "a.b.c.d", "a.b.c.d/n" (n 0 to 32), an IPv6 literal, or "x::/n" (n 0 to
// 128). Blanks around the text are ignored.
bool ParseIpRange(std::string_view text, IpRange& range);
// IPv4 ranges hold IPv4 clients only, IPv6 ranges IPv6 clients only; the
// client is unmapped first.
bool InRange(const IpAddress& client, const IpRange& range);
