// The view's signals: one named handler each, connected from one table.
// Each turns the signal into the client's handler call; the view's
// WebKitBrowser comes as the user data.
#include <string>
#include <utility>

#include "engine/webkit/glib_ptr.h"
#include "engine/webkit/messages.h"
#include "engine/webkit/webkit_browser.h"
#include "engine/webkit/webkit_choosers.h"
#include "engine/webkit/webkit_errors.h"
#include "log/log.h"

namespace engine::webkit {

namespace {

std::string Text(const gchar* text) { return text != nullptr ? text : ""; }

TerminationStatus ToTerminationStatus(WebKitWebProcessTerminationReason reason) {
  switch (reason) {
    case WEBKIT_WEB_PROCESS_CRASHED: return TerminationStatus::Crashed;
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT: return TerminationStatus::OutOfMemory;
    default: return TerminationStatus::Killed;
  }
}

}  // namespace

struct BrowserSignals {
  using Self = WebKitBrowser;

  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, Self* self) {
    if (event != WEBKIT_LOAD_STARTED) self->redirect_cancelled_ = false;
    // The view's URL follows a new load's start only later.
    if (event == WEBKIT_LOAD_STARTED) {
      self->certificate_declined_ = false;
      self->provisional_url_ = self->navigation_url_;
    } else if (event != WEBKIT_LOAD_REDIRECTED) {
      self->provisional_url_.clear();
    }
    if (event == WEBKIT_LOAD_COMMITTED && self->status_.loading) self->status_.committed = true;
    if (event == WEBKIT_LOAD_COMMITTED && !self->status_.loading && !self->first_session_) {
      self->first_session_.reset(webkit_web_view_get_session_state(view));
    }
    if (event == WEBKIT_LOAD_COMMITTED && !self->status_.loading) {
      if (auto dialogs = self->HandlerOf(&Client::GetJSDialogHandler)) {
        dialogs->OnResetDialogState(self->shared_from_this());
      }
    }
    if (event == WEBKIT_LOAD_STARTED) {
      // The status page's load is the first to start, for its URL, after it
      // was asked for; any other load that starts replaces it.
      self->status_.loading =
          self->status_.requested && Text(webkit_web_view_get_uri(view)) == self->status_.url;
      self->status_.requested = false;
      self->status_.shown = self->status_.loading;
      self->status_.committed = false;
      if (self->status_.loading) return;
      self->status_.ends_failed_load = false;
    }
    auto handler = self->HandlerOf(&Client::GetLoadHandler);
    if (!handler) return;
    if (event == WEBKIT_LOAD_STARTED) {
      handler->OnLoadStart(self->shared_from_this(), Frame{Text(webkit_web_view_get_uri(view)), true});
      return;
    }
    if (event != WEBKIT_LOAD_FINISHED) return;
    // A load that failed was no page load (a refused download, a cancelled
    // sign-in); the engine's error page, if any, reports its own end.
    if (self->load_failed_) {
      self->load_failed_ = false;
      return;
    }
    // Nor is the status page. In place of the engine's error page, it ends
    // the failed load as that page did: with no status.
    if (self->status_.loading) {
      self->status_.loading = false;
      if (!self->status_.ends_failed_load) return;
      self->status_.ends_failed_load = false;
    } else {
      self->reloaded_after_cancel_.clear();
    }
    handler->OnLoadEnd(self->shared_from_this(), Frame{Text(webkit_web_view_get_uri(view)), true},
                       MainResourceStatus(view));
  }

  // The HTTP status of the page's main resource; 0 when it has none.
  static int MainResourceStatus(WebKitWebView* view) {
    WebKitWebResource* resource = webkit_web_view_get_main_resource(view);
    WebKitURIResponse* response = resource ? webkit_web_resource_get_response(resource) : nullptr;
    return response ? static_cast<int>(webkit_uri_response_get_status_code(response)) : 0;
  }

