// The cookie file: seven tab-separated fields per cookie (domain, subdomain
// flag, path, secure, expiry in seconds since 1970, name, value), as curl's
// and wget's cookie jars write them. A line of an HttpOnly cookie may begin
// with "#HttpOnly_" before the domain, as curl and wget write it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/types.h"

namespace vkx {

// Empty lines and comments (# but not #HttpOnly_).
bool IsCommentLine(const std::string& line);

// One line as a cookie; nullopt (with the reason) for a line that cannot be
// converted: too few fields, or an expiry that is not a number or is out of range.
std::optional<engine::Cookie> ParseCookieLine(const std::string& line, std::string* reason = nullptr);

// The cookies of the file in file order; comments and empty lines are
// skipped, and so is, with one line on standard error, a line that cannot be
// converted. A missing or unreadable file gives none.
std::vector<engine::Cookie> ReadCookieFile(const std::string& path);

// The line for a cookie, ending in a tab and a line feed.
std::string FormatCookieLine(const engine::Cookie& cookie);

// An engine expiry (microseconds since 1601) in whole seconds since 1970.
int64_t UnixSeconds(int64_t expires);

// The host of a URL: after "://", up to the next "/", without a port.
std::string HostFromUrl(const std::string& url);

// The cookie filter: names split at every comma, nothing trimmed; a trailing
// comma adds nothing.
std::vector<std::string> SplitCookieFilter(const std::string& filter);
bool IsFiltered(const std::string& name, const std::vector<std::string>& filter);

enum class CookieFit { HostOnly, Domain, Mismatch };
// Whether a cookie from the file belongs to `host`: its domain equals the
// host (set as host-only), or it is a domain cookie whose domain the host is
// or lies below (engine::CookieDomainMatches, as the engine takes it).
CookieFit FitCookieToHost(const std::string& domain, const std::string& host);

}  // namespace vkx
