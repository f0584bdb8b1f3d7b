#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "cookies/cookie_file.h"
#include "cookies/cookie_jar.h"
#include "cookies/cookie_merge.h"
#include "cookies/cookies.h"
#include "fake_engine.h"
#include "log_capture.h"

namespace {

constexpr int64_t kDeltaMicros = 11644473600000000LL;

int64_t Micros(int64_t seconds) { return seconds * 1000000 + kDeltaMicros; }

engine::Cookie MakeCookie(const std::string& domain, const std::string& path, bool secure,
                          int64_t expires, const std::string& name, const std::string& value) {
  engine::Cookie cookie;
  cookie.domain = domain;
  cookie.path = path;
  cookie.secure = secure;
  cookie.has_expires = expires != 0;
  cookie.expires = expires;
  cookie.name = name;
  cookie.value = value;
  return cookie;
}

void ExpectSameCookie(const engine::Cookie& actual, const engine::Cookie& expected) {
  EXPECT_EQ(actual.name, expected.name);
  EXPECT_EQ(actual.value, expected.value);
  EXPECT_EQ(actual.domain, expected.domain);
  EXPECT_EQ(actual.path, expected.path);
  EXPECT_EQ(actual.secure, expected.secure);
  EXPECT_EQ(actual.httponly, expected.httponly);
  EXPECT_EQ(actual.has_expires, expected.has_expires);
  EXPECT_EQ(actual.expires, expected.expires);
}

// ---- one line ----

TEST(CookieLine, FieldsWithAndWithoutTheTrailingTab) {
  const std::string line = ".example.test\tTRUE\t/app\tTRUE\t1700000000\tSID\ta b=c;d";
  for (const std::string& text : {line, line + "\t"}) {
    SCOPED_TRACE(text);
    const auto cookie = vkx::ParseCookieLine(text);
    ASSERT_TRUE(cookie.has_value());
    ExpectSameCookie(*cookie, MakeCookie(".example.test", "/app", true, Micros(1700000000), "SID",
                                         "a b=c;d"));
  }
  // The subdomain flag is not read back: the domain alone decides.
  const auto flagIgnored = vkx::ParseCookieLine(".example.test\tFALSE\t/\tFALSE\t0\tn\tv\t");
  ASSERT_TRUE(flagIgnored.has_value());
  EXPECT_EQ(flagIgnored->domain, ".example.test");
  // Nothing is trimmed.
  const auto spaced = vkx::ParseCookieLine(" host \tFALSE\t / \tFALSE\t0\t n \t v ");
  ASSERT_TRUE(spaced.has_value());
  EXPECT_EQ(spaced->domain, " host ");
  EXPECT_EQ(spaced->path, " / ");
  EXPECT_EQ(spaced->name, " n ");
  EXPECT_EQ(spaced->value, " v ");
}

TEST(CookieLine, SecureOnlyForExactlyUpperCaseTrue) {
  for (const char* secure : {"true", "True", "TRUE ", "1", "yes", "", "FALSE"}) {
    SCOPED_TRACE(secure);
    const auto cookie =
        vkx::ParseCookieLine(std::string("h\tFALSE\t/\t") + secure + "\t0\tn\tv\t");
    ASSERT_TRUE(cookie.has_value());
    EXPECT_FALSE(cookie->secure);
  }
  EXPECT_TRUE(vkx::ParseCookieLine("h\tFALSE\t/\tTRUE\t0\tn\tv\t")->secure);
}

TEST(CookieLine, FieldCounts) {
  std::string reason;
  // Six fields: the value is empty.
  const auto noValue = vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t0\tname", &reason);
  ASSERT_TRUE(noValue.has_value());
  EXPECT_EQ(noValue->name, "name");
  EXPECT_EQ(noValue->value, "");
  // An empty seventh field after the name's tab is the same.
  EXPECT_EQ(vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t0\tname\t")->value, "");
  for (const char* line : {"h\tFALSE\t/\tFALSE\t0", "h\tFALSE\t/\tFALSE", "   ", "h"}) {
    SCOPED_TRACE(line);
    reason.clear();
    EXPECT_FALSE(vkx::ParseCookieLine(line, &reason).has_value());
    EXPECT_FALSE(reason.empty());
  }
  // Whatever follows the seventh field is not part of the value.
  EXPECT_EQ(vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t0\tn\tv\textra\tmore")->value, "v");
}

TEST(CookieLine, Expiry) {
  const auto session = vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t0\tn\tv");
  ASSERT_TRUE(session.has_value());
  EXPECT_FALSE(session->has_expires);
  EXPECT_EQ(session->expires, 0);

  const auto one = vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t1\tn\tv");
  ASSERT_TRUE(one.has_value());
  EXPECT_TRUE(one->has_expires);
  EXPECT_EQ(one->expires, 11644473601000000LL);

  // Leading blanks are allowed.
  const auto blanks = vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t   4102444800\tn\tv");
  ASSERT_TRUE(blanks.has_value());
  EXPECT_EQ(blanks->expires, Micros(4102444800));  // 2100-01-01

  // The largest expiry whose record still fits an int64, and the next one.
  const int64_t maxSeconds = (std::numeric_limits<int64_t>::max() - kDeltaMicros) / 1000000;
  const auto largest =
      vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t" + std::to_string(maxSeconds) + "\tn\tv");
  ASSERT_TRUE(largest.has_value());
  EXPECT_EQ(largest->expires, Micros(maxSeconds));
  EXPECT_GT(largest->expires, 0);

  for (const std::string& expiry :
       {std::to_string(maxSeconds + 1), std::string("9223372036854775807"),
        std::string("18446744073709551616"), std::string("99999999999999999999999999999"),
        std::string(""), std::string("   "), std::string("never"), std::string("-1"),
        std::string("x1")}) {
    SCOPED_TRACE(expiry);
    std::string reason;
    EXPECT_FALSE(vkx::ParseCookieLine("h\tFALSE\t/\tFALSE\t" + expiry + "\tn\tv", &reason));
    EXPECT_FALSE(reason.empty());
  }
}

// ---- the file ----

class CookieFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vkx-cookie-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    cookie_path_ = dir_ + "/cookies.txt";
    config_path_ = dir_ + "/vkx.conf";
    fake::Log() = {};
    fake::Cookies() = std::make_shared<fake::CookieManager>();
    vkx::CookieJar::Instance() = vkx::CookieJar();
  }
  void TearDown() override {
    fake::Cookies() = std::make_shared<fake::CookieManager>();
    chmod(dir_.c_str(), 0700);
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
    unsetenv("VKX_CONFIG_PATH");
  }

  static void Write(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string Read(const std::string& path) {
    std::stringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.insert(name);
      }
      closedir(d);
    }
    return names;
  }
  // The process configuration, as the browser reloads it.
  void Configure(const std::string& content) {
    Write(config_path_, content);
    setenv("VKX_CONFIG_PATH", config_path_.c_str(), 1);
    ASSERT_TRUE(Config::Instance().Reload());
  }
  // Caching on with this file and filter (the filter cannot be set empty).
  void ConfigureSaving(const std::string& filter) {
    Configure("cacheCookies=true\ncookieFile=" + cookie_path_ + "\ncookieFilter=" + filter + "\n");
  }

