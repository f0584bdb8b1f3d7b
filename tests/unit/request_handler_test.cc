#include "request/request_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "config/config.h"
#include "fake_engine.h"
#include "log_capture.h"
#include "test_pki.h"

namespace {

class RequestHandlerTest : public TestPki {
 protected:
  void SetUp() override {
    config_path_ = Dir() + "/vkx.conf";
    fake::Cookies() = std::make_shared<fake::CookieManager>();
    fake::Log() = {};
  }
  void TearDown() override {
    unlink(config_path_.c_str());
    unsetenv("VKX_CONFIG_PATH");
    fake::Cookies() = std::make_shared<fake::CookieManager>();
  }
  void Configure(const std::string& content) { WriteConfig(config_path_, content); }

  struct Answer {
    bool handled = false;
    int continued = 0;
    int cancelled = 0;
    std::string err;
    bool operator==(const Answer&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Answer& a) {
      return out << "handled " << a.handled << ", continued " << a.continued << ", cancelled "
                 << a.cancelled << ", logged \"" << a.err << '"';
    }
  };
  // The answers of a handled error: continued, or cancelled, once.
  static Answer Continued(const std::string& err = "") { return {true, 1, 0, err}; }
  static Answer Cancelled(const std::string& err = "") { return {true, 0, 1, err}; }

  static Answer CertError(RequestHandler& handler, int error, const engine::SslInfo& info) {
    auto callback = std::make_shared<fake::CertCallback>();
    Answer answer;
    LogCapture log;
    answer.handled = handler.OnCertificateError(std::make_shared<fake::Browser>(1), error,
                                                "https://kiosk.test/", info, callback);
    answer.err = log.TakeError();
    answer.continued = callback->continued;
    answer.cancelled = callback->cancelled;
    return answer;
  }