  // The engine sometimes cancels a navigation's connection by itself, when
  // a click follows the page's rendering closely (its own pre-resolution of
  // the link's host is cancelled as the navigation starts, and the
  // connection waiting on it with it). Such a cancel comes as GIO's
  // G_IO_ERROR_CANCELLED, never as the engine's own cancel of a load that
  // a newer one or the page stopped; the navigation is loaded again, without
  // an error page in between.
  static bool ReloadAfterOwnCancel(WebKitWebView* view, const gchar* uri, const GError* error,
                                   Self* self) {
    constexpr int kMostReloads = 3;
    if (uri == nullptr || !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return false;
    if (self->reloaded_after_cancel_ != uri) self->reloads_after_cancel_ = 0;
    if (self->reloads_after_cancel_ == kMostReloads) return false;
    self->reloaded_after_cancel_ = uri;
    ++self->reloads_after_cancel_;
    PostToUiThread([browser = self->weak_from_this(), view = GRef<WebKitWebView>::Ref(view),
                    again = std::string(uri)] {
      auto alive = browser.lock();
      if (alive && !alive->IsClosed()) webkit_web_view_load_uri(view.get(), again.c_str());
    });
    return true;
  }

  static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar* uri, GError* error,
                               Self* self) {
    self->load_failed_ = true;
    self->provisional_url_.clear();
    // A redirect cancelled as leaving the web: already decided, and the
    // page stays as it was.
    if (std::exchange(self->redirect_cancelled_, false)) return TRUE;
    // The status page's own load, stopped by a newer one: nothing to report.
    if (self->status_.loading) {
      self->status_.loading = false;
      return TRUE;
    }
    if (ReloadAfterOwnCancel(view, uri, error, self)) return TRUE;
    auto handler = self->HandlerOf(&Client::GetLoadHandler);
    if (handler && error != nullptr) {
      handler->OnLoadError(self->shared_from_this(), Frame{Text(uri), true},
                           self->LoadErrorOf(error), error->message, Text(uri));
    }
    // The engine's error page, until a retry replaces it, unless the kiosk
    // asked for its status page (for this failure, or for the refused
    // certificate that led to it), which then stands in for it.
    if (!self->status_.requested) return FALSE;
    self->status_.ends_failed_load = true;
    return TRUE;
  }

  static gboolean OnLoadFailedWithTlsErrors(WebKitWebView* view, gchar* uri,
                                            GTlsCertificate* certificate,
                                            GTlsCertificateFlags errors, Self* self) {
    // This load failed either way; a continued one is loaded anew.
    self->load_failed_ = true;
    auto handler = self->HandlerOf(&Client::GetRequestHandler);
    if (!handler || certificate == nullptr) return FALSE;
    auto callback = std::make_shared<TlsErrorCallback>(view, certificate, Text(uri));
    handler->OnCertificateError(self->shared_from_this(), CertificateErrorCode(errors), Text(uri),
                                SslInfoOf(certificate), callback);
    // A refusal goes on to "load-failed" (which shows the engine's error
    // page or the kiosk's status page).
    return callback->continued() ? TRUE : FALSE;
  }

  // The kiosk's own close (try_close let through by the page), or the
  // page's window.close(), which the client decides on.
  static void OnClose(WebKitWebView*, Self* self) {
    if (!self->close_requested_) {
      auto handler = self->HandlerOf(&Client::GetLifeSpanHandler);
      if (handler && !handler->OnPageCloseRequest(self->shared_from_this())) return;
    }
    self->FinishClose();
  }

  static JSDialogType ToDialogType(WebKitScriptDialogType type) {
    switch (type) {
      case WEBKIT_SCRIPT_DIALOG_ALERT: return JSDialogType::Alert;
      case WEBKIT_SCRIPT_DIALOG_CONFIRM: return JSDialogType::Confirm;
      case WEBKIT_SCRIPT_DIALOG_PROMPT: return JSDialogType::Prompt;
      default: return JSDialogType::BeforeUnload;
    }
  }

