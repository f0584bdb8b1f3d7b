#include "config/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "config/environment.h"
#include "log_capture.h"
#include "test_files.h"

namespace {

// Each test gets its own config file and a clean environment.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VKX_CONFIG_PATH");
    // What an earlier test left in memory is replaced by nothing.
    setenv("VKX_BRELLIK_USERNAME", "", 1);
    setenv("VKX_BRELLIK_PASSWORD", "", 1);
    vkx::TakeCredentials();
  }
  // The standard output and error lines written so far, and a fresh start.
  std::string TakeOut() { return log_.TakeInfo(); }
  std::string TakeErr() { return log_.TakeError(); }
  void Write(const std::string& content) { WriteConfig(path_, content); }

  TempDir dir_{"vkx-config-test"};
  std::string path_ = dir_.path() + "/vkx.conf";

 private:
  LogCapture log_;
};

TEST_F(ConfigTest, DefaultsWithoutVariableAndNoCredentials) {
  setenv("VKX_BRELLIK_USERNAME", "user", 1);
  setenv("VKX_BRELLIK_PASSWORD", "secret", 1);
  Config config;
  config.Print();
  const std::string out = TakeOut();
  EXPECT_EQ(TakeErr(),
            "Environment variable VKX_CONFIG_PATH not set.\n");
  EXPECT_EQ(out, std::string("Configuration values:\nURL: ") + Config::kDefaultUrl +
                     "\nDisplay Mode: 0\nCache Path: \nWidth: 800\nHeight: 600\n"
                     "Disable Keyboard Shortcuts: true\nDisable Context Menu: true\n"
                     "Enable Toolbar: true\nAuto Hide: true\nEnd Session Key: 0\n");
  EXPECT_EQ(config.GetUsername(), "");
  EXPECT_EQ(config.GetPassword(), "");
  EXPECT_FALSE(config.GetCacheCookies());
  EXPECT_FALSE(config.GetAcceptCertError());
}

TEST_F(ConfigTest, MissingAndEmptyPathsKeepDefaults) {
  setenv("VKX_BRELLIK_USERNAME", "user", 1);
  for (const std::string& path : {std::string("/nonexistent/vkx.conf"), std::string()}) {
    setenv("VKX_CONFIG_PATH", path.c_str(), 1);
    Config config;
    EXPECT_EQ(TakeErr(), "Config file does not exist: " + path + "\n");
    EXPECT_EQ(config.GetWidth(), 800);
    EXPECT_EQ(config.GetUsername(), "");
  }
}

TEST_F(ConfigTest, UnreadableFileStillReadsCredentials) {
  // A directory exists but cannot be read as a file.
  setenv("VKX_CONFIG_PATH", dir_.path().c_str(), 1);
  setenv("VKX_BRELLIK_USERNAME", "", 1);
  setenv("VKX_BRELLIK_PASSWORD", "pw", 1);
  Config config;
  EXPECT_EQ(TakeErr(),
            "Unable to open config file at path: " + dir_.path() + "\n");
  EXPECT_EQ(config.GetUsername(), "");
  EXPECT_EQ(config.GetPassword(), "pw");
  EXPECT_EQ(config.GetUrl(), Config::kDefaultUrl);
  EXPECT_TRUE(config.Reload());
  TakeErr();
}

TEST_F(ConfigTest, LineSplittingIsByteExact) {
  Write("url=https://example.test/a?b=c&d=e\n"
        "displayMode=fullscreen\r\n"
        "width=1024\r\n"
        "height=\n"
        "enableToolbar=true\r\n"
        "iconName=brellik\r\n"
        "=orphan\n"
        "no equals sign\n"
        " width=5\n"
        "#height=1\n"
        "cachePath=\"/var/cache/kiosk\"");
  Config config;
  EXPECT_EQ(config.GetUrl(), "https://example.test/a?b=c&d=e");
  EXPECT_EQ(config.GetDisplayMode(), Config::Windowed);  // the carriage return stays
  EXPECT_EQ(config.GetWidth(), 1024);                    // conversion stops at it
  EXPECT_EQ(config.GetHeight(), 600);                    // empty value skipped
  EXPECT_FALSE(config.GetEnableToolbar());
  EXPECT_EQ(config.GetIconName(), "brellik\r");
  EXPECT_EQ(config.GetCachePath(), "\"/var/cache/kiosk\"");  // last line, no line feed
}