  std::string dir_;
  std::string cookie_path_;
  std::string config_path_;
  LogCapture log_;
};

TEST_F(CookieFileTest, ReadSkipsCommentsEmptyAndBrokenLinesNamingOnlyTheLine) {
  Write(cookie_path_,
        "# Netscape HTTP Cookie File\n"                                   // 1
        "\n"                                                              // 2
        ".example.test\tTRUE\t/\tTRUE\t1700000000\tSID\tfirst-secret\t\n"  // 3
        "#host\tFALSE\t/\tFALSE\t0\tcommented\tx\t\n"                     // 4
        "   \n"                                                           // 5
        "host\tFALSE\t/\tFALSE\n"                                         // 6
        "host\tFALSE\t/\tFALSE\tsoon\tbad\tsecret-in-bad-line\t\n"        // 7
        "host\tFALSE\t/\tFALSE\t99999999999999999999\tbig\tbig-secret\t\n"  // 8
        " # not a comment\n"                                              // 9
        "#HttpOnly_host\tFALSE\t/\tFALSE\t0\thttponly\th\n"            // 10
        "host\tFALSE\t/p\tFALSE\t0\tlast\tv");                            // 11, no line feed
  log_.TakeError();
  const std::vector<engine::Cookie> cookies = vkx::ReadCookieFile(cookie_path_);
  const std::string err = log_.TakeError();
  ASSERT_EQ(cookies.size(), 3u);
  ExpectSameCookie(cookies[0], MakeCookie(".example.test", "/", true, Micros(1700000000), "SID",
                                          "first-secret"));
  // curl's and wget's mark of an HttpOnly cookie is no comment.
  engine::Cookie httponly = MakeCookie("host", "/", false, 0, "httponly", "h");
  httponly.httponly = true;
  ExpectSameCookie(cookies[1], httponly);
  ExpectSameCookie(cookies[2], MakeCookie("host", "/p", false, 0, "last", "v"));

  // One line per broken line, in order, each naming its line number.
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << err;
  const char* numbers[] = {"5", "6", "7", "8", "9"};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(" " + std::string(numbers[i]) + " "), std::string::npos) << lines[i];
  }
  EXPECT_EQ(err.find("secret"), std::string::npos) << err;
}

