#include "agent/settings_guard.h"

#include <cctype>
#include "foundation/ascii_text.h"

namespace {

// "host:port" with the port made explicit (the scheme's default when
// absent), in lower case. An IPv6 literal keeps its brackets: "[::1]:8167".
std::string Authority(std::string_view authority, const char* default_port) {
  std::string text = ascii::Lower(ascii::Trim(authority));
  const std::size_t bracket = text.rfind(']');
  const std::size_t colon = text.rfind(':');
  const bool has_port =
      colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
  if (!has_port) return text + ":" + default_port;
  if (colon + 1 == text.size()) return text + default_port;  // "host:": the default port
  return text;
}

// The authority of a "SCHEME://host[:port]/..." URL, or nothing for another
// scheme or shape.
bool UrlAuthority(std::string_view url, std::string_view scheme, const char* default_port,
                  std::string& authority) {
  url = ascii::Trim(url);
  if (url.size() <= scheme.size() || ascii::Lower(url.substr(0, scheme.size())) != scheme)
    return false;
  url.remove_prefix(scheme.size());
  const std::size_t end = url.find_first_of("/?#");
  std::string_view host = url.substr(0, end);
  if (host.empty() || host.find('@') != std::string_view::npos) return false;
  authority = Authority(host, default_port);
  return true;
}

}  // namespace

SettingsPolicy ParseSettingsFrom(std::string_view text) {
  SettingsPolicy policy;
  const std::string word = ascii::Lower(ascii::Trim(text));
  if (word.empty() || word == "any") return policy;
  policy.everyone = false;
  if (word == "none") return policy;
  if (word == "local") {
    IpRange loopback4, loopback6;
    ParseIpRange("127.0.0.0/8", loopback4);
    ParseIpRange("::1", loopback6);
    policy.allowed = {loopback4, loopback6};
    return policy;
  }
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string_view entry = ascii::Trim(text.substr(start, comma - start));
    IpRange range;
    if (ParseIpRange(entry, range)) {
      policy.allowed.push_back(range);
    } else if (!entry.empty()) {
      policy.malformed.emplace_back(entry);
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return policy;
}

bool PolicyAllows(const SettingsPolicy& policy, const IpAddress& client) {
  if (policy.everyone) return true;
  for (const IpRange& range : policy.allowed) {
    if (InRange(client, range)) return true;
  }
  return false;
}

bool SameOrigin(const RequestOrigin& request) {
  const std::string& source = !request.origin.empty() ? request.origin : request.referer;
  if (source.empty()) return true;
  // The agent's own page has the scheme the agent speaks.
  const char* scheme = request.tls ? "https://" : "http://";
  const char* default_port = request.tls ? "443" : "80";
  std::string authority;
  if (!UrlAuthority(source, scheme, default_port, authority)) return false;
  return !ascii::Trim(request.host).empty() && authority == Authority(request.host, default_port);
}

std::vector<std::string> ParseAllowedHosts(std::string_view text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(", \t", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) names.push_back(ascii::Lower(text.substr(start, end - start)));
    start = end + 1;
  }
  return names;
}

bool HostNamesThisMachine(std::string_view host, const std::vector<std::string>& own_names) {
  std::string name = ascii::Lower(ascii::Trim(host));
  if (!name.empty() && name.front() == '[') {
    const std::size_t close = name.find(']');
    if (close == std::string::npos) return false;
    const std::string_view rest = std::string_view(name).substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    IpAddress address;
    return ParseIpAddress(std::string_view(name).substr(1, close - 1), address) && address.v6;
  }
  name = name.substr(0, name.find(':'));
  if (!name.empty() && name.back() == '.') name.pop_back();  // a fully qualified "name."
  if (name.empty()) return false;
  IpAddress address;
  if (ParseIpAddress(name, address) && !address.v6) return true;
  if (name == "localhost") return true;
  for (const std::string& own : own_names) {
    if (!own.empty() && ascii::Lower(own) == name) return true;
  }
  return false;
}

bool SettingsActionAllowed(const SettingsPolicy& policy, const IpAddress& client,
                           const RequestOrigin& request,
                           const std::vector<std::string>& own_names) {
  if (policy.everyone) return true;
  return request.post && PolicyAllows(policy, client) && SameOrigin(request) &&
         HostNamesThisMachine(request.host, own_names);
}
