// The kiosk's lock-down in one place: which URLs a page may reach or have
// handed on, how often a page may start an outside program, which script
// dialogs are shown and which window requests a page may make. Pure rules:
// the engine adapter asks them and carries out the answer.
#pragma once

#include <chrono>
#include <deque>
#include <string>

class Config;

namespace vkx {

// True for URLs that belong to the desktop's VMware Horizon client.
bool IsExternalProtocolUrl(const std::string& url);

enum class UrlVerdict {
  Allow,     // load it, or hand it on
  Refuse,    // "URL not allowed: " and the URL; the page stays as it is
  External,  // the desktop's opener, within ExternalLaunchRate
};

// The one rule for every URL the kiosk loads, launches or hands on because
// a page asked: navigations, frames, redirect hops, new windows, launch
// files, retries. A page reaches http: and https: URLs (those of
// `allowList` when it is not empty) and about:blank; any other scheme only
// where an allow-list entry names that scheme. The configured `startUrl`
// is always loaded, whatever its scheme.
UrlVerdict JudgeUrl(const std::string& url, const std::string& allowList,
                    const std::string& startUrl);
// The same under the configuration's urlAllowList and url.
UrlVerdict JudgeUrl(const std::string& url, const Config& config);

// At most `most` events in any `window`: the events past that are refused
// (and do not count).
class RateLimit {
 public:
  using Clock = std::chrono::steady_clock;
  RateLimit(size_t most, Clock::duration window) : most_(most), window_(window) {}
  bool Allow(Clock::time_point now);

 private:
  size_t most_;
  Clock::duration window_;
  std::deque<Clock::time_point> recent_;
};

// vmware-view:// hand-offs: a person's click, a redirect after it and one
// more still go through; a page's timer does not start dozens.
inline RateLimit ExternalLaunchRate() { return RateLimit(3, std::chrono::seconds(10)); }

// Script dialogs (alert, confirm, prompt) of one page: a page that opens
// more than a few in a short time has the rest of its dialogs answered at
// once without showing, until another page loads.
class DialogGuard {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kShownAtMost = 3;
  static constexpr std::chrono::seconds kWithin{30};

  enum class Verdict { Show, Answer, AnswerFirst };
  // Answer: answered at once; AnswerFirst: the same, and the first such of
  // this page (worth one line).
  Verdict Judge(Clock::time_point now);
  void NewPage();

 private:
  RateLimit shown_{kShownAtMost, kWithin};
  bool silenced_ = false;
};

// What a page may ask of the kiosk's one window.
enum class WindowRequest {
  Close,       // window.close(): never; the kiosk ends only as configured
  Fullscreen,  // the HTML full-screen API: the window follows
};
bool PageMay(WindowRequest request);

}  // namespace vkx