TEST_F(CookieFileTest, HostileFilesNeitherBlockNorFloodTheLog) {
  // A FIFO without a writer would block the navigation for good.
  const std::string fifo = dir_ + "/fifo.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(vkx::ReadCookieFile(fifo).empty());

  // A NUL would cut the name or value short on its way into the store, and
  // the cookie would be saved back as another one.
  using namespace std::string_literals;
  std::string content = "host\tFALSE\t/\tFALSE\t0\tn\0ul\tv\t\n"s +
                        "host\tFALSE\t/\tFALSE\t0\tgood\tv\t\n";
  for (int i = 0; i < 1000; ++i) content += "junk line " + std::to_string(i) + "\n";
  Write(cookie_path_, content);
  log_.TakeError();
  const std::vector<engine::Cookie> cookies = vkx::ReadCookieFile(cookie_path_);
  const std::string err = log_.TakeError();
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0].name, "good");
  EXPECT_NE(err.find("line 1 of " + cookie_path_ + ": holds a NUL byte"), std::string::npos) << err;
  // Five lines name their broken line; one more counts the rest.
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 6) << err;
  EXPECT_NE(err.find("Skipping 996 more cookie file lines of " + cookie_path_), std::string::npos)
      << err;
}

TEST_F(CookieFileTest, MissingFileHasNoCookiesAndSaysNothing) {
  log_.TakeError();
  EXPECT_TRUE(vkx::ReadCookieFile(dir_ + "/missing.txt").empty());
  EXPECT_TRUE(vkx::ReadCookieFile("").empty());
  EXPECT_EQ(log_.TakeError(), "");
}

TEST(CookieFormat, LinesEndInTabAndLineFeedAndCutFractionalSeconds) {
  engine::Cookie domain = MakeCookie(".example.test", "/", true, Micros(1700000000) + 999999,
                                     "SID", "a b");
  domain.httponly = true;
  EXPECT_EQ(vkx::FormatCookieLine(domain),
            ".example.test\tTRUE\t/\tTRUE\t1700000000\tSID\ta b\t\n");
  EXPECT_EQ(vkx::FormatCookieLine(MakeCookie("www.example.test", "/app", false, 0, "n", "")),
            "www.example.test\tFALSE\t/app\tFALSE\t0\tn\t\t\n");
  EXPECT_EQ(vkx::FormatCookieLine(MakeCookie("", "/", false, Micros(1) + 1, "n", "v")),
            "\tFALSE\t/\tFALSE\t1\tn\tv\t\n");
}

