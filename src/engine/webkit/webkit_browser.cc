#include "engine/webkit/webkit_browser.h"

#include "engine/webkit/webkit_choosers.h"
#include "engine/webkit/webkit_cookies.h"

#include <X11/Xlib.h>
#include <gdk/gdkkeysyms.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <iostream>

namespace engine::webkit {

namespace {

int next_browser_id = 1;

// How long a navigation waits at most for its cookies to be stored.
constexpr unsigned kCookieWaitMs = 1000;

// How often the renderer is asked whether it still answers; a question
// still open at the next one makes the page unresponsive.
constexpr guint kPingIntervalMs = 5000;

// Windows virtual-key codes, which the key policy speaks, from GDK key values.
int WindowsKeyCode(guint keyval) {
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return static_cast<int>(keyval - GDK_KEY_a) + 'A';
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return static_cast<int>(keyval);
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<int>(keyval);
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return static_cast<int>(keyval - GDK_KEY_F1) + 112;
  if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return static_cast<int>(keyval - GDK_KEY_KP_0) + 96;
  switch (keyval) {
    case GDK_KEY_BackSpace: return 8;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return 9;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: return 13;
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return 16;
    case GDK_KEY_Control_L: case GDK_KEY_Control_R: return 17;
    case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R: return 18;
    case GDK_KEY_Pause: return 19;
    case GDK_KEY_Caps_Lock: return 20;
    case GDK_KEY_Escape: return 27;
    case GDK_KEY_space: return 32;
    case GDK_KEY_Page_Up: return 33;
    case GDK_KEY_Page_Down: return 34;
    case GDK_KEY_End: return 35;
    case GDK_KEY_Home: return 36;
    case GDK_KEY_Left: return 37;
    case GDK_KEY_Up: return 38;
    case GDK_KEY_Right: return 39;
    case GDK_KEY_Down: return 40;
    case GDK_KEY_Print: return 44;
    case GDK_KEY_Insert: return 45;
    case GDK_KEY_Delete: return 46;
    case GDK_KEY_Super_L: return 91;
    case GDK_KEY_Super_R: return 92;
    case GDK_KEY_Menu: return 93;
    case GDK_KEY_semicolon: return 186;
    case GDK_KEY_equal: return 187;
    case GDK_KEY_comma: return 188;
    case GDK_KEY_minus: return 189;
    case GDK_KEY_period: return 190;
    case GDK_KEY_slash: return 191;
    case GDK_KEY_grave: return 192;
    case GDK_KEY_bracketleft: return 219;
    case GDK_KEY_backslash: return 220;
    case GDK_KEY_bracketright: return 221;
    case GDK_KEY_apostrophe: return 222;
    default: return 0;
  }
}

KeyEvent ToKeyEvent(const GdkEventKey* event) {
  // The unshifted key value of the physical key: Shift+1 is still the 1 key.
  guint keyval = event->keyval;
  gdk_keymap_translate_keyboard_state(gdk_keymap_get_for_display(gdk_display_get_default()),
                                      event->hardware_keycode, static_cast<GdkModifierType>(0),
                                      event->group, &keyval, nullptr, nullptr, nullptr);
  KeyEvent key;
  key.type = event->type == GDK_KEY_PRESS ? KeyEventType::RawKeyDown : KeyEventType::KeyUp;
  if (event->state & GDK_SHIFT_MASK) key.modifiers |= EVENTFLAG_SHIFT_DOWN;
  if (event->state & GDK_CONTROL_MASK) key.modifiers |= EVENTFLAG_CONTROL_DOWN;
  if (event->state & GDK_MOD1_MASK) key.modifiers |= EVENTFLAG_ALT_DOWN;
  key.windows_key_code = WindowsKeyCode(keyval);
  key.native_key_code = event->hardware_keycode;
  key.character = gdk_keyval_to_unicode(event->keyval);
  return key;
}

// The items of a WebKit context menu as the port's menu model.
class WebKitMenuModel : public MenuModel {
 public:
  explicit WebKitMenuModel(WebKitContextMenu* menu) : menu_(menu) {}
  bool Clear() override {
    webkit_context_menu_remove_all(menu_);
    return true;
  }
  size_t GetCount() const override { return webkit_context_menu_get_n_items(menu_); }

