// Which URLs the kiosk may show: the configuration's allow-list. Hosts are
// compared as parsed URLs (lower case, IDN in ASCII, no trailing dot, no
// user information), never as text, so that "portal.test@evil.test" or
// "portal.test.evil.test" never pass for "portal.test".
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vkx {

struct AllowEntry {
  std::string scheme;     // empty: any
  std::string host;       // without "*."; empty for a host-less scheme (file:)
  bool subdomains = false;  // "*.domain": the domain and every subdomain
  int port = -1;          // -1: any
  std::string path;       // a prefix of the URL's path; empty: any
};

// The entries of a comma-separated list; blanks around an entry are
// ignored, and so are entries that cannot be read.
std::vector<AllowEntry> ParseAllowList(const std::string& list);

// Whether `url` matches an entry. A URL that cannot be parsed, or has no
// host, matches none.
bool UrlAllowed(const std::string& url, const std::vector<AllowEntry>& entries);

}  // namespace vkx