  // TRUE without taking a reference answers the dialog at once (OK for an
  // alert, cancel for the others); FALSE lets the view show it.
  static gboolean OnScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, Self* self) {
    auto handler = self->HandlerOf(&Client::GetJSDialogHandler);
    if (!handler) return FALSE;
    return handler->OnJSDialog(self->shared_from_this(), Text(webkit_web_view_get_uri(view)),
                               ToDialogType(webkit_script_dialog_get_dialog_type(dialog)))
               ? TRUE
               : FALSE;
  }

  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, Self* self) {
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    self->Popup(Text(request ? webkit_uri_request_get_uri(request) : nullptr),
                WindowOpenDisposition::NewPopup, webkit_navigation_action_is_user_gesture(action));
    return nullptr;  // never a second view
  }

  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, Self* self) {
    return self->DecidePolicy(decision, type);
  }

  static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, Self* self) {
    return self->HandleKeyPress(event);
  }

  static void OnTitleChanged(WebKitWebView* view, GParamSpec*, Self* self) {
    if (auto handler = self->HandlerOf(&Client::GetDisplayHandler)) {
      handler->OnTitleChange(self->shared_from_this(), Text(webkit_web_view_get_title(view)));
    }
  }

  static void FullscreenChanged(Self* self, bool fullscreen) {
    if (auto handler = self->HandlerOf(&Client::GetDisplayHandler)) {
      handler->OnFullscreenModeChange(self->shared_from_this(), fullscreen);
    }
  }
  static gboolean OnEnterFullscreen(WebKitWebView*, Self* self) {
    FullscreenChanged(self, true);
    return FALSE;
  }
  static gboolean OnLeaveFullscreen(WebKitWebView*, Self* self) {
    FullscreenChanged(self, false);
    return FALSE;
  }

  // A redirect of the view's navigation that the extension cancelled: the
  // target is decided as any navigation (handed to an external handler, or
  // refused), and the cancelled load leaves the page as it was. An allowed
  // target is loaded by the view itself. Cancelled redirects of a page's
  // resources are nothing to report.
  static void OnRedirectCancelled(WebKitWebView* view, GVariant* parameters, Self* self) {
    const gchar* from = nullptr;
    const gchar* target = nullptr;
    g_variant_get(parameters, "(&s&s)", &from, &target);
    if (self->navigation_url_ != from) return;
    self->redirect_cancelled_ = true;
    auto handler = self->HandlerOf(&Client::GetRequestHandler);
    if (handler && !handler->OnBeforeBrowse(self->shared_from_this(), target, false, true)) {
      webkit_web_view_load_uri(view, target);
    }
  }

  // Console lines and cancelled redirects from the web-process extension.
  static gboolean OnUserMessage(WebKitWebView* view, WebKitUserMessage* message, Self* self) {
    if (g_strcmp0(webkit_user_message_get_name(message), messages::kRedirectCancelled) == 0) {
      GVariant* parameters = webkit_user_message_get_parameters(message);
      if (parameters != nullptr &&
          g_variant_is_of_type(parameters, G_VARIANT_TYPE(messages::kRedirectType))) {
        OnRedirectCancelled(view, parameters, self);
      }
      return TRUE;
    }
    if (g_strcmp0(webkit_user_message_get_name(message), messages::kEditableFocus) == 0) {
      GVariant* parameters = webkit_user_message_get_parameters(message);
      auto handler = self->HandlerOf(&Client::GetDisplayHandler);
      if (handler && parameters != nullptr &&
          g_variant_is_of_type(parameters, G_VARIANT_TYPE(messages::kEditableFocusType))) {
        gboolean editable = FALSE;
        g_variant_get(parameters, "(b)", &editable);
        handler->OnEditableFocus(self->shared_from_this(), editable != FALSE);
      }
      return TRUE;
    }
    if (g_strcmp0(webkit_user_message_get_name(message), messages::kConsole) != 0) return FALSE;
    GVariant* parameters = webkit_user_message_get_parameters(message);
    if (parameters == nullptr ||
        !g_variant_is_of_type(parameters, G_VARIANT_TYPE(messages::kConsoleType))) {
      return TRUE;
    }
    const gchar* text = nullptr;
    const gchar* source = nullptr;
    guint32 line = 0;
    g_variant_get(parameters, "(&s&su)", &text, &source, &line);
    if (auto handler = self->HandlerOf(&Client::GetDisplayHandler)) {
      handler->OnConsoleMessage(self->shared_from_this(), LogSeverity::Info, text, source,
                                static_cast<int>(line));
    }
    return TRUE;
  }

  // Every event of the view passes here first; the ones a person makes are
  // reported (a pointer in motion at most every quarter second), and none
  // is consumed.
  static gboolean OnEvent(WebKitWebView*, GdkEvent* event, Self* self) {
    constexpr guint32 kMotionReportMs = 250;
    switch (gdk_event_get_event_type(event)) {
      case GDK_MOTION_NOTIFY:
        if (gdk_event_get_time(event) - self->last_motion_report_ < kMotionReportMs) break;
        self->last_motion_report_ = gdk_event_get_time(event);
        [[fallthrough]];
      case GDK_KEY_PRESS:
      case GDK_BUTTON_PRESS:
      case GDK_TOUCH_BEGIN:
      case GDK_SCROLL:
        if (auto handler = self->HandlerOf(&Client::GetDisplayHandler)) {
          handler->OnUserActivity(self->shared_from_this());
        }
        break;
      default:
        break;
    }
    return FALSE;
  }

  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                     Self* self) {
    self->ping_pending_ = false;
    // The end a session reset asked for: no crash, nothing to recover.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API &&
        std::exchange(self->reset_ending_renderer_, false)) {
      self->provisional_url_.clear();
      return;
    }
    const std::string navigating = std::exchange(self->provisional_url_, std::string());
    if (auto handler = self->HandlerOf(&Client::GetRequestHandler)) {
      if (reason == WEBKIT_WEB_PROCESS_CRASHED && !navigating.empty()) {
        handler->OnNavigationEndedRenderer(self->shared_from_this(), navigating);
      }
      handler->OnRenderProcessTerminated(self->shared_from_this(), ToTerminationStatus(reason));
    }
  }

  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                WebKitHitTestResult*, Self* self) {
    auto handler = self->HandlerOf(&Client::GetContextMenuHandler);
    if (!handler) return FALSE;
    WebKitMenuModel model(menu);
    handler->OnBeforeContextMenu(self->shared_from_this(), model);
    if (model.GetCount() != 0) return FALSE;
    vkx::LogError("Context menu refused");
    return TRUE;
  }

  static gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request,
                                      Self* self) {
    if (!WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request) || !self->notifications_blocked_) {
      return FALSE;
    }
    webkit_permission_request_deny(request);
    return TRUE;
  }

  static gboolean OnRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, Self*) {
    webkit_file_chooser_request_cancel(request);
    vkx::LogError("File chooser refused");
    return TRUE;
  }

  static gboolean OnPrint(WebKitWebView*, WebKitPrintOperation*, Self*) {
    vkx::LogError("Print refused");
    return TRUE;
  }

  static gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                 Self* self) {
    return self->Authenticate(request);
  }
};