 private:
  WebKitContextMenu* menu_;
};

// The network error number for the TLS errors that GnuTLS reported. A name
// mismatch wins over anything else it comes with.
int CertificateErrorCode(GTlsCertificateFlags errors) {
  if (errors & G_TLS_CERTIFICATE_BAD_IDENTITY) return ERR_CERT_COMMON_NAME_INVALID;
  if (errors & G_TLS_CERTIFICATE_UNKNOWN_CA) return ERR_CERT_AUTHORITY_INVALID;
  if (errors & (G_TLS_CERTIFICATE_EXPIRED | G_TLS_CERTIFICATE_NOT_ACTIVATED)) {
    return ERR_CERT_DATE_INVALID;
  }
  if (errors & G_TLS_CERTIFICATE_REVOKED) return ERR_CERT_REVOKED;
  if (errors & G_TLS_CERTIFICATE_INSECURE) return ERR_CERT_WEAK_SIGNATURE_ALGORITHM;
  return ERR_CERT_INVALID;
}

DerBytes CertificateDer(GTlsCertificate* certificate) {
  GByteArray* der = nullptr;
  g_object_get(certificate, "certificate", &der, nullptr);
  DerBytes bytes;
  if (der != nullptr) {
    bytes.assign(der->data, der->data + der->len);
    g_byte_array_unref(der);
  }
  return bytes;
}

// The network error number of a failed load.
int LoadErrorCode(const GError* error) {
  if (error->domain == WEBKIT_POLICY_ERROR) return ERR_BLOCKED_BY_CLIENT;
  if (error->domain == WEBKIT_NETWORK_ERROR) {
    switch (error->code) {
      case WEBKIT_NETWORK_ERROR_CANCELLED: return ERR_ABORTED;
      case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST: return ERR_FILE_NOT_FOUND;
      case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL: return ERR_UNKNOWN_URL_SCHEME;
      default: return ERR_FAILED;
    }
  }
  if (error->domain == G_TLS_ERROR) return ERR_SSL_PROTOCOL_ERROR;
  if (error->domain == G_RESOLVER_ERROR) return ERR_NAME_NOT_RESOLVED;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED: return ERR_CONNECTION_REFUSED;
      case G_IO_ERROR_TIMED_OUT: return ERR_TIMED_OUT;
      case G_IO_ERROR_HOST_UNREACHABLE: case G_IO_ERROR_NETWORK_UNREACHABLE: return ERR_ADDRESS_UNREACHABLE;
      case G_IO_ERROR_CONNECTION_CLOSED: return ERR_CONNECTION_CLOSED;
      case G_IO_ERROR_CANCELLED: return ERR_ABORTED;
      default: return ERR_FAILED;
    }
  }
  return ERR_FAILED;
}

// Continue allows the certificate for the host and loads the URL again;
// Cancel leaves the error as it is.
class TlsErrorCallback : public Callback {
 public:
  TlsErrorCallback(WebKitWebView* view, GTlsCertificate* certificate, std::string uri)
      : view_(view), certificate_(G_TLS_CERTIFICATE(g_object_ref(certificate))), uri_(std::move(uri)) {
    g_object_add_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
  }
  ~TlsErrorCallback() override {
    if (view_ != nullptr) g_object_remove_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
    g_object_unref(certificate_);
  }
  TlsErrorCallback(const TlsErrorCallback&) = delete;
  TlsErrorCallback& operator=(const TlsErrorCallback&) = delete;

  void Continue() override {
    if (answered_ || view_ == nullptr) return;
    answered_ = continued_ = true;
    GUri* uri = g_uri_parse(uri_.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (uri == nullptr) return;
    if (const gchar* host = g_uri_get_host(uri)) {
      webkit_web_context_allow_tls_certificate_for_host(webkit_web_view_get_context(view_),
                                                        certificate_, host);
      webkit_web_view_load_uri(view_, uri_.c_str());
    }
    g_uri_unref(uri);
  }
  void Cancel() override { answered_ = true; }
  bool continued() const { return continued_; }

 private:
  WebKitWebView* view_;
  GTlsCertificate* certificate_;
  std::string uri_;
  bool answered_ = false;
  bool continued_ = false;
};

template <typename Handler>
Handler* Self(gpointer data) {
  return static_cast<Handler*>(data);
}

}  // namespace

