#include "request/request_handler.h"

#include <glib.h>

#include "config/config.h"
#include "config/environment.h"
#include "cookies/cookies.h"
#include "log/log.h"
#include "request/cert_validation.h"
#include "request/recovery.h"
#include "request/status_page.h"

bool RequestHandler::OnBeforeBrowse(engine::BrowserPtr browser, const std::string& url,
                                    bool /*user_gesture*/, bool /*is_redirect*/) {
  if (IsExternalProtocolUrl(url)) {
    if (launches_.Allow(clock_())) {
      LaunchDefaultHandler(url);
    } else {
      vkx::LogError("Default handler launch dropped, too many in a row: " + url);
    }
    return true;
  }
  Config& config = Config::Instance();
  const bool reloaded = config.Reload();
  if (renderer_enders_.count(url) != 0 ||
      vkx::JudgeUrl(url, config) != vkx::UrlVerdict::Allow) {
    vkx::LogError("URL not allowed: " + url);
    return true;
  }
  if (reloaded) InjectCookiesFromFile(url, config.GetCookieFile(), config.GetCookieFilter());
  if (browser) {
    browser->SetZoomLevel(config.GetZoomLevel());
    browser->SetCursorHidden(config.GetHideCursor());
  }
  engine::SetNetworkProxy(config.GetProxy(), config.GetProxyIgnoreHosts());
  return false;
}

bool RequestHandler::OnOpenURLFromTab(engine::BrowserPtr /*browser*/,
                                      const std::string& /*target_url*/,
                                      engine::WindowOpenDisposition /*disposition*/,
                                      bool user_gesture) {
  return user_gesture;
}

bool RequestHandler::OnCertificateError(engine::BrowserPtr browser, int cert_error,
                                        const std::string& url,
                                        const engine::SslInfo& ssl_info,
                                        std::shared_ptr<engine::Callback> callback) {
  Config& config = Config::Instance();
  if (config.Reload() && config.GetAcceptCertError()) {
    callback->Continue();
    return true;
  }
  vkx::CertProblem problem = cert_error == engine::ERR_CERT_COMMON_NAME_INVALID
                                 ? vkx::CertProblem::WrongHost
                                 : vkx::CertProblem::Missing;
  if (cert_error != engine::ERR_CERT_COMMON_NAME_INVALID && !ssl_info.server_certificate.empty() &&
      vkx::ValidateCertificateChain(ssl_info.server_certificate, ssl_info.issuer_chain,
                                    trust_store_, &problem)) {
    callback->Continue();
    return true;
  }
  callback->Cancel();
  // The status page says why, and the page is tried again later.
  if (recovery_ && browser) recovery_->OnCertificateRefused(browser, url, problem);
  return true;
}

void RequestHandler::OnRenderProcessTerminated(engine::BrowserPtr browser,
                                               engine::TerminationStatus status) {
  if (status == engine::TerminationStatus::OutOfMemory) {
    vkx::LogError("Renderer process went past memoryLimit=" +
                  std::to_string(Config::Instance().GetMemoryLimit()) + " MiB");
  }
  if (recovery_) recovery_->OnRendererTerminated(std::move(browser), status);
}

void RequestHandler::OnNavigationEndedRenderer(engine::BrowserPtr /*browser*/,
                                               const std::string& url) {
  // The configured page stays loadable whatever happened on its way.
  if (url.empty() || url == Config::Instance().GetUrl()) return;
  if (renderer_enders_.insert(url).second) vkx::LogError("URL not allowed: " + url);
}

void RequestHandler::OnRenderProcessUnresponsive(engine::BrowserPtr browser) {
  if (recovery_) recovery_->OnUnresponsive(std::move(browser));
}

void RequestHandler::OnRenderProcessResponsive(engine::BrowserPtr browser) {
  if (recovery_) recovery_->OnResponsive(std::move(browser));
}

void RequestHandler::LaunchDefaultHandler(const std::string& url) {
  // The URL is one argument, byte for byte, and the opener runs in the
  // environment the kiosk was started with.
  std::string error;
  if (!vkx::StartProgram({"xdg-open", url}, error)) {
    vkx::LogError("Failed to launch default handler for URL: " + url + ": " + error);
  }
}

engine::ClientCertificatePtr RequestHandler::OnClientCertificateRequest(
    engine::BrowserPtr /*browser*/, const std::string& host, int port) {
  Config& config = Config::Instance();
  if (!vkx::OffersClientCertificate(host, port, config)) return nullptr;
  // Loaded once for the configured names (a token lookup can take a
  // while), again when they change; a failure is told once for them.
  const std::string names =
      config.GetClientCertificate() + '\n' + config.GetClientCertificateKey();
  if (names != certificate_names_ || !certificate_) {
    std::string error;
    certificate_ = engine::LoadClientCertificate(config.GetClientCertificate(),
                                                 config.GetClientCertificateKey(), error);
    if (!certificate_ && names != certificate_names_) {
      vkx::LogError("Client certificate not loaded (" +
                    vkx::ClientCertificateKeyNames(config.GetClientCertificateKey()) + "): " +
                    error);
    }
    certificate_names_ = names;
  }
  engine::ClientCertificatePtr certificate = certificate_;
  if (!certificate) {
    if (recovery_) recovery_->NoteClientCertificateUnusable();
    return nullptr;
  }
  if (certificate_hosts_.insert(host).second) {
    vkx::LogInfo("Client certificate offered to " + host);
  }
  return certificate;
}

std::optional<std::string> RequestHandler::OnClientCertificatePin(
    engine::BrowserPtr browser, const engine::PinRequest& request) {
  std::optional<std::string> pin = pin_->Answer(request.retry, request.tries_left);
  if (pin || !browser) return pin;
  // A person types it on the kiosk's PIN page; the page is loaded again
  // with it.
  const std::string url = browser->GetMainFrameURL();
  vkx::LogInfo(std::string(request.retry ? "Client certificate PIN refused" :
                                           "Client certificate PIN asked for") +
               " by the token for " + request.host);
  std::weak_ptr<engine::Browser> target = browser;
  std::weak_ptr<vkx::PinKeeper> keeper = pin_;
  browser->ShowPinPage(
      vkx::PinPageHtml(request.host, request.retry, request.tries_left,
                       vkx::StatusLanguage(Config::Instance().GetAcceptLanguageList())),
      url, [keeper, target, url](const std::string& typed) {
        auto page = target.lock();
        auto pin_keeper = keeper.lock();
        if (!page || !pin_keeper || typed.empty()) return;
        pin_keeper->Entered(typed);
        page->LoadURL(url);
      });
  return std::nullopt;
}