TEST(CookieFormat, WrittenLinesReadBackTheSame) {
  const int64_t maxSeconds = (std::numeric_limits<int64_t>::max() - kDeltaMicros) / 1000000;
  const std::vector<engine::Cookie> cookies = {
      MakeCookie(".example.test", "/", true, Micros(1700000000), "SID", "x=y; z"),
      MakeCookie("www.example.test", "/a/b", false, 0, "lang", ""),
      MakeCookie("host", "/", false, Micros(1), "one", "1"),
      MakeCookie(".x", "", true, Micros(maxSeconds), "far", "future"),
  };
  for (const engine::Cookie& cookie : cookies) {
    const std::string line = vkx::FormatCookieLine(cookie);
    SCOPED_TRACE(line);
    ASSERT_EQ(line.back(), '\n');
    const auto back = vkx::ParseCookieLine(line.substr(0, line.size() - 1));
    ASSERT_TRUE(back.has_value());
    ExpectSameCookie(*back, cookie);
  }
}

// ---- host, filter and domain decisions ----

TEST(CookieHost, FromUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://www.example.test/login?x=1", "www.example.test"},
      {"https://www.example.test:8443/path", "www.example.test"},
      {"https://www.example.test", "www.example.test"},
      {"http://host:80", "host"},
      {"www.example.test/path", "www.example.test"},
      {"www.example.test:8080", "www.example.test"},
      {"https://user:pw@host.test/", "user"},  // userinfo is not recognised
      {"https://user:pw@host.test:8443/", "user"},
      {"https:///path", ""},
      {"", ""},
      {"file:///etc/hosts", ""},
      {"https://a/b://c/", "a"},
  };
  for (const auto& [url, host] : cases) {
    EXPECT_EQ(vkx::HostFromUrl(url), host) << url;
  }
}

TEST(CookieFilter, SplitsAtEveryCommaWithoutTrimming) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(vkx::SplitCookieFilter(""), Names{});
  EXPECT_EQ(vkx::SplitCookieFilter("SID"), Names{"SID"});
  EXPECT_EQ(vkx::SplitCookieFilter("SID,token"), (Names{"SID", "token"}));
  EXPECT_EQ(vkx::SplitCookieFilter("SID,token,"), (Names{"SID", "token"}));
  EXPECT_EQ(vkx::SplitCookieFilter(","), Names{""});
  EXPECT_EQ(vkx::SplitCookieFilter(",,"), (Names{"", ""}));
  EXPECT_EQ(vkx::SplitCookieFilter("a,,b"), (Names{"a", "", "b"}));
  EXPECT_EQ(vkx::SplitCookieFilter(",a"), (Names{"", "a"}));
  EXPECT_EQ(vkx::SplitCookieFilter(" a , b"), (Names{" a ", " b"}));

  const Names filter = vkx::SplitCookieFilter("SID, token,");
  EXPECT_TRUE(vkx::IsFiltered("SID", filter));
  EXPECT_TRUE(vkx::IsFiltered(" token", filter));
  EXPECT_FALSE(vkx::IsFiltered("token", filter));
  EXPECT_FALSE(vkx::IsFiltered("sid", filter));
  EXPECT_FALSE(vkx::IsFiltered("SI", filter));
  EXPECT_FALSE(vkx::IsFiltered("SIDX", filter));
  EXPECT_FALSE(vkx::IsFiltered("", filter));
  EXPECT_TRUE(vkx::IsFiltered("", vkx::SplitCookieFilter("a,,b")));
  EXPECT_FALSE(vkx::IsFiltered("a", {}));
}

