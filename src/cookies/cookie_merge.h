// How a save combines the store's cookies with the cookie file it replaces,
// so that a save never loses what this run could not know about.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/types.h"

namespace vkx {

// A cookie's identity: domain (lower case), path and name.
struct CookieKey {
  std::string domain;
  std::string path;
  std::string name;
  auto operator<=>(const CookieKey&) const = default;
};
CookieKey KeyOf(const engine::Cookie& cookie);
using CookieKeys = std::set<CookieKey>;

// Each cookie line of a file by its cookie's key (the first of a key), as
// FormatCookieLine writes it.
using CookieLines = std::map<CookieKey, std::string>;
CookieLines CookieLinesOf(const std::string& content);
CookieLines CookieLinesOf(const std::vector<engine::Cookie>& cookies);

// The new content of the cookie file: the store's cookies less the filtered
// names (sorted, one line each), then every line of `previous` that still
// stands: comments, empty lines and lines that cannot be read, as they are
// and in their order, and cookie lines whose cookie the store does not hold,
// that this run does not know (`known`: injected into the store or seen in
// it; such a cookie's fate is the store's), and whose expiry, if any, is
// after `now` (seconds since 1970).
//
// The file is shared with other programs: a cookie line of `previous` that
// differs from `base` (the file as this run last read or wrote it) was
// changed by another program, and it stands instead of the store's cookie
// (or the store's lack of it), unless the store changed that cookie too
// and the file did not change after the store (`file_is_newer`).
std::string MergeCookieFile(std::vector<engine::Cookie> store,
                            const std::vector<std::string>& filter, const std::string& previous,
                            const CookieKeys& known, int64_t now, const CookieLines& base = {},
                            bool file_is_newer = false);

// Whether two files hold the same lines, in whatever order: a save that
// only reorders them need not be written.
bool SameLines(const std::string& a, const std::string& b);

}  // namespace vkx