WebKitBrowser::WebKitBrowser(WebKitWebContext* context, std::shared_ptr<Client> client,
                             const BrowserSettings& settings)
    : id_(next_browser_id++), client_(std::move(client)) {
  WebKitSettings* web_settings = webkit_settings_new();
  webkit_settings_set_enable_javascript(web_settings, settings.javascript != State::Disabled);
  // Software rendering only: the kiosk runs on thin clients without a GPU.
  webkit_settings_set_hardware_acceleration_policy(web_settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  // No inspector, by shortcut or otherwise.
  webkit_settings_set_enable_developer_extras(web_settings, FALSE);
  webkit_settings_set_javascript_can_access_clipboard(web_settings, FALSE);
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings",
                                       web_settings, nullptr));
  g_object_unref(web_settings);

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
  // Nothing dragged onto the kiosk is opened.
  gtk_drag_dest_unset(GTK_WIDGET(view_));
  ConnectSignals();
}

WebKitBrowser::~WebKitBrowser() { Discard(); }

void WebKitBrowser::ConnectSignals() {
  g_signal_connect(view_, "load-changed",
                   G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
                     auto* self = Self<WebKitBrowser>(data);
                     auto handler = self->client_ ? self->client_->GetLoadHandler() : nullptr;
                     if (!handler) return;
                     if (event == WEBKIT_LOAD_STARTED) {
                       const gchar* uri = webkit_web_view_get_uri(view);
                       handler->OnLoadStart(self->shared_from_this(), Frame{uri ? uri : "", true});
                       return;
                     }
                     if (event != WEBKIT_LOAD_FINISHED) return;
                     // A load that failed was no page load (a refused download, a
                     // cancelled sign-in); the engine's error page, if any, reports
                     // its own end.
                     if (self->load_failed_) {
                       self->load_failed_ = false;
                       return;
                     }
                     int status = 0;
                     if (WebKitWebResource* resource = webkit_web_view_get_main_resource(view)) {
                       if (WebKitURIResponse* response = webkit_web_resource_get_response(resource)) {
                         status = static_cast<int>(webkit_uri_response_get_status_code(response));
                       }
                     }
                     const gchar* uri = webkit_web_view_get_uri(view);
                     handler->OnLoadEnd(self->shared_from_this(), Frame{uri ? uri : "", true},
                                        status);
                   }),
                   this);
  g_signal_connect(view_, "close", G_CALLBACK(+[](WebKitWebView*, gpointer data) {
                     Self<WebKitBrowser>(data)->FinishClose();
                   }),
                   this);
  g_signal_connect(view_, "create",
                   G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction* action,
                                  gpointer data) -> GtkWidget* {
                     WebKitURIRequest* request = webkit_navigation_action_get_request(action);
                     const gchar* uri = request ? webkit_uri_request_get_uri(request) : "";
                     Self<WebKitBrowser>(data)->Popup(
                         uri ? uri : "", WindowOpenDisposition::NewPopup,
                         webkit_navigation_action_is_user_gesture(action));
                     return nullptr;  // never a second view
                   }),
                   this);
  g_signal_connect(view_, "decide-policy",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                                  WebKitPolicyDecisionType type, gpointer data) -> gboolean {
                     return Self<WebKitBrowser>(data)->DecidePolicy(decision, type);
                   }),
                   this);
  g_signal_connect(view_, "key-press-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) -> gboolean {
                     return Self<WebKitBrowser>(data)->HandleKeyPress(event);
                   }),
                   this);
  g_signal_connect(view_, "notify::title", G_CALLBACK(+[](WebKitWebView* view, GParamSpec*,
                                                          gpointer data) {
                     auto* self = Self<WebKitBrowser>(data);
                     auto handler = self->client_ ? self->client_->GetDisplayHandler() : nullptr;
                     const gchar* title = webkit_web_view_get_title(view);
                     if (handler) handler->OnTitleChange(self->shared_from_this(), title ? title : "");
                   }),
                   this);
  g_signal_connect(view_, "enter-fullscreen", G_CALLBACK(+[](WebKitWebView*, gpointer data) -> gboolean {
                     auto* self = Self<WebKitBrowser>(data);
                     if (auto handler = self->client_ ? self->client_->GetDisplayHandler() : nullptr) {
                       handler->OnFullscreenModeChange(self->shared_from_this(), true);
                     }
                     return FALSE;
                   }),
                   this);
  g_signal_connect(view_, "leave-fullscreen", G_CALLBACK(+[](WebKitWebView*, gpointer data) -> gboolean {
                     auto* self = Self<WebKitBrowser>(data);
                     if (auto handler = self->client_ ? self->client_->GetDisplayHandler() : nullptr) {
                       handler->OnFullscreenModeChange(self->shared_from_this(), false);
                     }
                     return FALSE;
                   }),
                   this);
  g_signal_connect(view_, "user-message-received", G_CALLBACK(OnUserMessage), this);
  g_signal_connect(view_, "load-failed-with-tls-errors",
                   G_CALLBACK(+[](WebKitWebView* view, gchar* uri, GTlsCertificate* certificate,
                                  GTlsCertificateFlags errors, gpointer data) -> gboolean {
                     auto* self = Self<WebKitBrowser>(data);
                     // This load failed either way; a continued one is loaded anew.
                     self->load_failed_ = true;
                     auto handler = self->client_ ? self->client_->GetRequestHandler() : nullptr;
                     if (!handler || certificate == nullptr) return FALSE;
                     SslInfo info;
                     info.server_certificate = CertificateDer(certificate);
                     for (GTlsCertificate* issuer = g_tls_certificate_get_issuer(certificate);
                          issuer != nullptr; issuer = g_tls_certificate_get_issuer(issuer)) {
                       info.issuer_chain.push_back(CertificateDer(issuer));
                     }
                     auto callback = std::make_shared<TlsErrorCallback>(view, certificate, uri);
                     handler->OnCertificateError(self->shared_from_this(),
                                                 CertificateErrorCode(errors), uri, info, callback);
                     // A refusal shows the engine's own error page.
                     return callback->continued() ? TRUE : FALSE;
                   }),
                   this);
  g_signal_connect(view_, "load-failed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                  gpointer data) -> gboolean {
                     auto* self = Self<WebKitBrowser>(data);
                     self->load_failed_ = true;
                     auto handler = self->client_ ? self->client_->GetLoadHandler() : nullptr;
                     if (handler && error != nullptr) {
                       handler->OnLoadError(self->shared_from_this(), Frame{uri ? uri : "", true},
                                            LoadErrorCode(error), error->message, uri ? uri : "");
                     }
                     return FALSE;  // the engine's error page, until a retry replaces it
                   }),
                   this);
  g_signal_connect(view_, "web-process-terminated",
                   G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                  gpointer data) {
                     auto* self = Self<WebKitBrowser>(data);
                     self->ping_pending_ = false;
                     auto handler = self->client_ ? self->client_->GetRequestHandler() : nullptr;
                     if (!handler) return;
                     const TerminationStatus status =
                         reason == WEBKIT_WEB_PROCESS_CRASHED ? TerminationStatus::Crashed
                         : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? TerminationStatus::OutOfMemory
                                                                              : TerminationStatus::Killed;
                     handler->OnRenderProcessTerminated(self->shared_from_this(), status);
                   }),
                   this);
  g_signal_connect(view_, "context-menu",
                   G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                  WebKitHitTestResult*, gpointer data) -> gboolean {
                     auto* self = Self<WebKitBrowser>(data);
                     auto handler = self->client_ ? self->client_->GetContextMenuHandler() : nullptr;
                     if (!handler) return FALSE;
                     WebKitMenuModel model(menu);
                     handler->OnBeforeContextMenu(self->shared_from_this(), model);
                     if (model.GetCount() != 0) return FALSE;
                     std::cerr << "Context menu refused" << std::endl;
                     return TRUE;
                   }),
                   this);
  g_signal_connect(view_, "permission-request",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request,
                                  gpointer data) -> gboolean {
                     if (WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request) &&
                         Self<WebKitBrowser>(data)->notifications_blocked_) {
                       webkit_permission_request_deny(request);
                       return TRUE;
                     }
                     return FALSE;
                   }),
                   this);
  g_signal_connect(view_, "run-file-chooser",
                   G_CALLBACK(+[](WebKitWebView*, WebKitFileChooserRequest* request, gpointer) -> gboolean {
                     webkit_file_chooser_request_cancel(request);
                     std::cerr << "File chooser refused" << std::endl;
                     return TRUE;
                   }),
                   this);
  RefuseChooserDialogs(view_);
  g_signal_connect(view_, "print", G_CALLBACK(+[](WebKitWebView*, WebKitPrintOperation*, gpointer) -> gboolean {
                     std::cerr << "Print refused" << std::endl;
                     return TRUE;
                   }),
                   this);
  g_signal_connect(view_, "authenticate",
                   G_CALLBACK(+[](WebKitWebView*, WebKitAuthenticationRequest* request,
                                  gpointer data) -> gboolean {
                     std::cerr << "HTTP authentication refused: "
                               << Self<WebKitBrowser>(data)->navigation_url_ << std::endl;
                     webkit_authentication_request_cancel(request);
                     return TRUE;
                   }),
                   this);
}