TEST(CookieDomain, FitToHost) {
  using vkx::CookieFit;
  const std::tuple<const char*, const char*, CookieFit> cases[] = {
      {"www.example.test", "www.example.test", CookieFit::HostOnly},
      {"", "", CookieFit::HostOnly},
      {".example.test", "www.example.test", CookieFit::Domain},
      {".example.test", "example.test", CookieFit::Domain},
      {".example.test", "a.b.example.test", CookieFit::Domain},
      {".example.test", "example.test.other", CookieFit::Domain},  // contained anywhere
      {".www.example.test", "www.example.test", CookieFit::Domain},
      {"example.test", "www.example.test", CookieFit::Mismatch},  // no dot: host only
      {".example.test", "www.example.org", CookieFit::Mismatch},
      {".Example.test", "www.example.test", CookieFit::Mismatch},
      {"WWW.example.test", "www.example.test", CookieFit::Mismatch},
      {"", "www.example.test", CookieFit::Mismatch},
      {".www.example.test", "example.test", CookieFit::Mismatch},
  };
  for (const auto& [domain, host, fit] : cases) {
    EXPECT_EQ(vkx::FitCookieToHost(domain, host), fit) << domain << " / " << host;
  }
}

// ---- injection ----

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
  Write(cookie_path_,
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
  Write(cookie_path_, "host\tFALSE\t/\tFALSE\t0\tn\tv\t\n");
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
  Write(cookie_path_, "# only a comment\n\n.example.test\tTRUE\t/\tFALSE\t0\tSID\tv\n");
  log_.TakeError();
  InjectCookiesFromFile("https://www.example.test/", dir_ + "/missing.txt", "");
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

// ---- saving ----

// The store used by the save tests: the last cookie is one the filter drops.
std::vector<engine::Cookie> StoreCookies() {
  engine::Cookie sid = MakeCookie(".example.test", "/", true, Micros(1700000000) + 500000, "SID", "s1");
  sid.httponly = true;
  return {sid, MakeCookie("www.example.test", "/app", false, 0, "lang", "de"),
          MakeCookie(".example.test", "/", false, 0, "SI", "not-filtered"),
          MakeCookie(".example.test", "/", false, 0, "token", "filtered-secret")};
}

// The store's lines, in the order of domain, path and name.
constexpr const char* kStoreFile =
    ".example.test\tTRUE\t/\tFALSE\t0\tSI\tnot-filtered\t\n"
    ".example.test\tTRUE\t/\tTRUE\t1700000000\tSID\ts1\t\n"
    "www.example.test\tFALSE\t/app\tFALSE\t0\tlang\tde\t\n";

// A file from before: a comment and a cookie of a host this run never saw.
constexpr const char* kOldFile = "# previous run\nhost\tFALSE\t/\tFALSE\t0\told\tkeep-me\t\n";

TEST(CookieMerge, StoreFirstThenTheLinesThisRunCouldNotKnow) {
  const int64_t now = 1800000000;
  const std::string previous =
      "# Netscape HTTP Cookie File\n"
      "www.example.test\tFALSE\t/app\tFALSE\t0\tlang\told-value\t\n"  // the store holds it
      "WWW.Example.TEST\tFALSE\t/\tFALSE\t0\tgone\tx\t\n"             // known: the site deleted it
      "other.test\tFALSE\t/\tFALSE\t0\tother\to\n"                    // another host: kept as it is
      "#HttpOnly_other.test\tFALSE\t/\tFALSE\t1900000000\thttp\th\n"   // curl's HttpOnly line
      "other.test\tFALSE\t/\tFALSE\t1700000000\texpired\te\t\n"        // expired: dropped
      "\n"
      "not a cookie line\n"                                          // kept as a person wrote it
      ".example.test\tTRUE\t/\tFALSE\t0\ttoken\tfile-secret\t\n";    // filtered: never the kiosk's
  const vkx::CookieKeys known = {{"www.example.test", "/", "gone"}};
  const std::string merged =
      vkx::MergeCookieFile(StoreCookies(), {"token"}, previous, known, now);
  EXPECT_EQ(merged, std::string(kStoreFile) +
                        "# Netscape HTTP Cookie File\n"
                        "other.test\tFALSE\t/\tFALSE\t0\tother\to\n"
                        "#HttpOnly_other.test\tFALSE\t/\tFALSE\t1900000000\thttp\th\n"
                        "\n"
                        "not a cookie line\n"
                        ".example.test\tTRUE\t/\tFALSE\t0\ttoken\tfile-secret\t\n");
  // Merging again changes nothing, and only the order of lines is no change.
  EXPECT_EQ(vkx::MergeCookieFile(StoreCookies(), {"token"}, merged, known, now), merged);
  EXPECT_TRUE(vkx::SameLines("a\nb\n", "b\na\n"));
  EXPECT_FALSE(vkx::SameLines("a\nb\n", "a\nc\n"));
  EXPECT_FALSE(vkx::SameLines("a\n", "a\na\n"));
}

TEST_F(CookieFileTest, SaveNeedsCacheCookies) {
  ConfigureSaving("token");
  Configure("cookieFile=" + cookie_path_ + "\n");
  Write(cookie_path_, kOldFile);
  fake::Cookies()->cookies = StoreCookies();
  InjectCookiesFromFile("https://www.example.test/", "", "");
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  fake::Cookies()->change_observer();
  EXPECT_EQ(log_.TakeError(), "");
  EXPECT_EQ(fake::Cookies()->visit_calls, 0);
  EXPECT_TRUE(fake::Log().delayed.empty());
  EXPECT_FALSE(vkx::CookieSaveInProgress());
  EXPECT_EQ(Read(cookie_path_), kOldFile);
}

TEST_F(CookieFileTest, SaveMergesTheStoreIntoTheFileOwnerOnlyAndCompletesOnce) {
  ConfigureSaving("token,SID2");
  Write(cookie_path_, kOldFile);
  ASSERT_EQ(chmod(cookie_path_.c_str(), 0644), 0);
  fake::Cookies()->cookies = StoreCookies();
  const mode_t oldMask = umask(0);
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  umask(oldMask);
  // The last cookie is filtered and the store also reports the end: one completion.
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(Read(cookie_path_), std::string(kStoreFile) + kOldFile);
  struct stat info {};
  ASSERT_EQ(stat(cookie_path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));
  EXPECT_FALSE(vkx::CookieSaveInProgress());

  // What was saved is what the next run reads (whole seconds, no HttpOnly).
  const std::vector<engine::Cookie> back = vkx::ReadCookieFile(cookie_path_);
  EXPECT_EQ(log_.TakeError(), "");
  ASSERT_EQ(back.size(), 4u);
  ExpectSameCookie(back[0], StoreCookies()[2]);
  ExpectSameCookie(back[1], MakeCookie(".example.test", "/", true, Micros(1700000000), "SID", "s1"));
  ExpectSameCookie(back[2], StoreCookies()[1]);
}

TEST_F(CookieFileTest, CookiesTheSiteDeletedAreGoneAndAnEmptyStoreCompletes) {
  ConfigureSaving("token");
  Write(cookie_path_, std::string(kOldFile) + "www.example.test\tFALSE\t/\tFALSE\t0\tSID\tx\t\n");
  InjectCookiesFromFile("https://www.example.test/", cookie_path_, "token");
  // The site deleted SID: the store is empty.
  log_.TakeError();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(Read(cookie_path_), kOldFile);
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));

  // A store started anew (its process died) has lost what was injected:
  // the file's lines stand again.
  Write(cookie_path_, std::string(kOldFile) + "www.example.test\tFALSE\t/\tFALSE\t0\tSID\tx\t\n");
  InjectCookiesFromFile("https://www.example.test/", cookie_path_, "token");
  fake::Cookies()->generation = 1;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(Read(cookie_path_), std::string(kOldFile) + "www.example.test\tFALSE\t/\tFALSE\t0\tSID\tx\t\n");
}

