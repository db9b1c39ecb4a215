#pragma once
// Who may carry out a settings action (a request with a non-empty "port"):
// the SettingsFrom setting, and the cross-site guard that comes with it.
//
// SettingsFrom: "any" (also missing or empty: everyone, with no guard),
// "none", "local" (127.0.0.0/8 and ::1), or a comma-separated list of
// addresses and CIDR ranges. A malformed entry matches nobody (it is
// reported, never read as something wider).
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ip_address.h"

struct SettingsPolicy {
  bool everyone = true;          // "any": the specified behaviour
  std::vector<IpRange> allowed;  // empty and !everyone: nobody
  std::vector<std::string> malformed;
};

SettingsPolicy ParseSettingsFrom(std::string_view text);
bool PolicyAllows(const SettingsPolicy& policy, const IpAddress& client);

// The headers the guard reads; empty when the request had none.
struct RequestOrigin {
  bool post = false;
  std::string origin;   // the Origin header
  std::string referer;  // the Referer header
  std::string host;     // the Host header
  bool tls = false;     // the agent speaks HTTPS: its page's origin is https://
};

// A browser's request comes from the agent's own page when its Origin (or,
// without one, its Referer) is "http://" (with TLS, "https://") followed by
// the request's Host: scheme and host in any letter case, port 80 (443)
// when none is given. A request
// with neither header (a command-line client) passes; "Origin: null" does not.
bool SameOrigin(const RequestOrigin& request);

// Whether a Host header (port, if any, ignored) names this machine: a literal
// IPv4 address, a literal IPv6 address in brackets, "localhost", or one of
// `own_names` (the machine's host name and the AllowedHosts entries), letter
// case ignored. A name someone else chose, and re-pointed at this machine
// (DNS rebinding), is none of these.
bool HostNamesThisMachine(std::string_view host, const std::vector<std::string>& own_names);

// "AllowedHosts": host names separated by commas or blanks.
std::vector<std::string> ParseAllowedHosts(std::string_view text);

// A settings action under a policy other than "any": by POST, from an
// allowed client, from the agent's own page, and to a Host that names this
// machine.
bool SettingsActionAllowed(const SettingsPolicy& policy, const IpAddress& client,
                           const RequestOrigin& request,
                           const std::vector<std::string>& own_names = {});