void WebKitBrowser::ConnectSignals() {
  struct Signal {
    const char* name;
    GCallback handler;
  };
  static const Signal kSignals[] = {
      {"load-changed", G_CALLBACK(BrowserSignals::OnLoadChanged)},
      {"load-failed", G_CALLBACK(BrowserSignals::OnLoadFailed)},
      {"load-failed-with-tls-errors", G_CALLBACK(BrowserSignals::OnLoadFailedWithTlsErrors)},
      {"close", G_CALLBACK(BrowserSignals::OnClose)},
      {"create", G_CALLBACK(BrowserSignals::OnCreate)},
      {"decide-policy", G_CALLBACK(BrowserSignals::OnDecidePolicy)},
      {"key-press-event", G_CALLBACK(BrowserSignals::OnKeyPress)},
      {"notify::title", G_CALLBACK(BrowserSignals::OnTitleChanged)},
      {"enter-fullscreen", G_CALLBACK(BrowserSignals::OnEnterFullscreen)},
      {"leave-fullscreen", G_CALLBACK(BrowserSignals::OnLeaveFullscreen)},
      {"user-message-received", G_CALLBACK(BrowserSignals::OnUserMessage)},
      {"web-process-terminated", G_CALLBACK(BrowserSignals::OnWebProcessTerminated)},
      {"event", G_CALLBACK(BrowserSignals::OnEvent)},
      {"context-menu", G_CALLBACK(BrowserSignals::OnContextMenu)},
      {"permission-request", G_CALLBACK(BrowserSignals::OnPermissionRequest)},
      {"run-file-chooser", G_CALLBACK(BrowserSignals::OnRunFileChooser)},
      {"print", G_CALLBACK(BrowserSignals::OnPrint)},
      {"authenticate", G_CALLBACK(BrowserSignals::OnAuthenticate)},
      {"script-dialog", G_CALLBACK(BrowserSignals::OnScriptDialog)},
  };
  for (const Signal& signal : kSignals) g_signal_connect(view_, signal.name, signal.handler, this);
  RefuseChooserDialogs(view_);
}

}  // namespace engine::webkit