TEST_F(CookieFileTest, CompletedSaveRemovesTempFilesThatKilledSavesLeft) {
  ConfigureSaving("token");
  Write(cookie_path_, kOldFile);
  fake::Cookies()->cookies = StoreCookies();
  const std::string stale = cookie_path_ + ".AbC123";
  const std::string recent = cookie_path_ + ".XyZ789";  // perhaps another save under way
  const std::string unrelated = cookie_path_ + ".bak";
  for (const std::string& path : {stale, recent, unrelated}) Write(path, "partial");
  const struct timespec old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, stale.c_str(), old, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, unrelated.c_str(), old, 0), 0);
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "cookies.txt.XyZ789", "cookies.txt.bak",
                                            "vkx.conf"}));
}

TEST_F(CookieFileTest, SaveOfOnlyFilteredCookiesCompletes) {
  ConfigureSaving("a,b");
  fake::Cookies()->cookies = {MakeCookie("h", "/", false, 0, "a", "1"),
                              MakeCookie("h", "/", false, 0, "b", "2")};
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(Read(cookie_path_), "");
}

TEST_F(CookieFileTest, SaveReplacesTheFileOnlyWhenTheEnumerationEnds) {
  ConfigureSaving("token");
  Write(cookie_path_, kOldFile);
  auto store = fake::Cookies();
  store->cookies = StoreCookies();
  store->defer = true;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 1\n");
  EXPECT_TRUE(vkx::CookieSaveInProgress());
  EXPECT_EQ(Read(cookie_path_), kOldFile);
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));

  store->CompletePending();
  EXPECT_EQ(log_.TakeError(), "Cookie enumeration complete.\n");
  EXPECT_EQ(Read(cookie_path_), std::string(kStoreFile) + kOldFile);
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));
  EXPECT_FALSE(vkx::CookieSaveInProgress());
}

