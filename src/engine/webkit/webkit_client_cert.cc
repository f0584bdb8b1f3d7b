// TLS client certificates: loading one (PEM files or PKCS#11 URIs, through
// GLib's TLS backend and p11-kit), answering the engine's certificate and
// PIN requests, and the PIN page whose field is read only when a person
// presses Return.
#include <gdk/gdkkeysyms.h>

#include <string>

#include "engine/webkit/webkit_browser.h"
#include "engine/webkit/webkit_errors.h"
#include "log/log.h"

namespace engine::webkit {

class WebKitClientCertificate : public ClientCertificate {
 public:
  explicit WebKitClientCertificate(GRef<GTlsCertificate> certificate)
      : certificate_(std::move(certificate)) {}
  GTlsCertificate* get() const { return certificate_.get(); }

 private:
  GRef<GTlsCertificate> certificate_;
};

bool IsPkcs11Uri(const std::string& text) { return text.rfind("pkcs11:", 0) == 0; }

namespace {

// The script world in which the kiosk reads the PIN field: no page script
// runs in it.
constexpr char kPinWorld[] = "vkx-pin";
constexpr char kReadPin[] =
    "(function(){var e=document.getElementById('pin');if(!e)return '';"
    "var v=e.value;e.value='';return v;})()";

}  // namespace

}  // namespace engine::webkit

namespace engine {

using webkit::GRef;
using webkit::WebKitClientCertificate;

ClientCertificatePtr LoadClientCertificate(const std::string& certificate, const std::string& key,
                                           std::string& error) {
  GError* failure = nullptr;
  GTlsCertificate* loaded = nullptr;
  if (webkit::IsPkcs11Uri(certificate)) {
    loaded = g_tls_certificate_new_from_pkcs11_uris(certificate.c_str(),
                                                    key.empty() ? nullptr : key.c_str(), &failure);
  } else if (webkit::IsPkcs11Uri(key)) {
    error = "a PEM certificate goes with a PEM key";
    return nullptr;
  } else {
    loaded = g_tls_certificate_new_from_files(
        certificate.c_str(), key.empty() ? certificate.c_str() : key.c_str(), &failure);
  }
  if (loaded == nullptr) {
    error = failure != nullptr ? failure->message : "unknown error";
    g_clear_error(&failure);
    return nullptr;
  }
  return std::make_shared<WebKitClientCertificate>(GRef<GTlsCertificate>::Adopt(loaded));
}

}  // namespace engine

namespace engine::webkit {

gboolean WebKitBrowser::Authenticate(WebKitAuthenticationRequest* request) {
  const WebKitAuthenticationScheme scheme = webkit_authentication_request_get_scheme(request);
  const std::string host = webkit_authentication_request_get_host(request) != nullptr
                               ? webkit_authentication_request_get_host(request)
                               : "";
  auto handler = HandlerOf(&Client::GetRequestHandler);
  if (scheme == WEBKIT_AUTHENTICATION_SCHEME_CLIENT_CERTIFICATE_REQUESTED) {
    ClientCertificatePtr offered =
        handler ? handler->OnClientCertificateRequest(
                      shared_from_this(), host,
                      static_cast<int>(webkit_authentication_request_get_port(request)))
                : nullptr;
    auto* certificate = dynamic_cast<const WebKitClientCertificate*>(offered.get());
    if (certificate == nullptr) {
      // The handshake goes on without one (a cancel would end the whole
      // load): a server that only offers it to those who have one loads.
      certificate_declined_ = true;
      if (hosts_without_certificate_.insert(host).second) {
        vkx::LogError("Client certificate asked for by " + host + ": none offered");
      }
      webkit_authentication_request_authenticate(request, nullptr);
      return TRUE;
    }
    WebKitCredential* credential = webkit_credential_new_for_certificate(
        certificate->get(), WEBKIT_CREDENTIAL_PERSISTENCE_FOR_SESSION);
    webkit_authentication_request_authenticate(request, credential);
    webkit_credential_free(credential);
    return TRUE;
  }
  if (scheme == WEBKIT_AUTHENTICATION_SCHEME_CLIENT_CERTIFICATE_PIN_REQUESTED) {
    const GTlsPasswordFlags flags = webkit_authentication_request_get_certificate_pin_flags(request);
    PinRequest pin_request;
    pin_request.host = host;
    pin_request.retry = (flags & G_TLS_PASSWORD_RETRY) != 0;
    pin_request.tries_left = (flags & G_TLS_PASSWORD_FINAL_TRY)   ? 1
                             : (flags & G_TLS_PASSWORD_MANY_TRIES) ? 2
                                                                   : 0;
    std::optional<std::string> pin =
        handler ? handler->OnClientCertificatePin(shared_from_this(), pin_request) : std::nullopt;
    if (!pin) {
      webkit_authentication_request_cancel(request);
      return TRUE;
    }
    // Not kept by the engine beyond this request.
    WebKitCredential* credential =
        webkit_credential_new_for_certificate_pin(pin->c_str(), WEBKIT_CREDENTIAL_PERSISTENCE_NONE);
    explicit_bzero(pin->data(), pin->size());
    webkit_authentication_request_authenticate(request, credential);
    webkit_credential_free(credential);
    return TRUE;
  }
  vkx::LogError("HTTP authentication refused: " + navigation_url_);
  webkit_authentication_request_cancel(request);
  return TRUE;
}

int WebKitBrowser::LoadErrorOf(const GError* error) const {
  const int code = LoadErrorCode(error);
  if (certificate_declined_ && error->domain == G_TLS_ERROR) return ERR_SSL_CLIENT_AUTH_CERT_NEEDED;
  return code;
}

void WebKitBrowser::ShowPinPage(const std::string& html, const std::string& for_url,
                                std::function<void(const std::string& pin)> entered) {
  ShowStatusPage(html, for_url);
  pin_entered_ = std::move(entered);
}

bool WebKitBrowser::ReadPinOnReturn(const GdkEventKey* event) {
  // Only in the PIN page's own document, never in the page it replaces.
  if (!pin_entered_ || !status_.shown || !status_.committed || view_ == nullptr) return false;
  if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter) return false;
  webkit_web_view_evaluate_javascript(
      view_, kReadPin, -1, kPinWorld, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto weak = CallbackData<std::weak_ptr<WebKitBrowser>>::Take(data);
        g_autoptr(JSCValue) value = webkit_web_view_evaluate_javascript_finish(
            WEBKIT_WEB_VIEW(source), result, nullptr);
        auto self = weak->lock();
        if (!self || value == nullptr || !jsc_value_is_string(value) || !self->pin_entered_ ||
            !self->status_.shown || !self->status_.committed) {
          return;
        }
        g_autofree char* pin = jsc_value_to_string(value);
        std::string text = pin != nullptr ? pin : "";
        if (pin != nullptr) explicit_bzero(pin, text.size());
        auto entered = self->pin_entered_;
        entered(text);
        explicit_bzero(text.data(), text.size());
      },
      CallbackData<std::weak_ptr<WebKitBrowser>>::New(weak_from_this()));
  return true;
}

}  // namespace engine::webkit
