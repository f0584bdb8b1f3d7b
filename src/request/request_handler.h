// The request policy: navigations and certificate errors.
#pragma once

#include <string>

#include "engine/engine.h"
#include "request/cert_validation.h"

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

 private:
  // Hands the URL to the desktop's opener, in the background.
  void LaunchDefaultHandler(const std::string& url);

  const vkx::TrustStore trust_store_;
};

// True for URLs that belong to the desktop's VMware Horizon client.
bool IsExternalProtocolUrl(const std::string& url);
