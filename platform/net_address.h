#pragma once
// An IPv4 or IPv6 address as the socket layer hands it over: the bytes in
// network order (an IPv4 address in the first four). Portable; parsing and
// matching live in foundation/ip_address.h.
#include <array>
#include <cstdint>

namespace platform {

struct IpAddress {
  bool v6 = false;
  std::array<std::uint8_t, 16> bytes{};

  bool operator==(const IpAddress&) const = default;
};

}  // namespace platform
