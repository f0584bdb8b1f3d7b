#include "cookies/cookie_file.h"

#include "config/read_file.h"
#include "log/log.h"

#include <cctype>
#include <cstdint>
#include <limits>
#include <string_view>

namespace vkx {

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kEpochDeltaMicros = engine::kEpochDeltaSeconds * kMicrosPerSecond;

// Whole seconds since 1970, as an unsigned decimal after optional white space.
bool ParseExpiry(const std::string& field, engine::Cookie& cookie, std::string* reason) {
  size_t i = 0;
  while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
  if (i == field.size() || !std::isdigit(static_cast<unsigned char>(field[i]))) {
    if (reason) *reason = "expiry is not a number";
    return false;
  }
  constexpr uint64_t kMaxSeconds =
      (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - kEpochDeltaMicros) /
      kMicrosPerSecond;
  uint64_t seconds = 0;
  for (; i < field.size() && std::isdigit(static_cast<unsigned char>(field[i])); ++i) {
    seconds = seconds * 10 + static_cast<uint64_t>(field[i] - '0');
    if (seconds > kMaxSeconds) {
      if (reason) *reason = "expiry is out of range";
      return false;
    }
  }
  cookie.has_expires = seconds != 0;
  cookie.expires = seconds == 0 ? 0 : static_cast<int64_t>(seconds) * kMicrosPerSecond + kEpochDeltaMicros;
  return true;
}

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

}  // namespace

bool IsCommentLine(const std::string& line) {
  return line.empty() || (line[0] == '#' && line.rfind(kHttpOnlyPrefix, 0) != 0);
}

std::optional<engine::Cookie> ParseCookieLine(const std::string& line, std::string* reason) {
  std::vector<std::string> fields;
  const bool httponly = line.rfind(kHttpOnlyPrefix, 0) == 0;
  size_t start = httponly ? kHttpOnlyPrefix.size() : 0;
  while (fields.size() < 7 && start <= line.size()) {
    size_t tab = line.find('\t', start);
    if (tab == std::string::npos) tab = line.size();
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  // A NUL would cut the cookie short on its way into the store.
  if (line.find('\0') != std::string::npos) {
    if (reason) *reason = "holds a NUL byte";
    return std::nullopt;
  }
  // The value may be missing (an empty value); the name may not.
  if (fields.size() < 6) {
    if (reason) *reason = "too few fields";
    return std::nullopt;
  }
  fields.resize(7);
  engine::Cookie cookie;
  cookie.domain = fields[0];
  cookie.path = fields[2];
  cookie.secure = fields[3] == "TRUE";
  cookie.name = fields[5];
  cookie.value = fields[6];
  cookie.httponly = httponly;
  if (!ParseExpiry(fields[4], cookie, reason)) return std::nullopt;
  return cookie;
}

std::vector<engine::Cookie> ReadCookieFile(const std::string& path) {
  std::vector<engine::Cookie> cookies;
  std::string content;
  if (!ReadRegularFile(path, content)) return cookies;
  // A broken file is reported, but not line by line at every navigation.
  constexpr int kReportedLines = 5;
  int number = 0;
  int skipped = 0;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(start, end - start);
    start = end + 1;
    ++number;
    if (IsCommentLine(line)) continue;
    std::string reason;
    if (auto cookie = ParseCookieLine(line, &reason)) {
      cookies.push_back(std::move(*cookie));
    } else if (++skipped <= kReportedLines) {
      LogError("Skipping cookie file line " + std::to_string(number) + " of " + path + ": " + reason);
    }
  }
  if (skipped > kReportedLines) {
    LogError("Skipping " + std::to_string(skipped - kReportedLines) + " more cookie file lines of " +
             path);
  }
  return cookies;
}

std::string FormatCookieLine(const engine::Cookie& cookie) {
  const bool domainCookie = !cookie.domain.empty() && cookie.domain[0] == '.';
  std::string expiry = "0";
  if (cookie.has_expires) {
    expiry = std::to_string((static_cast<uint64_t>(cookie.expires) -
                             static_cast<uint64_t>(kEpochDeltaMicros)) /
                            static_cast<uint64_t>(kMicrosPerSecond));
  }
  std::string line;
  line += cookie.domain + '\t';
  line += std::string(domainCookie ? "TRUE" : "FALSE") + '\t';
  line += cookie.path + '\t';
  line += std::string(cookie.secure ? "TRUE" : "FALSE") + '\t';
  line += expiry + '\t';
  line += cookie.name + '\t';
  line += cookie.value + '\t';
  line += '\n';
  return line;
}

int64_t UnixSeconds(int64_t expires) {
  return static_cast<int64_t>((static_cast<uint64_t>(expires) - static_cast<uint64_t>(kEpochDeltaMicros)) /
                              static_cast<uint64_t>(kMicrosPerSecond));
}

std::string HostFromUrl(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t slash = url.find('/', start);
  std::string host = url.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
  const size_t colon = host.find(':');
  if (colon != std::string::npos) host.resize(colon);
  return host;
}

std::vector<std::string> SplitCookieFilter(const std::string& filter) {
  std::vector<std::string> names;
  if (filter.empty()) return names;
  size_t start = 0;
  for (;;) {
    const size_t comma = filter.find(',', start);
    if (comma == std::string::npos) {
      if (start < filter.size()) names.push_back(filter.substr(start));
      break;
    }
    names.push_back(filter.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

bool IsFiltered(const std::string& name, const std::vector<std::string>& filter) {
  for (const std::string& entry : filter) {
    if (entry == name) return true;
  }
  return false;
}

CookieFit FitCookieToHost(const std::string& domain, const std::string& host) {
  if (domain == host) return CookieFit::HostOnly;
  if (!domain.empty() && domain[0] == '.' && engine::CookieDomainMatches(host, domain)) {
    return CookieFit::Domain;
  }
  return CookieFit::Mismatch;
}

}  // namespace vkx
