// WebKit, GLib and GnuTLS errors as the port's network error numbers, and
// the answer to a certificate error.
#pragma once

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include <string>

#include "engine/engine.h"
#include "engine/webkit/glib_ptr.h"

namespace engine::webkit {

// Continue allows the certificate for the host and loads the URL again;
// Cancel leaves the error as it is. The view may be gone by then.
class TlsErrorCallback : public Callback {
 public:
  TlsErrorCallback(WebKitWebView* view, GTlsCertificate* certificate, std::string uri)
      : view_(view), certificate_(GRef<GTlsCertificate>::Ref(certificate)), uri_(std::move(uri)) {
    g_object_add_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
  }
  ~TlsErrorCallback() override {
    if (view_ != nullptr) g_object_remove_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
  }
  TlsErrorCallback(const TlsErrorCallback&) = delete;
  TlsErrorCallback& operator=(const TlsErrorCallback&) = delete;

  void Continue() override {
    if (answered_ || view_ == nullptr) return;
    answered_ = continued_ = true;
    g_autoptr(GUri) uri = g_uri_parse(uri_.c_str(), G_URI_FLAGS_NONE, nullptr);
    const gchar* host = uri != nullptr ? g_uri_get_host(uri) : nullptr;
    if (host == nullptr) return;
    webkit_web_context_allow_tls_certificate_for_host(webkit_web_view_get_context(view_),
                                                      certificate_.get(), host);
    webkit_web_view_load_uri(view_, uri_.c_str());
  }
  void Cancel() override { answered_ = true; }
  bool continued() const { return continued_; }

 private:
  WebKitWebView* view_;
  GRef<GTlsCertificate> certificate_;
  std::string uri_;
  bool answered_ = false;
  bool continued_ = false;
};

// The error number for the TLS errors that GnuTLS reported. A name
// mismatch wins over anything else it comes with.
int CertificateErrorCode(GTlsCertificateFlags errors);

// The error number of a failed load.
int LoadErrorCode(const GError* error);

// The server's certificate and the issuer chain it sent, in DER.
SslInfo SslInfoOf(GTlsCertificate* certificate);

}  // namespace engine::webkit
