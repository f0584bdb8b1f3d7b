#include "request/recovery.h"

#include <algorithm>
#include <string>
#include <utility>

#include "config/config.h"
#include "log/log.h"
#include "request/lockdown.h"

namespace vkx {

using std::chrono::milliseconds;

milliseconds Backoff::Next(Clock::time_point now) {
  if (last_ && now - *last_ >= std::chrono::minutes(1)) attempts_ = 0;
  last_ = now;
  int attempt = attempts_++;
  if (at_once_first_) {
    if (attempt == 0) return milliseconds(0);
    --attempt;
  }
  const int shift = std::min(attempt, 5);  // 1, 2, 4, 8, 16, 32 -> capped at 30
  return std::min(milliseconds(1000LL << shift), milliseconds(30000));
}

bool IsRetryableLoadError(int error_code) {
  switch (error_code) {
    case engine::ERR_FAILED:
    case engine::ERR_TIMED_OUT:
    case engine::ERR_CONNECTION_CLOSED:
    case engine::ERR_CONNECTION_RESET:
    case engine::ERR_CONNECTION_REFUSED:
    case engine::ERR_CONNECTION_FAILED:
    case engine::ERR_NAME_NOT_RESOLVED:
    case engine::ERR_INTERNET_DISCONNECTED:
    case engine::ERR_ADDRESS_UNREACHABLE:
    case engine::ERR_CONNECTION_TIMED_OUT:
      return true;
    default:
      return false;
  }
}

bool IsRetryableStatus(int http_status_code) {
  return http_status_code == 502 || http_status_code == 503 || http_status_code == 504;
}

void Recovery::OnLoadStart(engine::BrowserPtr /*browser*/, const std::string& url) {
  // Somewhere else now: the pending retry is no longer wanted.
  if (!retry_url_.empty() && url != retry_url_) {
    ++retry_generation_;
    retry_url_.clear();
  }
}

void Recovery::OnLoadEnd(engine::BrowserPtr browser, const std::string& url,
                         int http_status_code) {
  // A renderer that shows a page works; the engine's error page (no
  // status) is no page.
  if (http_status_code != 0) troubled_since_.reset();
  if (IsRetryableStatus(http_status_code)) {
    ScheduleRetry(browser, url, "server answered " + std::to_string(http_status_code),
                  StatusReason::ServerError, http_status_code);
    return;
  }
  if (http_status_code != 0) {
    ++retry_generation_;
    retry_url_.clear();
  }
}

void Recovery::OnLoadError(engine::BrowserPtr browser, const std::string& url, int error_code,
                           const std::string& error_text) {
  if (error_code == engine::ERR_SSL_CLIENT_AUTH_CERT_NEEDED) {
    OnClientCertificateNeeded(browser, url, std::exchange(client_certificate_unusable_, false));
    return;
  }
  if (!IsRetryableLoadError(error_code)) return;
  ScheduleRetry(browser, url, error_text + ", error " + std::to_string(error_code),
                ReasonOfLoadError(error_code));
}

void Recovery::OnCertificateRefused(engine::BrowserPtr browser, const std::string& url,
                                    CertProblem problem) {
  if (!MayLoad(url)) return;
  RetryLater(browser, url, kCertificateRetry);
  StatusPage page;
  page.reason = StatusReason::CertificateRefused;
  page.certificate = problem;
  ShowStatus(browser, url, page, kCertificateRetry);
}

void Recovery::OnClientCertificateNeeded(engine::BrowserPtr browser, const std::string& url,
                                         bool unusable) {
  if (!MayLoad(url)) return;
  RetryLater(browser, url, kCertificateRetry);
  StatusPage page;
  page.reason = unusable ? StatusReason::ClientCertificateUnusable
                         : StatusReason::ClientCertificateMissing;
  ShowStatus(browser, url, page, kCertificateRetry);
}

bool Recovery::MayLoad(const std::string& url) {
  return JudgeUrl(url, Config::Instance()) == UrlVerdict::Allow;
}

void Recovery::ScheduleRetry(engine::BrowserPtr browser, const std::string& url,
                             const std::string& why, StatusReason reason, int http_status) {
  if (!MayLoad(url)) return;
  const milliseconds delay = load_backoff_.Next(clock_());
  LogError("Load of " + url + " failed (" + why + "): trying again in " +
           std::to_string(delay.count()) + " ms");
  RetryLater(browser, url, delay);
  StatusPage page;
  page.reason = reason;
  page.httpStatus = http_status;
  ShowStatus(browser, url, page, delay);
}

void Recovery::ShowStatus(engine::BrowserPtr browser, const std::string& url, StatusPage page,
                          milliseconds delay) {
  page.url = url;
  page.retrySeconds = static_cast<int>((delay.count() + 999) / 1000);
  page.language = StatusLanguage(languages_ ? languages_() : std::string());
  browser->ShowStatusPage(StatusPageHtml(page), url);
}

void Recovery::RetryLater(engine::BrowserPtr browser, const std::string& url, milliseconds delay) {
  retry_url_ = url;
  const int generation = ++retry_generation_;
  std::weak_ptr<Recovery> weak = shared_from_this();
  std::weak_ptr<engine::Browser> target = browser;
  engine::PostDelayedToUiThread(
      [weak, target, generation, url] {
        auto self = weak.lock();
        auto page = target.lock();
        if (!self || !page || generation != self->retry_generation_) return;
        page->LoadURL(url);
      },
      static_cast<int>(delay.count()));
}

void Recovery::OnRendererTerminated(engine::BrowserPtr browser, engine::TerminationStatus status) {
  ++hang_generation_;
  if (!troubled_since_) troubled_since_ = clock_();
  const milliseconds delay = crash_backoff_.Next(clock_());
  const char* how = status == engine::TerminationStatus::Crashed       ? "crashed"
                    : status == engine::TerminationStatus::OutOfMemory ? "ran out of memory"
                                                                       : "was ended";
  const std::string url = browser->GetMainFrameURL();
  LogError(std::string("Renderer process ") + how + ": reloading " + url + " in " +
           std::to_string(delay.count()) + " ms");
  // A reload at once needs no page in between.
  if (delay.count() > 0) {
    StatusPage page;
    page.reason = ReasonOfTermination(status);
    ShowStatus(browser, url, page, delay);
  }
  std::weak_ptr<engine::Browser> target = browser;
  engine::PostDelayedToUiThread(
      [target] {
        if (auto page = target.lock()) page->Reload();
      },
      static_cast<int>(delay.count()));
}

void Recovery::OnUnresponsive(engine::BrowserPtr browser) {
  const int generation = ++hang_generation_;
  if (!troubled_since_) troubled_since_ = clock_();
  std::weak_ptr<Recovery> weak = shared_from_this();
  std::weak_ptr<engine::Browser> target = browser;
  engine::PostDelayedToUiThread(
      [weak, target, generation] {
        auto self = weak.lock();
        auto page = target.lock();
        if (!self || !page || generation != self->hang_generation_) return;
        LogError("Page not responding: ending its renderer");
        page->TerminateRenderProcess();
      },
      kHangGraceMs);
}

void Recovery::OnResponsive(engine::BrowserPtr /*browser*/) {
  ++hang_generation_;
  troubled_since_.reset();
}

bool Recovery::Healthy() const { return !troubled_since_ || clock_() - *troubled_since_ < kGiveUpAfter; }

}  // namespace vkx