gboolean WebKitBrowser::OnUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
  if (g_strcmp0(webkit_user_message_get_name(message), "vkx-console") != 0) return FALSE;
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssu)"))) {
    return TRUE;
  }
  const gchar* text = nullptr;
  const gchar* source = nullptr;
  guint32 line = 0;
  g_variant_get(parameters, "(&s&su)", &text, &source, &line);
  auto* self = Self<WebKitBrowser>(data);
  if (auto handler = self->client_ ? self->client_->GetDisplayHandler() : nullptr) {
    handler->OnConsoleMessage(self->shared_from_this(), LogSeverity::Info, text, source,
                              static_cast<int>(line));
  }
  return TRUE;
}

bool WebKitBrowser::Popup(const std::string& url, WindowOpenDisposition disposition,
                          bool user_gesture) {
  auto handler = client_ ? client_->GetLifeSpanHandler() : nullptr;
  if (handler) return handler->OnBeforePopup(shared_from_this(), url, disposition, user_gesture);
  return true;
}

gboolean WebKitBrowser::DecidePolicy(WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type) {
  auto self = shared_from_this();
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    if (!webkit_response_policy_decision_is_mime_type_supported(response_decision)) {
      WebKitURIRequest* request = webkit_response_policy_decision_get_request(response_decision);
      std::cerr << "Download refused: " << webkit_uri_request_get_uri(request) << std::endl;
      webkit_policy_decision_ignore(decision);
      return TRUE;
    }
    return FALSE;
  }
  auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const gchar* raw_uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  const std::string url = raw_uri ? raw_uri : "";
  const bool user_gesture = webkit_navigation_action_is_user_gesture(action);
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) navigation_url_ = url;

  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    // A target=_blank link: the popup decision is the client's, and no
    // second window is ever made.
    Popup(url, WindowOpenDisposition::NewForegroundTab, user_gesture);
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }

  auto request_handler = client_ ? client_->GetRequestHandler() : nullptr;
  if (!request_handler) return FALSE;
  // A middle click, or a click with Ctrl or Shift held, asks for a new tab.
  const guint button = webkit_navigation_action_get_mouse_button(action);
  const guint modifiers = webkit_navigation_action_get_modifiers(action);
  if (button == 2 || (modifiers & (GDK_CONTROL_MASK | GDK_SHIFT_MASK)) != 0) {
    if (request_handler->OnOpenURLFromTab(self, url, WindowOpenDisposition::NewBackgroundTab,
                                          user_gesture)) {
      std::cerr << "Open in new tab refused: " << url << std::endl;
      webkit_policy_decision_ignore(decision);
      return TRUE;
    }
  }
  if (request_handler->OnBeforeBrowse(self, url, user_gesture,
                                      webkit_navigation_action_is_redirect(action))) {
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  // The cookies injected for this navigation must be in the store before
  // its first request leaves.
  g_object_ref(decision);
  WhenCookieWritesDone([decision] {
    webkit_policy_decision_use(decision);
    g_object_unref(decision);
  }, kCookieWaitMs);
  return TRUE;
}