  std::string config_path_;
};

TEST_F(RequestHandlerTest, AcceptCertErrorContinuesWithoutChecking) {
  Configure("acceptCertError=true\n");
  RequestHandler handler(RootStore());
  const Ders& c = Certs();
  const engine::SslInfo infos[] = {{}, {c.forged, {c.intermediate}}, {{1, 2, 3}, {}}};
  for (int error : {engine::ERR_CERT_COMMON_NAME_INVALID, engine::ERR_CERT_AUTHORITY_INVALID,
                    engine::ERR_CERT_DATE_INVALID}) {
    for (const engine::SslInfo& info : infos) {
      EXPECT_EQ(CertError(handler, error, info), Continued());
    }
  }
}

TEST_F(RequestHandlerTest, NameMismatchAndMissingCertificateCancelWithoutChecking) {
  Configure("acceptCertError=false\n");
  RequestHandler handler(RootStore());
  const Ders& c = Certs();
  for (const auto& [error, info] :
       {std::pair<int, engine::SslInfo>{engine::ERR_CERT_COMMON_NAME_INVALID, {c.leaf, {c.intermediate}}},
        {engine::ERR_CERT_AUTHORITY_INVALID, {{}, {c.intermediate}}},
        {engine::ERR_CERT_DATE_INVALID, {}}}) {
    SCOPED_TRACE(error);
    EXPECT_EQ(CertError(handler, error, info), Cancelled());
  }
}

TEST_F(RequestHandlerTest, OtherErrorsFollowTheKiosksOwnVerification) {
  Configure("url=https://kiosk.test/\n");
  RequestHandler handler(RootStore());
  const Ders& c = Certs();

  EXPECT_EQ(CertError(handler, engine::ERR_CERT_AUTHORITY_INVALID, {c.leaf, {c.intermediate}}),
            Continued(kTraceOk));
  EXPECT_EQ(CertError(handler, engine::ERR_CERT_AUTHORITY_INVALID, {c.leaf, {}}),
            Cancelled(kTraceRefused));
  EXPECT_EQ(CertError(handler, engine::ERR_CERT_DATE_INVALID, {c.expired, {c.intermediate}}),
            Cancelled(kTraceRefused));

  // The default store is the system's, which does not know the test root.
  RequestHandler systemHandler;
  EXPECT_EQ(CertError(systemHandler, engine::ERR_CERT_AUTHORITY_INVALID, {c.leaf, {c.intermediate}}),
            Cancelled(kTraceRefused));
}

TEST_F(RequestHandlerTest, AcceptanceIsReadAgainAtEveryError) {
  RequestHandler handler(RootStore());
  const engine::SslInfo forged{Certs().forged, {Certs().intermediate}};

  Configure("acceptCertError=true\n");
  EXPECT_EQ(CertError(handler, engine::ERR_CERT_AUTHORITY_INVALID, forged).continued, 1);

  Configure("width=1024\n");
  EXPECT_EQ(CertError(handler, engine::ERR_CERT_AUTHORITY_INVALID, forged), Cancelled(kTraceRefused));

  Configure("acceptCertError=true\n");
  EXPECT_EQ(CertError(handler, engine::ERR_CERT_AUTHORITY_INVALID, forged).continued, 1);

  // Without a configuration file nothing is accepted.
  unlink(config_path_.c_str());
  EXPECT_EQ(CertError(handler, engine::ERR_CERT_AUTHORITY_INVALID, forged),
            Cancelled("Config file does not exist: " + config_path_ + "\n" + kTraceRefused));
}

TEST(ExternalProtocol, OnlyTheExactLowerCaseSchemeAtTheStart) {
  EXPECT_TRUE(IsExternalProtocolUrl("vmware-view://x"));
  EXPECT_TRUE(IsExternalProtocolUrl("vmware-view://"));
  EXPECT_TRUE(IsExternalProtocolUrl("vmware-view://broker.test/desktop?action=start-session"));
  EXPECT_FALSE(IsExternalProtocolUrl("vmware-view:x"));
  EXPECT_FALSE(IsExternalProtocolUrl("vmware-view:/x"));
  EXPECT_FALSE(IsExternalProtocolUrl("VMWARE-VIEW://x"));
  EXPECT_FALSE(IsExternalProtocolUrl("Vmware-view://x"));
  EXPECT_FALSE(IsExternalProtocolUrl(" vmware-view://x"));
  EXPECT_FALSE(IsExternalProtocolUrl("https://x/?u=vmware-view://x"));
  EXPECT_FALSE(IsExternalProtocolUrl("vmware-vie://x"));
  EXPECT_FALSE(IsExternalProtocolUrl(""));
}

// PATH for the length of one scope.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& path) {
    if (const char* old = std::getenv("PATH")) old_ = old;
    setenv("PATH", path.c_str(), 1);
  }
  ~ScopedPath() { setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

TEST_F(RequestHandlerTest, ExternalUrlGoesToTheDesktopOpenerAsOneArgument) {
  const std::string bin = Dir() + "/bin";
  const std::string args = Dir() + "/args";
  ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
  const std::string opener = bin + "/xdg-open";
  std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > " << args
                        << ".tmp && /bin/mv " << args << ".tmp " << args << "\n";
  ASSERT_EQ(chmod(opener.c_str(), 0700), 0);

  RequestHandler handler(RootStore());
  const std::string url = "vmware-view://broker.test/desk top?a=1&b=$(touch pwned);'\"*";
  LogCapture log;
  {
    ScopedPath path(bin);
    EXPECT_TRUE(handler.OnBeforeBrowse(std::make_shared<fake::Browser>(1), url, true, false));
  }
  EXPECT_EQ(log.TakeError(), "");

  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(args);
    if (in) {
      std::stringstream content;
      content << in.rdbuf();
      received = content.str();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(received, "1\n" + url + "\n");
  unlink(args.c_str());
  unlink(opener.c_str());
  rmdir(bin.c_str());
  // No cookie work for a URL the kiosk does not load.
  EXPECT_TRUE(fake::Cookies()->set_calls.empty());

  // Without an opener the failure is reported and the navigation still stopped.
  {
    ScopedPath path(Dir() + "/nowhere");
    EXPECT_TRUE(handler.OnBeforeBrowse(std::make_shared<fake::Browser>(1), "vmware-view://x", false,
                                       false));
  }
  // The line says why: the spawn's own error text follows the URL.
  const std::string failure = log.TakeError();
  EXPECT_EQ(failure.rfind("Failed to launch default handler for URL: vmware-view://x: ", 0), 0u)
      << failure;
  EXPECT_NE(failure.find("xdg-open"), std::string::npos) << failure;
  EXPECT_EQ(std::count(failure.begin(), failure.end(), '\n'), 1) << failure;
}

// A navigation that made the engine end the renderer is refused from then
// on (a page cannot loop the kiosk through restarts); the configured page
// never is.
TEST_F(RequestHandlerTest, NavigationThatEndedTheRendererIsRefusedAfterwards) {
  Configure("url=https://start.test/\n");
  ASSERT_TRUE(Config::Instance().Reload());
  RequestHandler handler(RootStore());
  auto browser = std::make_shared<fake::Browser>(1);
  LogCapture log;
  handler.OnNavigationEndedRenderer(browser, "https://start.test/");
  handler.OnNavigationEndedRenderer(browser, "https://x.test/to-file");
  handler.OnNavigationEndedRenderer(browser, "https://x.test/to-file");
  EXPECT_EQ(log.TakeError(), "URL not allowed: https://x.test/to-file\n");
  EXPECT_TRUE(handler.OnBeforeBrowse(browser, "https://x.test/to-file", true, false));
  EXPECT_EQ(log.TakeError(), "URL not allowed: https://x.test/to-file\n");
  EXPECT_FALSE(handler.OnBeforeBrowse(browser, "https://x.test/", true, false));
  EXPECT_FALSE(handler.OnBeforeBrowse(browser, "https://start.test/", false, false));
  EXPECT_EQ(log.TakeError(), "");
}

// The certificate goes to its hosts only (the host of url by default); a
// token's PIN is typed on the kiosk's page, kept, forgotten once refused, and
// never logged.
TEST_F(RequestHandlerTest, ClientCertificateToItsHostsAndItsPinTypedOnce) {
  RequestHandler handler(RootStore());
  auto browser = std::make_shared<fake::Browser>(1);
  LogCapture log;
  struct Case {
    const char* config;
    const char* host;
    bool offered;
  };
  for (const Case& c : {Case{"", "portal.test", false},
                        Case{"clientCertificate=c.pem\n", "portal.test", true},
                        Case{"clientCertificate=c.pem\n", "other.test", false},
                        Case{"clientCertificate=c.pem\nclientCertificateHosts=*.org.test\n",
                             "a.org.test", true},
                        Case{"clientCertificate=c.pem\nclientCertificateHosts=*.org.test\n",
                             "portal.test", false},
                        Case{"clientCertificate=missing.pem\n", "portal.test", false}}) {
    Configure(std::string("url=https://portal.test/\n") + c.config);
    ASSERT_TRUE(Config::Instance().Reload());
    EXPECT_EQ(handler.OnClientCertificateRequest(browser, c.host, 443) != nullptr, c.offered)
        << c.config << c.host;
  }
  EXPECT_EQ(log.TakeError(), "Client certificate not loaded (clientCertificate): No such file\n");

  const std::string pin = "pin-5150";
  EXPECT_EQ(handler.OnClientCertificatePin(browser, {"portal.<b>", false, 0}), std::nullopt);
  ASSERT_EQ(browser->status_pages.size(), 1u);
  EXPECT_NE(browser->status_pages[0].html.find("portal.&lt;b&gt;"), std::string::npos);
  browser->pin_entered(pin);
  EXPECT_EQ(browser->loaded, std::vector<std::string>{browser->main_frame_url});
  EXPECT_EQ(handler.OnClientCertificatePin(browser, {"portal.test", false, 0}), pin);
  EXPECT_EQ(handler.OnClientCertificatePin(browser, {"portal.test", true, 1}), std::nullopt);
  ASSERT_EQ(browser->status_pages.size(), 2u);
  EXPECT_NE(browser->status_pages[1].html.find("wrong. This is the last try."), std::string::npos);
  EXPECT_EQ(log.TakeInfo().find(pin), std::string::npos);
}

// A stored PIN never locks the token: a refused PIN is forgotten, and the
// final try is only ever given a PIN a person has just typed.
TEST(PinKeeper, LeavesTheLastTryToAPerson) {
  vkx::PinKeeper keeper("1234");
  EXPECT_EQ(keeper.Answer(false, 2), "1234");
  EXPECT_EQ(keeper.Answer(false, 0), "1234");
  EXPECT_EQ(keeper.Answer(false, 1), std::nullopt);
  EXPECT_EQ(keeper.Answer(true, 2), std::nullopt);
  EXPECT_EQ(keeper.Answer(false, 2), std::nullopt);
  keeper.Entered("5678");
  EXPECT_EQ(keeper.Answer(false, 1), "5678");
  EXPECT_EQ(keeper.Answer(false, 1), std::nullopt);
  EXPECT_EQ(keeper.Answer(false, 0), "5678");
}

TEST_F(RequestHandlerTest, NavigationInjectsTheConfiguredCookies) {
  const std::string cookies = Dir() + "/cookies.txt";
  std::ofstream(cookies) << ".example.test\tTRUE\t/\tFALSE\t0\tSID\tv\t\n"
                         << ".example.test\tTRUE\t/\tFALSE\t0\tdrop\tv\t\n";
  Configure("cacheCookies=true\ncookieFile=" + cookies + "\ncookieFilter=drop\n");
  RequestHandler handler(RootStore());
  LogCapture log;
  EXPECT_FALSE(handler.OnBeforeBrowse(std::make_shared<fake::Browser>(1),
                                      "https://www.example.test/", true, false));
  const std::string err = log.TakeError();
  ASSERT_EQ(fake::Cookies()->set_calls.size(), 1u) << err;
  EXPECT_EQ(fake::Cookies()->set_calls[0].cookie.name, "SID");
  EXPECT_EQ(fake::Cookies()->set_calls[0].url, "https://www.example.test/");

  // Without a configuration file nothing is injected.
  unlink(config_path_.c_str());
  EXPECT_FALSE(handler.OnBeforeBrowse(std::make_shared<fake::Browser>(1),
                                      "https://www.example.test/", true, false));
  EXPECT_EQ(log.TakeError(), "Config file does not exist: " + config_path_ + "\n");
  EXPECT_EQ(fake::Cookies()->set_calls.size(), 1u);
  unlink(cookies.c_str());

  // A new tab the user asks for (middle or ctrl click) is cancelled: one view only.
  EXPECT_TRUE(handler.OnOpenURLFromTab(std::make_shared<fake::Browser>(1), "https://x/",
                                       engine::WindowOpenDisposition::NewForegroundTab, true));
  EXPECT_FALSE(handler.OnOpenURLFromTab(std::make_shared<fake::Browser>(1), "https://x/",
                                        engine::WindowOpenDisposition::NewForegroundTab, false));
}

// The record keeps the cookie file once caching has been on, and navigation
// goes on injecting it; only saving looks at cacheCookies.
TEST_F(RequestHandlerTest, RememberedCookieFileIsStillInjectedAfterCachingIsSwitchedOff) {
  const std::string cookies = Dir() + "/cookies.txt";
  std::ofstream(cookies) << ".example.test\tTRUE\t/\tFALSE\t0\tSID\tv\t\n";
  Configure("cacheCookies=true\ncookieFile=" + cookies + "\ncookieFilter=drop\n");
  RequestHandler handler(RootStore());
  LogCapture log;
  handler.OnBeforeBrowse(std::make_shared<fake::Browser>(1), "https://www.example.test/", true, false);
  EXPECT_EQ(fake::Cookies()->set_calls.size(), 1u);

  Configure("url=https://www.example.test/\n");
  handler.OnBeforeBrowse(std::make_shared<fake::Browser>(1), "https://www.example.test/", true, false);
  EXPECT_EQ(fake::Cookies()->set_calls.size(), 2u);
  unlink(cookies.c_str());
}

}  // namespace