// Whatever stops the store from listing all its cookies, the file stays
// byte for byte, and one line says why.
TEST_F(CookieFileTest, FailedListingsKeepTheOldFile) {
  ConfigureSaving("token");
  Write(cookie_path_, kOldFile);
  auto store = fake::Cookies();
  store->cookies = StoreCookies();
  store->defer = true;
  const auto expectKept = [&](const std::string& reason) {
    EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 1\nCookie file not saved: " + reason + "\n");
    EXPECT_FALSE(vkx::CookieSaveInProgress());
    EXPECT_EQ(Read(cookie_path_), kOldFile);
    EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));
  };
  for (size_t visits : {size_t{0}, size_t{3}}) {
    SCOPED_TRACE(visits);
    vkx::SaveCookies(std::make_shared<fake::Browser>(1));
    ASSERT_TRUE(vkx::CookieSaveInProgress());
    store->AbandonPending(visits);
    expectKept("the cookie store stopped listing before its end");
  }
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  store->pending->OnVisitFailed("connection lost");
  store->pending.reset();
  expectKept("the cookie store could not be listed: connection lost");

  // No answer in time; an answer after that is not used.
  fake::Log().delayed.clear();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  ASSERT_EQ(fake::Log().delayed.size(), 1u);
  EXPECT_EQ(fake::Log().delayed[0].delay_ms, 2000);
  fake::Log().delayed[0].task();
  expectKept("the cookie store did not answer within 2 s");
  store->CompletePending();
  EXPECT_EQ(Read(cookie_path_), kOldFile);

  // The store's process died: before the listing, or while it ran.
  store->generation = std::nullopt;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  store->CompletePending();
  expectKept("the engine's network process is not running");
  store->generation = 1;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  store->generation = 2;
  store->CompletePending();
  expectKept("the engine's network process ended during the save");
}