gboolean WebKitBrowser::HandleKeyPress(GdkEventKey* event) {
  auto handler = client_ ? client_->GetKeyboardHandler() : nullptr;
  if (!handler) return FALSE;
  const KeyEvent key = ToKeyEvent(event);
  const PassedKey press{event->time, event->hardware_keycode};
  auto passed = std::find(passed_keys_.begin(), passed_keys_.end(), press);
  if (passed != passed_keys_.end()) {
    // The page did not handle it and WebKit hands it back. Keys the page
    // handled never come back: those passed before this one are dropped.
    passed_keys_.erase(passed_keys_.begin(), passed + 1);
    return handler->OnKeyEvent(shared_from_this(), key) ? TRUE : FALSE;
  }
  if (handler->OnPreKeyEvent(shared_from_this(), key, nullptr)) return TRUE;
  passed_keys_.push_back(press);
  if (passed_keys_.size() > kPassedKeysKept) passed_keys_.pop_front();
  return FALSE;
}

bool WebKitBrowser::Embed(unsigned long parent, const Rect& rect) {
  gtk_window_set_default_size(GTK_WINDOW(window_), rect.width, rect.height);
  gtk_widget_realize(window_);
  GdkWindow* gdk_window = gtk_widget_get_window(window_);
  if (gdk_window == nullptr) return false;
  xid_ = gdk_x11_window_get_xid(gdk_window);
  // Reparent while still unmapped, so no window manager ever manages it.
  Display* display = gdk_x11_get_default_xdisplay();
  XReparentWindow(display, xid_, parent, rect.x, rect.y);
  XFlush(display);
  gtk_widget_show_all(window_);
  return true;
}

