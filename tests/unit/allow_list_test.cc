#include "request/allow_list.h"
#include "request/lockdown.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

bool Allowed(const std::string& url, const std::string& list) {
  return vkx::UrlAllowed(url, vkx::ParseAllowList(list));
}

TEST(AllowList, HostsAreComparedAsParsedUrlsNeverAsText) {
  const std::string list = " portal.example.com , *.intra.test:8443,http://plain.test/app/ ,:99,*";
  for (const char* url : {"https://portal.example.com/", "http://PORTAL.Example.COM./x?y",
                          "https://user:pw@portal.example.com/login", "https://intra.test:8443/",
                          "https://a.b.intra.test:8443/p", "http://plain.test/app/page"}) {
    EXPECT_TRUE(Allowed(url, list)) << url;
  }
  for (const char* url : {"https://portal.example.com@evil.test/", "https://portal.example.com.evil.test/",
                          "https://evilportal.example.com/", "https://intra.test/", "https://xintra.test:8443/",
                          "https://plain.test/app/", "http://plain.test/other", "not a url", "file:///etc/passwd",
                          "data:text/html,hi"}) {
    EXPECT_FALSE(Allowed(url, list)) << url;
  }
  // IDN hosts match in their ASCII form, either way round.
  EXPECT_TRUE(Allowed("https://xn--bcher-kva.test/", "bücher.test"));
  EXPECT_TRUE(Allowed("https://bücher.test/", "xn--bcher-kva.test"));
}

// The one rule for every URL a page asks for: what it may reach, with and
// without an allow-list, and what only the administrator may name.
TEST(Lockdown, EveryUrlAPageAsksForPassesOneRule) {
  using vkx::UrlVerdict;
  constexpr auto A = UrlVerdict::Allow, R = UrlVerdict::Refuse, X = UrlVerdict::External;
  const std::string start = "https://start.test/";
  const std::string files = "https://portal.test, file:///srv/kiosk/, view-source://x.test";
  struct Case {
    const char* url;
    std::string list;
    UrlVerdict verdict;
  } cases[] = {
      {"https://anything.test/", "", A},
      {"http://anything.test:8080/x", "", A},
      {"about:blank", "other.test", A},
      {"https://start.test/", "other.test", A},
      {"https://start.test/x", "other.test", R},
      {"https://other.test/", " , *", R},  // nothing readable: only the start page
      {"vmware-view://broker.test/x", "other.test", X},
      // Local files, the engine's pages, other programs: never by default.
      {"file:///etc/passwd", "", R},
      {"file:///proc/self/environ", "", R},
      {"FILE:///etc/passwd", "", R},
      {"file://localhost/etc/passwd", "", R},
      {"webkit://gpu", "", R},
      {"about:gpu", "", R},
      {"view-source:https://start.test/", "", R},
      {"data:text/html,<p>hi", "", R},
      {"blob:https://start.test/1234", "", R},
      {"javascript:document.title='X'", "", R},
      {"inspector://x", "", R},
      {"mailto:a@b.test", "", R},
      {"tel:+123", "", R},
      {"ftp://files.test/x", "", R},
      {"smb://share.test/x", "", R},
      {"unknownscheme:x", "", R},
      {"", "", R},
      {"no scheme at all", "", R},
      // A host entry without a scheme opens only the web to that host.
      {"ftp://portal.test/", "portal.test", R},
      // A scheme the administrator named.
      {"file:///srv/kiosk/index.html", files, A},
      {"file:///srv/kiosk", files, R},
      {"file:///srv/kiosk/../../etc/passwd", files, R},
      {"file:///srv/kiosk/%2e%2e/%2E%2E/etc/passwd", files, R},
      {"file:///etc/passwd", files, R},
      {"https://portal.test/a", files, A},
      {"http://other.test/", files, R},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vkx::JudgeUrl(c.url, c.list, start), c.verdict) << c.url << " with [" << c.list << "]";
  }
  // The configured start page loads whatever its scheme.
  EXPECT_EQ(vkx::JudgeUrl("data:text/html,start", "", "data:text/html,start"), A);
  EXPECT_EQ(vkx::JudgeUrl("file:///srv/start.html", "x.test", "file:///srv/start.html"), A);
}

TEST(Lockdown, RatesOfLaunchesAndDialogs) {
  using namespace std::chrono_literals;
  const auto t0 = vkx::RateLimit::Clock::time_point{} + 1h;
  vkx::RateLimit launches = vkx::ExternalLaunchRate();
  // A click, a redirect after it and one more; then nothing for the rest of the 10 s.
  EXPECT_TRUE(launches.Allow(t0));
  EXPECT_TRUE(launches.Allow(t0 + 100ms));
  EXPECT_TRUE(launches.Allow(t0 + 200ms));
  EXPECT_FALSE(launches.Allow(t0 + 300ms));
  EXPECT_FALSE(launches.Allow(t0 + 9999ms));
  // Refusals do not prolong the window.
  EXPECT_TRUE(launches.Allow(t0 + 10s));
  EXPECT_FALSE(launches.Allow(t0 + 10050ms));

  using V = vkx::DialogGuard::Verdict;
  vkx::DialogGuard dialogs;
  EXPECT_EQ(dialogs.Judge(t0), V::Show);
  EXPECT_EQ(dialogs.Judge(t0 + 1s), V::Show);
  EXPECT_EQ(dialogs.Judge(t0 + 2s), V::Show);
  EXPECT_EQ(dialogs.Judge(t0 + 3s), V::AnswerFirst);
  // Silenced for the rest of the page, however long it waits.
  EXPECT_EQ(dialogs.Judge(t0 + 1h), V::Answer);
  dialogs.NewPage();
  EXPECT_EQ(dialogs.Judge(t0 + 1h), V::Show);
  // A page that asks now and then is never silenced.
  vkx::DialogGuard patient;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(patient.Judge(t0 + i * 11s), V::Show);

  EXPECT_FALSE(vkx::PageMay(vkx::WindowRequest::Close));
  EXPECT_TRUE(vkx::PageMay(vkx::WindowRequest::Fullscreen));
}

}  // namespace
