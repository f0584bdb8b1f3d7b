// What the cookie tests share: cookies to compare, a store and the file it
// is saved to, and a fixture with a cookie file and configuration of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/config.h"
#include "cookies/cookie_jar.h"
#include "engine/types.h"
#include "fake_engine.h"
#include "log_capture.h"
#include "test_files.h"

// Engine expiries count microseconds since 1601; Micros makes one of
// seconds since 1970.
inline constexpr int64_t kDeltaMicros = 11644473600000000LL;
inline int64_t Micros(int64_t seconds) { return seconds * 1000000 + kDeltaMicros; }

inline engine::Cookie MakeCookie(const std::string& domain, const std::string& path, bool secure,
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

inline void ExpectSameCookie(const engine::Cookie& actual, const engine::Cookie& expected) {
  EXPECT_EQ(actual.name, expected.name);
  EXPECT_EQ(actual.value, expected.value);
  EXPECT_EQ(actual.domain, expected.domain);
  EXPECT_EQ(actual.path, expected.path);
  EXPECT_EQ(actual.secure, expected.secure);
  EXPECT_EQ(actual.httponly, expected.httponly);
  EXPECT_EQ(actual.has_expires, expected.has_expires);
  EXPECT_EQ(actual.expires, expected.expires);
}

// The store used by the save tests: the last cookie is one the filter drops.
inline std::vector<engine::Cookie> StoreCookies() {
  engine::Cookie sid = MakeCookie(".example.test", "/", true, Micros(1700000000) + 500000, "SID", "s1");
  sid.httponly = true;
  return {sid, MakeCookie("www.example.test", "/app", false, 0, "lang", "de"),
          MakeCookie(".example.test", "/", false, 0, "SI", "not-filtered"),
          MakeCookie(".example.test", "/", false, 0, "token", "filtered-secret")};
}

// The store's lines, in the order of domain, path and name.
inline constexpr const char* kStoreFile =
    ".example.test\tTRUE\t/\tFALSE\t0\tSI\tnot-filtered\t\n"
    ".example.test\tTRUE\t/\tTRUE\t1700000000\tSID\ts1\t\n"
    "www.example.test\tFALSE\t/app\tFALSE\t0\tlang\tde\t\n";

// A file from before: a comment and a cookie of a host this run never saw.
inline constexpr const char* kOldFile = "# previous run\nhost\tFALSE\t/\tFALSE\t0\told\tkeep-me\t\n";

// A directory with the cookie file and the configuration, an empty fake
// store, a fresh jar, and the log read by the test.
class CookieFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Log() = {};
    fake::Cookies() = std::make_shared<fake::CookieManager>();
    vkx::CookieJar::Instance() = vkx::CookieJar();
  }
  void TearDown() override {
    fake::Cookies() = std::make_shared<fake::CookieManager>();
    unsetenv("VKX_CONFIG_PATH");
  }

  // The process configuration, as the browser reloads it.
  void Configure(const std::string& content) {
    WriteConfig(config_path_, content);
    ASSERT_TRUE(Config::Instance().Reload());
  }
  // Caching on with this file and filter (the filter cannot be set empty).
  void ConfigureSaving(const std::string& filter) {
    Configure("cacheCookies=true\ncookieFile=" + cookie_path_ + "\ncookieFilter=" + filter + "\n");
  }

  // Saving on, the file from before, and the store's cookies: the store.
  std::shared_ptr<fake::CookieManager> PrepareSave(const std::string& filter = "token") {
    ConfigureSaving(filter);
    WriteFile(cookie_path_, kOldFile);
    fake::Cookies()->cookies = StoreCookies();
    return fake::Cookies();
  }

  // The store answers every injection so far: taken.
  static void StoreTakesInjected() {
    for (const auto& call : fake::Cookies()->set_calls) call.callback->OnComplete(true);
  }

  TempDir dir_{"vkx-cookie-test"};
  std::string cookie_path_ = dir_.path() + "/cookies.txt";
  std::string config_path_ = dir_.path() + "/vkx.conf";
  LogCapture log_;
};
