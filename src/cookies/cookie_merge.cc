#include "cookies/cookie_merge.h"

#include <algorithm>
#include <cctype>

#include "cookies/cookie_file.h"

namespace vkx {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Whether a line of the previous file goes into the new one.
bool KeepLine(const std::string& line, const CookieKeys& store, const CookieKeys& known,
              const CookieKeys& file_wins, int64_t now) {
  if (IsCommentLine(line)) return true;
  const auto cookie = ParseCookieLine(line);
  if (!cookie) return true;  // nothing a person wrote disappears
  const CookieKey key = KeyOf(*cookie);
  if ((store.contains(key) || known.contains(key)) && !file_wins.contains(key)) return false;
  return !cookie->has_expires || UnixSeconds(cookie->expires) > now;
}

// The cookies whose line in the file another program changed since `base`
// and that keep the file's line: the store's own `ours` line (none: the
// store does not hold it) is the same as the base's, or older than the file.
CookieKeys FileWins(const CookieLines& file, const CookieLines& base, const CookieLines& ours,
                    const CookieKeys& known, bool file_is_newer) {
  CookieKeys wins;
  for (const auto& [key, line] : file) {
    const auto mine = ours.find(key);
    if (mine == ours.end() && !known.contains(key)) continue;  // not the store's concern
    const auto seen = base.find(key);
    if (seen != base.end() && seen->second == line) continue;  // the file did not change it
    const bool store_changed =
        seen == base.end() || mine == ours.end() || mine->second != seen->second;
    if (!store_changed || file_is_newer) wins.insert(key);
  }
  return wins;
}

}  // namespace

CookieKey KeyOf(const engine::Cookie& cookie) {
  return {Lower(cookie.domain), cookie.path, cookie.name};
}

CookieLines CookieLinesOf(const std::vector<engine::Cookie>& cookies) {
  CookieLines lines;
  for (const engine::Cookie& cookie : cookies) lines.emplace(KeyOf(cookie), FormatCookieLine(cookie));
  return lines;
}

CookieLines CookieLinesOf(const std::string& content) {
  std::vector<engine::Cookie> cookies;
  for (const std::string& line : SplitLines(content)) {
    if (IsCommentLine(line)) continue;
    if (auto cookie = ParseCookieLine(line)) cookies.push_back(*cookie);
  }
  return CookieLinesOf(cookies);
}

std::string MergeCookieFile(std::vector<engine::Cookie> store,
                            const std::vector<std::string>& filter, const std::string& previous,
                            const CookieKeys& known, int64_t now, const CookieLines& base,
                            bool file_is_newer) {
  std::erase_if(store, [&](const engine::Cookie& c) { return IsFiltered(c.name, filter); });
  const CookieKeys file_wins =
      FileWins(CookieLinesOf(previous), base, CookieLinesOf(store), known, file_is_newer);
  std::erase_if(store, [&](const engine::Cookie& c) { return file_wins.contains(KeyOf(c)); });
  std::sort(store.begin(), store.end(), [](const engine::Cookie& a, const engine::Cookie& b) {
    return KeyOf(a) < KeyOf(b);
  });
  CookieKeys held;
  std::string content;
  for (const engine::Cookie& cookie : store) {
    held.insert(KeyOf(cookie));
    content += FormatCookieLine(cookie);
  }
  for (const std::string& line : SplitLines(previous)) {
    if (KeepLine(line, held, known, file_wins, now)) content += line + '\n';
  }
  return content;
}

bool SameLines(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  std::vector<std::string> left = SplitLines(a);
  std::vector<std::string> right = SplitLines(b);
  std::sort(left.begin(), left.end());
  std::sort(right.begin(), right.end());
  return left == right;
}

}  // namespace vkx
