// Keeps a kiosk that nobody attends on its page: a crashed or hung renderer
// is reloaded, and a page that failed to load is tried again, with back-off.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "request/cert_validation.h"
#include "request/status_page.h"

namespace vkx {

// Delays between recovery attempts: 1 s doubling up to 30 s, started over
// after a minute without trouble. With `atOnceFirst` the first attempt
// comes at once and the doubling starts with the second.
class Backoff {
 public:
  using Clock = std::chrono::steady_clock;
  explicit Backoff(bool atOnceFirst) : at_once_first_(atOnceFirst) {}
  std::chrono::milliseconds Next(Clock::time_point now);

 private:
  const bool at_once_first_;
  std::optional<Clock::time_point> last_;
  int attempts_ = 0;
};

// Whether a failed main-frame load is worth trying again: the network or
// the server was away. Refusals (ours, a certificate's) and cancellations are not.
bool IsRetryableLoadError(int error_code);
bool IsRetryableStatus(int http_status_code);

// While the page is away, the kiosk's status page stands in for it: it
// says why and when the next attempt comes.
class Recovery : public std::enable_shared_from_this<Recovery> {
 public:
  using Clock = Backoff::Clock;
  // `languages`: the accept-language list, whose first entry picks the
  // status page's language.
  explicit Recovery(std::function<Clock::time_point()> clock = Clock::now,
                    std::function<std::string()> languages = nullptr)
      : clock_(std::move(clock)), languages_(std::move(languages)) {}

  void OnLoadStart(engine::BrowserPtr browser, const std::string& url);
  void OnLoadEnd(engine::BrowserPtr browser, const std::string& url, int http_status_code);
  void OnLoadError(engine::BrowserPtr browser, const std::string& url, int error_code,
                   const std::string& error_text);
  // The kiosk refused the server's certificate for the main frame's `url`:
  // tried again every kCertificateRetry, so that a renewed certificate or a
  // changed acceptCertError brings the page back.
  void OnCertificateRefused(engine::BrowserPtr browser, const std::string& url,
                            CertProblem problem);
  static constexpr std::chrono::seconds kCertificateRetry{60};
  // The site at `url` demands a client certificate and got none: a status
  // page that says so (`unusable`: the configured one cannot be loaded),
  // tried again like a refused certificate.
  void OnClientCertificateNeeded(engine::BrowserPtr browser, const std::string& url,
                                 bool unusable);
  // The configured client certificate could not be loaded: the next site
  // that demands one is told so.
  void NoteClientCertificateUnusable() { client_certificate_unusable_ = true; }
  void OnRendererTerminated(engine::BrowserPtr browser, engine::TerminationStatus status);
  void OnUnresponsive(engine::BrowserPtr browser);
  void OnResponsive(engine::BrowserPtr browser);
  // False once the renderer has been dead or hung for kGiveUpAfter without
  // a page loading since: what recovery could do has not helped.
  bool Healthy() const;
  static constexpr std::chrono::seconds kGiveUpAfter{60};

  // How long a page may go on not answering, after the engine noticed,
  // before its renderer is ended.
  static constexpr int kHangGraceMs = 5000;

 private:
  // A retry loads what a page asked for: it passes the same rule as the
  // page's own navigations (a "javascript:" URL is never run by a retry).
  static bool MayLoad(const std::string& url);
  void ScheduleRetry(engine::BrowserPtr browser, const std::string& url, const std::string& why,
                     StatusReason reason, int http_status = 0);
  // Loads `url` again after `delay`, unless another retry or load came since.
  void RetryLater(engine::BrowserPtr browser, const std::string& url,
                  std::chrono::milliseconds delay);
  // `page` with its reason (and what goes with it) filled in.
  void ShowStatus(engine::BrowserPtr browser, const std::string& url, StatusPage page,
                  std::chrono::milliseconds delay);

  std::function<Clock::time_point()> clock_;
  bool client_certificate_unusable_ = false;
  std::function<std::string()> languages_;
  Backoff crash_backoff_{true};
  Backoff load_backoff_{false};
  std::string retry_url_;
  int retry_generation_ = 0;
  int hang_generation_ = 0;
  std::optional<Clock::time_point> troubled_since_;
};

}  // namespace vkx