TEST_F(CookieFileTest, ChangesAreSavedSoonInOneSaveAtATime) {
  ConfigureSaving("token");
  Write(cookie_path_, kOldFile);
  auto store = fake::Cookies();
  InjectCookiesFromFile("https://www.example.test/", cookie_path_, "token");
  log_.TakeError();
  ASSERT_TRUE(store->change_observer);
  store->cookies = StoreCookies();
  // A burst of changes: one save, a second later, and it says nothing.
  for (int i = 0; i < 3; ++i) store->change_observer();
  ASSERT_EQ(fake::Log().delayed.size(), 1u);
  EXPECT_EQ(fake::Log().delayed[0].delay_ms, 1000);
  auto run = [] {
    auto tasks = std::move(fake::Log().delayed);
    fake::Log().delayed.clear();
    for (auto& task : tasks) if (task.delay_ms == 1000) task.task();
  };
  run();
  EXPECT_EQ(store->visit_calls, 1);
  EXPECT_EQ(Read(cookie_path_), std::string(kStoreFile) + kOldFile);
  EXPECT_EQ(log_.TakeError(), "");

  // Nothing new: nothing written (the file keeps its inode).
  struct stat before {};
  ASSERT_EQ(stat(cookie_path_.c_str(), &before), 0);
  store->change_observer();
  run();
  struct stat after {};
  ASSERT_EQ(stat(cookie_path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);

  // A change during a save leads to one more save after it; so does the close.
  store->defer = true;
  store->change_observer();
  run();
  store->change_observer();
  run();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(store->visit_calls, 3);
  EXPECT_TRUE(vkx::CookieSaveInProgress());
  store->cookies.pop_back();
  store->CompletePending();
  EXPECT_EQ(store->visit_calls, 4);
  EXPECT_TRUE(vkx::CookieSaveInProgress());
  store->CompletePending();
  EXPECT_EQ(store->visit_calls, 4);
  EXPECT_FALSE(vkx::CookieSaveInProgress());
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 1\nCookie enumeration complete.\n");
}

TEST_F(CookieFileTest, SaveThatCannotStartKeepsTheOldFile) {
  ConfigureSaving("token");
  Write(cookie_path_, kOldFile);
  fake::Cookies()->cookies = StoreCookies();
  fake::Cookies()->start_result = false;
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 0\n");

  fake::Cookies() = nullptr;
  vkx::CookieJar::Instance() = vkx::CookieJar();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "VisitAllCookies call returned 0\n");

  EXPECT_FALSE(vkx::CookieSaveInProgress());
  EXPECT_EQ(Read(cookie_path_), kOldFile);
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));
}

TEST_F(CookieFileTest, ReplacementThatFailsReportsAndLeavesNoTempFile) {
  ConfigureSaving("token");
  // A directory in the cookie file's place cannot be renamed over.
  ASSERT_EQ(mkdir(cookie_path_.c_str(), 0700), 0);
  Write(cookie_path_ + "/keep", "x");
  fake::Cookies()->cookies = StoreCookies();
  vkx::SaveCookies(std::make_shared<fake::Browser>(1));
  EXPECT_EQ(log_.TakeError(), "Cannot write cookie file: " + cookie_path_ +
                                  "\nCookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));
  EXPECT_EQ(Read(cookie_path_ + "/keep"), "x");
  EXPECT_FALSE(vkx::CookieSaveInProgress());
}

// Run in a child so that, as root, the save can lose the right to write.
TEST_F(CookieFileTest, UnwritableDirectoryReportsOnceAndKeepsTheOldFile) {
  ConfigureSaving("token");
  Write(cookie_path_, kOldFile);
  ASSERT_EQ(chmod(dir_.c_str(), 0500), 0);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    dup2(out[1], STDERR_FILENO);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      std::fprintf(stderr, "cannot drop privileges\n");
      _exit(2);
    }
    vkx::LogRedirect toStderr(std::cout, std::cerr);
    fake::Cookies()->cookies = StoreCookies();
    vkx::SaveCookies(std::make_shared<fake::Browser>(1));
    _exit(vkx::CookieSaveInProgress() ? 3 : 0);
  }
  close(out[1]);
  std::string err;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << err;
  EXPECT_EQ(err, "Cannot write cookie file: " + cookie_path_ +
                     "\nCookie enumeration complete.\nVisitAllCookies call returned 1\n");
  EXPECT_EQ(Read(cookie_path_), kOldFile);
  EXPECT_EQ(Files(), (std::set<std::string>{"cookies.txt", "vkx.conf"}));
}

}  // namespace