bool WebKitBrowser::IsSame(const std::shared_ptr<Browser>& other) const {
  return other != nullptr && other->GetIdentifier() == id_;
}

void WebKitBrowser::SetFocus(bool focus) {
  if (window_ == nullptr || !focus) return;
  GdkDisplay* gdk_display = gdk_display_get_default();
  gdk_x11_display_error_trap_push(gdk_display);
  XSetInputFocus(gdk_x11_display_get_xdisplay(gdk_display), xid_, RevertToParent, CurrentTime);
  gdk_x11_display_error_trap_pop_ignored(gdk_display);
  gtk_widget_grab_focus(GTK_WIDGET(view_));
}

void WebKitBrowser::WasResized() {
  if (window_ == nullptr) return;
  GdkDisplay* gdk_display = gdk_display_get_default();
  Display* display = gdk_x11_display_get_xdisplay(gdk_display);
  Window root = 0;
  int x = 0, y = 0;
  unsigned int width = 0, height = 0, border = 0, depth = 0;
  gdk_x11_display_error_trap_push(gdk_display);
  const Status ok = XGetGeometry(display, xid_, &root, &x, &y, &width, &height, &border, &depth);
  gdk_x11_display_error_trap_pop_ignored(gdk_display);
  if (ok == 0 || width == 0 || height == 0) return;
  // GTK lays the page out again at the size the window now has.
  gtk_window_resize(GTK_WINDOW(window_), static_cast<int>(width), static_cast<int>(height));
}

void WebKitBrowser::CloseBrowser(bool force) {
  if (window_ == nullptr || closing_) return;
  if (force) {
    // Like any close, it completes from the loop: DoClose and OnBeforeClose
    // run on a later iteration, never inside the caller.
    auto self = shared_from_this();
    PostToUiThread([self] { self->FinishClose(); });
  } else {
    // The page's before-unload handler may keep it open; "close" follows otherwise.
    webkit_web_view_try_close(view_);
  }
}

void WebKitBrowser::FinishClose() {
  if (window_ == nullptr || closing_) return;
  closing_ = true;
  auto self = shared_from_this();
  auto life_span = client_ ? client_->GetLifeSpanHandler() : nullptr;
  if (life_span) life_span->DoClose(self);
  // Just before the view goes: the page's session (and its cookies) still exists.
  if (life_span) life_span->OnBeforeClose(self);
  Discard();
}

void WebKitBrowser::Discard() {
  if (ping_timer_ != 0) g_source_remove(ping_timer_);
  ping_timer_ = 0;
  if (window_ == nullptr) return;
  GtkWidget* window = window_;
  window_ = nullptr;
  view_ = nullptr;
  gtk_widget_destroy(window);
}

