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
              int64_t now) {
  if (IsCommentLine(line)) return true;
  const auto cookie = ParseCookieLine(line);
  if (!cookie) return true;  // nothing a person wrote disappears
  const CookieKey key = KeyOf(*cookie);
  if (store.contains(key) || known.contains(key)) return false;
  return !cookie->has_expires || UnixSeconds(cookie->expires) > now;
}

}  // namespace

CookieKey KeyOf(const engine::Cookie& cookie) {
  return {Lower(cookie.domain), cookie.path, cookie.name};
}

std::string MergeCookieFile(std::vector<engine::Cookie> store,
                            const std::vector<std::string>& filter, const std::string& previous,
                            const CookieKeys& known, int64_t now) {
  std::erase_if(store, [&](const engine::Cookie& c) { return IsFiltered(c.name, filter); });
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
    if (KeepLine(line, held, known, now)) content += line + '\n';
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
