// The request policy: navigations and certificate errors.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "engine/engine.h"
#include "config/environment.h"
#include "request/cert_validation.h"
#include "request/client_certificate.h"
#include "request/lockdown.h"

namespace vkx {
class Recovery;
}

class RequestHandler : public engine::RequestHandler {
 public:
  // Certificates are checked against `trustStore`: the system's by default.
  using Clock = vkx::RateLimit::Clock;
  explicit RequestHandler(vkx::TrustStore trustStore = vkx::SystemTrustStore(),
                          std::function<Clock::time_point()> clock = Clock::now)
      : trust_store_(std::move(trustStore)), clock_(std::move(clock)) {}

  bool OnBeforeBrowse(engine::BrowserPtr browser, const std::string& url, bool user_gesture,
                      bool is_redirect) override;
  bool OnOpenURLFromTab(engine::BrowserPtr browser, const std::string& target_url,
                        engine::WindowOpenDisposition disposition, bool user_gesture) override;
  bool OnCertificateError(engine::BrowserPtr browser, int cert_error, const std::string& url,
                          const engine::SslInfo& ssl_info,
                          std::shared_ptr<engine::Callback> callback) override;
  void OnRenderProcessTerminated(engine::BrowserPtr browser,
                                 engine::TerminationStatus status) override;
  void OnNavigationEndedRenderer(engine::BrowserPtr browser, const std::string& url) override;
  void OnRenderProcessUnresponsive(engine::BrowserPtr browser) override;
  void OnRenderProcessResponsive(engine::BrowserPtr browser) override;
  engine::ClientCertificatePtr OnClientCertificateRequest(engine::BrowserPtr browser,
                                                          const std::string& host,
                                                          int port) override;
  std::optional<std::string> OnClientCertificatePin(engine::BrowserPtr browser,
                                                    const engine::PinRequest& request) override;

  // Where renderer crashes and hangs are reported.
  void SetRecovery(std::shared_ptr<vkx::Recovery> recovery) { recovery_ = std::move(recovery); }

 private:
  // Hands the URL to the desktop's opener, in the background.
  void LaunchDefaultHandler(const std::string& url);

  const vkx::TrustStore trust_store_;
  std::function<Clock::time_point()> clock_;
  vkx::RateLimit launches_ = vkx::ExternalLaunchRate();
  std::shared_ptr<vkx::Recovery> recovery_;
  // Navigations that ended the renderer (the engine ends it for a redirect
  // to a local file): refused from then on, so that a page cannot loop the
  // kiosk through renderer restarts.
  std::set<std::string> renderer_enders_;
  // The client certificate's PIN: the environment's, or what a person typed.
  std::shared_ptr<vkx::PinKeeper> pin_ =
      std::make_shared<vkx::PinKeeper>(vkx::TakeCertificatePin());
  // The certificate as last loaded, and the configured names it was loaded
  // for ("certificate\nkey").
  engine::ClientCertificatePtr certificate_;
  std::string certificate_names_;
  // Hosts told once that they were offered the certificate.
  std::set<std::string> certificate_hosts_;
};

using vkx::IsExternalProtocolUrl;