TEST_F(ConfigTest, ValuesAreCaseSensitiveAndLastLineWins) {
  Write("displayMode=maximized\nwidth=1024\nwidth=1280\nendSessionKey=ctrlaltc\n"
        "disableKbdShortcuts=TRUE\ndisableContextMenu=1\nenableAutoHide=true \n"
        "enableToolbar=no\nacceptCertError=true\nheight=+0768px\n");
  Config config;
  EXPECT_EQ(config.GetDisplayMode(), Config::Maximized);
  EXPECT_EQ(config.GetWidth(), 1280);
  EXPECT_EQ(config.GetHeight(), 768);
  EXPECT_EQ(config.GetEndSessionKey(), 0);
  EXPECT_FALSE(config.GetDisableKbdShortcuts());
  EXPECT_FALSE(config.GetDisableContextMenu());
  EXPECT_FALSE(config.GetEnableAutoHide());
  EXPECT_FALSE(config.GetEnableToolbar());
  EXPECT_TRUE(config.GetAcceptCertError());

  config.Print();
  EXPECT_EQ(TakeOut(), "Configuration values:\nURL: https://www.debian.org/\nDisplay Mode: 1\n"
                       "Cache Path: \nWidth: 1280\nHeight: 768\n"
                       "Disable Keyboard Shortcuts: false\nDisable Context Menu: false\n"
                       "Enable Toolbar: false\nAuto Hide: false\nEnd Session Key: 0\n");

  Write("displayMode=Fullscreen\nendSessionKey=CtrlAltC\n");
  config.Reload();
  EXPECT_EQ(config.GetDisplayMode(), Config::Windowed);
  EXPECT_EQ(config.GetEndSessionKey(), 1);
}

TEST_F(ConfigTest, NumbersFollowStrtolAndBadOnesAreReported) {
  Write("width=0x400\nheight=-5\n");
  Config config;
  EXPECT_EQ(config.GetWidth(), 0);
  EXPECT_EQ(config.GetHeight(), -5);

  Write("width=wide\nheight=99999999999\n");
  config.Reload();
  const std::string err = TakeErr();
  EXPECT_EQ(config.GetWidth(), 800);
  EXPECT_EQ(config.GetHeight(), 600);
  EXPECT_EQ(err,
            "Ignoring width value that is not a number in int range: wide\n"
            "Ignoring height value that is not a number in int range: 99999999999\n");
}

TEST_F(ConfigTest, CookieSettingsNeedCacheCookiesAndSurviveReloads) {
  Write("cookieFile=/tmp/a\ncookieFilter=x\n");
  Config config;
  EXPECT_EQ(config.GetCookieFile(), "");

  Write("cookieFile=/tmp/a\ncookieFilter=SID,token\ncacheCookies=true\n");
  config.Reload();
  EXPECT_TRUE(config.GetCacheCookies());
  EXPECT_EQ(config.GetCookieFile(), "/tmp/a");
  EXPECT_EQ(config.GetCookieFilter(), "SID,token");

  // A reload without cacheCookies turns caching off but keeps the file names.
  Write("cookieFile=/tmp/b\n");
  config.Reload();
  EXPECT_FALSE(config.GetCacheCookies());
  EXPECT_EQ(config.GetCookieFile(), "/tmp/a");
}