void WebKitBrowser::Reload() {
  if (view_ != nullptr) webkit_web_view_reload(view_);
}

void WebKitBrowser::TerminateRenderProcess() {
  if (view_ != nullptr) webkit_web_view_terminate_web_process(view_);
}

void WebKitBrowser::StartResponsivenessChecks() {
  std::weak_ptr<WebKitBrowser> weak = shared_from_this();
  auto* held = new std::weak_ptr<WebKitBrowser>(weak);
  ping_timer_ = g_timeout_add_full(
      G_PRIORITY_LOW, kPingIntervalMs,
      [](gpointer data) -> gboolean {
        auto self = static_cast<std::weak_ptr<WebKitBrowser>*>(data)->lock();
        if (!self || self->view_ == nullptr) return G_SOURCE_REMOVE;
        self->Ping();
        return G_SOURCE_CONTINUE;
      },
      held, [](gpointer data) { delete static_cast<std::weak_ptr<WebKitBrowser>*>(data); });
}

// A message to the web-process extension, answered on the renderer's main
// thread: no answer means that thread is stuck. (Cheaper than a script.)
void WebKitBrowser::Ping() {
  if (ping_pending_) {
    // Unanswered for a whole interval.
    if (!unresponsive_) {
      unresponsive_ = true;
      if (auto handler = client_ ? client_->GetRequestHandler() : nullptr) {
        handler->OnRenderProcessUnresponsive(shared_from_this());
      }
    }
    return;
  }
  ping_pending_ = true;
  auto* held = new std::weak_ptr<WebKitBrowser>(shared_from_this());
  webkit_web_view_send_message_to_page(
      view_, webkit_user_message_new("vkx-ping", nullptr), nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::weak_ptr<WebKitBrowser>> weak(
            static_cast<std::weak_ptr<WebKitBrowser>*>(data));
        // An error (no extension, a page going away) is an answer too.
        WebKitUserMessage* reply =
            webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
        if (reply != nullptr) g_object_unref(reply);
        auto self = weak->lock();
        if (!self) return;
        self->ping_pending_ = false;
        if (self->unresponsive_) {
          self->unresponsive_ = false;
          if (auto handler = self->client_ ? self->client_->GetRequestHandler() : nullptr) {
            handler->OnRenderProcessResponsive(self);
          }
        }
      },
      held);
}

void WebKitBrowser::LoadURL(const std::string& url) {
  if (view_ != nullptr) webkit_web_view_load_uri(view_, url.c_str());
}

void WebKitBrowser::ExecuteJavaScript(const std::string& code, const std::string& script_url,
                                      int /*start_line*/) {
  if (view_ == nullptr) return;
  webkit_web_view_evaluate_javascript(view_, code.data(), static_cast<gssize>(code.size()),
                                      nullptr, script_url.empty() ? nullptr : script_url.c_str(),
                                      nullptr, nullptr, nullptr);
}

std::string WebKitBrowser::GetMainFrameURL() const {
  if (view_ == nullptr) return {};
  const gchar* uri = webkit_web_view_get_uri(view_);
  return uri != nullptr ? uri : "";
}

bool WebKitBrowser::SetPreference(const std::string& name, int value, std::string& error) {
  if (view_ == nullptr) {
    error = "the browser is closed";
    return false;
  }
  if (name == "credentials_enable_service") {
    // This engine has no credential store: nothing is ever saved, so "off" holds.
    if (value == 0) return true;
    error = "this engine has no credential service to turn on";
    return false;
  }
  const bool allow = value == 1;
  if (value != 1 && value != 2) {
    error = "unsupported value " + std::to_string(value);
    return false;
  }
  if (name == "profile.default_content_setting_values.notifications") {
    notifications_blocked_ = !allow;
    return true;
  }
  if (name == "profile.default_content_setting_values.clipboard") {
    WebKitSettings* settings = webkit_web_view_get_settings(view_);
    webkit_settings_set_javascript_can_access_clipboard(settings, allow);
    return true;
  }
  error = "unknown preference";
  return false;
}

}  // namespace engine::webkit
