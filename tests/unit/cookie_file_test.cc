#include "cookies/cookie_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "cookie_test_util.h"

namespace {

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

TEST_F(CookieFileTest, ReadSkipsCommentsEmptyAndBrokenLinesNamingOnlyTheLine) {
  WriteFile(cookie_path_,
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
  const std::string fifo = dir_.path() + "/fifo.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(vkx::ReadCookieFile(fifo).empty());

  // A NUL would cut the name or value short on its way into the store, and
  // the cookie would be saved back as another one.
  using namespace std::string_literals;
  std::string content = "host\tFALSE\t/\tFALSE\t0\tn\0ul\tv\t\n"s +
                        "host\tFALSE\t/\tFALSE\t0\tgood\tv\t\n";
  for (int i = 0; i < 1000; ++i) content += "junk line " + std::to_string(i) + "\n";
  WriteFile(cookie_path_, content);
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
  EXPECT_TRUE(vkx::ReadCookieFile(dir_.path() + "/missing.txt").empty());
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
      {".example.test", "example.test.other", CookieFit::Mismatch},  // a suffix only
      {".example.test", "myexample.test", CookieFit::Mismatch},      // on a dot boundary
      {".", "www.example.test", CookieFit::Mismatch},
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

}  // namespace
