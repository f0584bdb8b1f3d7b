// The request policy: navigations and certificate errors.
#pragma once

#include <memory>
#include <string>

#include "engine/engine.h"
#include "request/cert_validation.h"

namespace vkx {
class Recovery;
}

class RequestHandler : public engine::RequestHandler {
 public:
  // Certificates are checked against `trustStore`: the system's by default.
  explicit RequestHandler(vkx::TrustStore trustStore = vkx::SystemTrustStore())
      : trust_store_(std::move(trustStore)) {}

  bool OnBeforeBrowse(engine::BrowserPtr browser, const std::string& url, bool user_gesture,
                      bool is_redirect) override;
  bool OnOpenURLFromTab(engine::BrowserPtr browser, const std::string& target_url,
                        engine::WindowOpenDisposition disposition, bool user_gesture) override;
  bool OnCertificateError(engine::BrowserPtr browser, int cert_error, const std::string& url,
                          const engine::SslInfo& ssl_info,
                          std::shared_ptr<engine::Callback> callback) override;
  void OnRenderProcessTerminated(engine::BrowserPtr browser,
                                 engine::TerminationStatus status) override;
  void OnRenderProcessUnresponsive(engine::BrowserPtr browser) override;
  void OnRenderProcessResponsive(engine::BrowserPtr browser) override;

  // Where renderer crashes and hangs are reported.
  void SetRecovery(std::shared_ptr<vkx::Recovery> recovery) { recovery_ = std::move(recovery); }

 private:
  // Hands the URL to the desktop's opener, in the background.
  void LaunchDefaultHandler(const std::string& url);

  const vkx::TrustStore trust_store_;
  std::shared_ptr<vkx::Recovery> recovery_;
};

// True for URLs that belong to the desktop's VMware Horizon client.
bool IsExternalProtocolUrl(const std::string& url);