// The credentials are read once and leave the environment (no program the
// kiosk starts inherits them); every reload keeps them.
TEST_F(ConfigTest, CredentialsLeaveTheEnvironmentAndSurviveReloads) {
  Write("url=https://kiosk.test/\nacceptCertError=true\n");
  setenv("VKX_BRELLIK_USERNAME", "user", 1);
  setenv("VKX_BRELLIK_PASSWORD", "secret", 1);
  Config config;
  EXPECT_EQ(config.GetUsername(), "user");
  EXPECT_EQ(config.GetPassword(), "secret");
  EXPECT_EQ(std::getenv("VKX_BRELLIK_USERNAME"), nullptr);
  EXPECT_EQ(std::getenv("VKX_BRELLIK_PASSWORD"), nullptr);
  for (const std::string& entry : vkx::StartEnvironment()) {
    EXPECT_EQ(entry.find("secret"), std::string::npos) << entry;
  }
  EXPECT_TRUE(config.Reload());
  EXPECT_EQ(config.GetUsername(), "user");
  EXPECT_EQ(config.GetPassword(), "secret");
  EXPECT_EQ(config.GetUrl(), "https://kiosk.test/");

  unlink(path_.c_str());
  EXPECT_FALSE(config.Reload());
  EXPECT_EQ(TakeErr(), "Config file does not exist: " + path_ + "\n");
  EXPECT_FALSE(config.GetAcceptCertError());
  EXPECT_EQ(config.GetUrl(), Config::kDefaultUrl);
}

TEST_F(ConfigTest, FifoIsRefusedInsteadOfBlocking) {
  const std::string fifo = dir_.path() + "/fifo.conf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("VKX_CONFIG_PATH", fifo.c_str(), 1);
  Config config;  // would never return if it waited for a writer
  EXPECT_EQ(TakeErr(), "Unable to open config file at path: " + fifo + "\n");
  EXPECT_EQ(config.GetWidth(), 800);
}

// What an operator checks before shipping a file: every key with the value
// the kiosk would use, then each ignored line with its reason; credentials
// from the environment are never shown.
TEST_F(ConfigTest, CheckShowsKeysInUseAndIgnoredLines) {
  Write("url=https://x.test/\nwidth=wide\nfoo=bar\ncookieFile=/tmp/c\nheight=700\nheight=720\n"
        "noequals\n\nacceptLanguageList=\nzoomLevel=9\nonScreenKeyboard=true\n");
  setenv("VKX_BRELLIK_PASSWORD", "secret-password", 1);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", "/nonexistent", 1);
  EXPECT_TRUE(Config::Check());
  setenv("PATH", path.c_str(), 1);
  const std::string out = TakeOut();
  EXPECT_NE(out.find("\nThe on-screen keyboard is not installed (onScreenKeyboard=true): "
                     "onboard is not in PATH"),
            std::string::npos);
  EXPECT_EQ(out.rfind("Configuration file: " + path_ + "\nurl=https://x.test/\n", 0), 0u) << out;
  for (const char* line : {"width=800 (default)\n", "height=720\n", "cookieFile= (default)\n",
                           "requireSandbox=false (default)\n",
                           "loginUserField=#username-field (default)\n",
                           "loginSubmit= (default)\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  }
  EXPECT_NE(out.find("Line 2 ignored (not a number in int range): width=wide\n"
                     "Line 3 ignored (unknown key): foo=bar\n"
                     "Line 4 ignored (read only where cacheCookies=true): cookieFile=/tmp/c\n"
                     "Line 5 ignored (set again on line 6): height=700\n"
                     "Line 7 ignored (no key=value): noequals\n"
                     "Line 9 ignored (empty value): acceptLanguageList=\n"
                     "Line 10 ignored (not a number from 0.25 to 5): zoomLevel=9\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("secret-password"), std::string::npos);
  EXPECT_NE(out.find("\nThe sign-in credentials are offered to every host"), std::string::npos);
  EXPECT_EQ(TakeErr(), "");

  setenv("VKX_CONFIG_PATH", (path_ + ".missing").c_str(), 1);
  EXPECT_FALSE(Config::Check());
  EXPECT_EQ(TakeOut(), "");
  EXPECT_EQ(TakeErr(), "Config file does not exist: " + path_ + ".missing\n");
}

}  // namespace
