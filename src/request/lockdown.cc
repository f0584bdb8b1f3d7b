#include "request/lockdown.h"

#include <glib.h>

#include <algorithm>
#include <cctype>

#include "config/config.h"
#include "request/allow_list.h"

namespace vkx {

namespace {

// The URL's scheme in lower case; empty when it has none.
std::string SchemeOf(const std::string& url) {
  const char* scheme = g_uri_peek_scheme(url.c_str());  // interned, lower case
  return scheme != nullptr ? scheme : "";
}

}  // namespace

bool IsExternalProtocolUrl(const std::string& url) { return url.rfind("vmware-view://", 0) == 0; }

UrlVerdict JudgeUrl(const std::string& url, const std::string& allowList,
                    const std::string& startUrl) {
  if (IsExternalProtocolUrl(url)) return UrlVerdict::External;
  if (url == startUrl) return UrlVerdict::Allow;
  // Empty frames reach nothing.
  if (url == "about:blank" || url == "about:srcdoc") return UrlVerdict::Allow;
  const std::string scheme = SchemeOf(url);
  if (scheme.empty()) return UrlVerdict::Refuse;
  const bool web = scheme == "http" || scheme == "https";
  if (web && allowList.empty()) return UrlVerdict::Allow;
  std::vector<AllowEntry> entries = ParseAllowList(allowList);
  if (!web) {
    // Local files, the engine's own pages, other programs' schemes: only
    // where the administrator named the scheme.
    std::erase_if(entries, [&](const AllowEntry& entry) { return entry.scheme != scheme; });
  }
  return UrlAllowed(url, entries) ? UrlVerdict::Allow : UrlVerdict::Refuse;
}

UrlVerdict JudgeUrl(const std::string& url, const Config& config) {
  return JudgeUrl(url, config.GetUrlAllowList(), config.GetUrl());
}

bool RateLimit::Allow(Clock::time_point now) {
  while (!recent_.empty() && now - recent_.front() >= window_) recent_.pop_front();
  if (recent_.size() >= most_) return false;
  recent_.push_back(now);
  return true;
}

DialogGuard::Verdict DialogGuard::Judge(Clock::time_point now) {
  if (silenced_) return Verdict::Answer;
  if (shown_.Allow(now)) return Verdict::Show;
  silenced_ = true;
  return Verdict::AnswerFirst;
}

void DialogGuard::NewPage() {
  shown_ = RateLimit(kShownAtMost, kWithin);
  silenced_ = false;
}

bool PageMay(WindowRequest request) {
  switch (request) {
    case WindowRequest::Close: return false;
    case WindowRequest::Fullscreen: return true;
  }
  return false;
}

}  // namespace vkx
