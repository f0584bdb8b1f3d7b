#include "cookies/cookies.h"

#include <gtest/gtest.h>

#include <string>

#include "cookie_test_util.h"
#include "fake_engine.h"

namespace {

std::string InjectionLines(const std::string& host, const engine::Cookie& c) {
  std::string s = "  InjectCookiesFromFile hostname: " + host + "\n";
  s += "  Name: " + c.name + "\n";
  s += "  Value: " + c.value + "\n";
  s += "  Domain: " + c.domain + "\n";
  s += "  Path: " + c.path + "\n";
  s += std::string("  Secure: ") + (c.secure ? "true" : "false") + "\n";
  s += std::string("  HttpOnly: ") + (c.httponly ? "true" : "false") + "\n";
  s += std::string("  HasExpire: ") + (c.has_expires ? "true" : "false") + "\n";
  s += "  Expire: " + std::to_string(c.expires) + "\n";
  return s;
}

TEST_F(CookieFileTest, InjectionSetsMatchingCookiesAndLogsEachDecision) {
  WriteFile(cookie_path_,
        "# cookies\n"
        "www.example.test\tFALSE\t/\tTRUE\t1700000000\tSID\thost-secret\t\n"
        ".example.test\tTRUE\t/app\tFALSE\t0\tlang\tde\t\n"
        "other.test\tFALSE\t/\tFALSE\t0\ttrack\tx\t\n"
        ".example.test\tTRUE\t/\tFALSE\t0\ttoken\tfiltered-secret\t\n"
        "other.test\tFALSE\t/\tFALSE\t0\tSESSION\tfiltered-too\t\n"
        "example.test\tFALSE\t/\tFALSE\t0\tparent\tp\n");
  const std::string url = "https://www.example.test:8443/login?next=/";
  log_.TakeError();
  InjectCookiesFromFile(url, cookie_path_, "token,SESSION,");
  const std::string err = log_.TakeError();

  const engine::Cookie hostOnly = MakeCookie("", "/", true, Micros(1700000000), "SID", "host-secret");
  const engine::Cookie domain = MakeCookie(".example.test", "/app", false, 0, "lang", "de");
  EXPECT_EQ(err, InjectionLines("www.example.test", hostOnly) + "SetCookie return true \n" +
                     InjectionLines("www.example.test", domain) + "SetCookie return true \n" +
                     "skipping cookie. Hostname www.example.test, domain other.test\n"
                     "skipping cookie. Hostname www.example.test, domain example.test\n");

  auto& calls = fake::Cookies()->set_calls;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].url, url);
  ExpectSameCookie(calls[0].cookie, hostOnly);
  EXPECT_EQ(calls[1].url, url);
  ExpectSameCookie(calls[1].cookie, domain);

  // Each cookie has its own callback, which reports the engine's answer.
  ASSERT_TRUE(calls[0].callback && calls[1].callback);
  EXPECT_NE(calls[0].callback, calls[1].callback);
  log_.TakeError();
  calls[0].callback->OnComplete(true);
  calls[1].callback->OnComplete(false);
  EXPECT_EQ(log_.TakeError(),
            "SetCookieCallback::OnComplete success: 1\nSetCookieCallback::OnComplete success: 0\n");
}

TEST_F(CookieFileTest, InjectionReportsCookiesTheStoreDidNotTake) {
  WriteFile(cookie_path_, "host\tFALSE\t/\tFALSE\t0\tn\tv\t\n");
  const std::string expected =
      InjectionLines("host", MakeCookie("", "/", false, 0, "n", "v")) + "Failed to inject cookie.\n";

  fake::Cookies()->set_result = false;
  log_.TakeError();
  InjectCookiesFromFile("http://host/", cookie_path_, "");
  EXPECT_EQ(log_.TakeError(), expected);
  EXPECT_EQ(fake::Cookies()->set_calls.size(), 1u);

  fake::Cookies() = nullptr;  // no cookie store at all
  log_.TakeError();
  InjectCookiesFromFile("http://host/", cookie_path_, "");
  EXPECT_EQ(log_.TakeError(), expected);
}

TEST_F(CookieFileTest, InjectionWithoutCookiesIsSilent) {
  WriteFile(cookie_path_, "# only a comment\n\n.example.test\tTRUE\t/\tFALSE\t0\tSID\tv\n");
  log_.TakeError();
  InjectCookiesFromFile("https://www.example.test/", dir_.path() + "/missing.txt", "");
  InjectCookiesFromFile("https://www.example.test/", cookie_path_, "SID");
  EXPECT_EQ(log_.TakeError(), "");
  EXPECT_TRUE(fake::Cookies()->set_calls.empty());
}

TEST(CookieInjectionDeathTest, OnlyOnTheUiThread) {
  EXPECT_DEATH(
      {
        fake::Log().on_ui_thread = false;
        InjectCookiesFromFile("https://host/", "/nonexistent/cookies.txt", "");
      },
      "Check failed: engine::CurrentlyOnUiThread\\(\\)\\. ");
}

}  // namespace
