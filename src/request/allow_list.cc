#include "request/allow_list.h"

#include <glib.h>

#include <cctype>
#include <cstdlib>

namespace vkx {

namespace {

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// Lower case, IDN in ASCII, without a trailing dot; empty when it is no host.
std::string CanonicalHost(const std::string& host) {
  if (host.empty()) return {};
  g_autofree gchar* ascii = g_hostname_to_ascii(host.c_str());
  if (ascii == nullptr) return {};
  std::string canonical = ascii;
  for (char& c : canonical) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!canonical.empty() && canonical.back() == '.') canonical.pop_back();
  return canonical;
}

int DefaultPort(const std::string& scheme) {
  if (scheme == "https" || scheme == "wss") return 443;
  if (scheme == "http" || scheme == "ws") return 80;
  return -1;
}

std::optional<AllowEntry> ParseEntry(const std::string& text) {
  AllowEntry entry;
  std::string rest = text;
  const size_t scheme_end = rest.find("://");
  if (scheme_end != std::string::npos) {
    entry.scheme = rest.substr(0, scheme_end);
    for (char& c : entry.scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    rest = rest.substr(scheme_end + 3);
  }
  const size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    entry.path = rest.substr(slash);
    rest = rest.substr(0, slash);
  }
  // "file:///srv/kiosk/": a scheme named with no host, for URLs without one.
  if (rest.empty() && !entry.scheme.empty() && !entry.path.empty()) return entry;
  const size_t colon = rest.rfind(':');
  if (colon != std::string::npos) {
    char* end = nullptr;
    const long port = std::strtol(rest.c_str() + colon + 1, &end, 10);
    if (end == rest.c_str() + colon + 1 || *end != '\0' || port <= 0 || port > 65535) return std::nullopt;
    entry.port = static_cast<int>(port);
    rest = rest.substr(0, colon);
  }
  if (rest.rfind("*.", 0) == 0) {
    entry.subdomains = true;
    rest = rest.substr(2);
  }
  entry.host = CanonicalHost(rest);
  if (entry.host.empty() || entry.host.find_first_of("*@") != std::string::npos) return std::nullopt;
  return entry;
}

// "..", also percent-encoded, as a whole segment of the path.
bool HasDotDotSegment(const std::string& path) {
  g_autofree gchar* decoded = g_uri_unescape_string(path.c_str(), nullptr);
  const std::string text = decoded != nullptr ? decoded : path;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  // An undecodable path (an encoded NUL) is taken as climbing too.
  return decoded == nullptr;
}

}  // namespace

std::vector<AllowEntry> ParseAllowList(const std::string& list) {
  std::vector<AllowEntry> entries;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string text = Trim(list.substr(start, comma - start));
    if (!text.empty()) {
      if (auto entry = ParseEntry(text)) entries.push_back(std::move(*entry));
    }
    start = comma + 1;
  }
  return entries;
}

bool UrlAllowed(const std::string& url, const std::vector<AllowEntry>& entries) {
  g_autoptr(GUri) uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (uri == nullptr || g_uri_get_host(uri) == nullptr) return false;
  const std::string scheme = g_uri_get_scheme(uri);
  const bool hostless = *g_uri_get_host(uri) == '\0';
  const std::string host = CanonicalHost(g_uri_get_host(uri));
  if (host.empty() && !hostless) return false;
  const int port = g_uri_get_port(uri) != -1 ? g_uri_get_port(uri) : DefaultPort(scheme);
  const std::string path = g_uri_get_path(uri);
  // A path prefix is no fence for a path that climbs out of it.
  const bool climbs = HasDotDotSegment(path);
  const auto path_matches = [&](const AllowEntry& entry) {
    return entry.path.empty() || (!climbs && path.rfind(entry.path, 0) == 0);
  };
  for (const AllowEntry& entry : entries) {
    if (!entry.scheme.empty() && entry.scheme != scheme) continue;
    // Host-less entries (file:) match host-less URLs only, and the other way round.
    if (hostless || entry.host.empty()) {
      if (hostless && entry.host.empty() && path_matches(entry)) return true;
      continue;
    }
    const bool host_matches =
        host == entry.host ||
        (entry.subdomains && host.size() > entry.host.size() &&
         host.compare(host.size() - entry.host.size(), entry.host.size(), entry.host) == 0 &&
         host[host.size() - entry.host.size() - 1] == '.');
    if (!host_matches) continue;
    if (entry.port != -1 && entry.port != port) continue;
    if (!path_matches(entry)) continue;
    return true;
  }
  return false;
}

}  // namespace vkx
