// One WebKitWebView in a GTK top-level window whose X window is reparented
// into the kiosk's X window, with its signals turned into handler calls.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <deque>
#include <memory>
#include <set>
#include <string>

#include "engine/engine.h"
#include "engine/webkit/glib_ptr.h"

namespace engine::webkit {

class WebKitBrowser : public Browser, public std::enable_shared_from_this<WebKitBrowser> {
 public:
  WebKitBrowser(WebKitWebContext* context, std::shared_ptr<Client> client,
                const BrowserSettings& settings);
  ~WebKitBrowser() override;
  WebKitBrowser(const WebKitBrowser&) = delete;
  WebKitBrowser& operator=(const WebKitBrowser&) = delete;

  // Puts the view into `parent` at `rect` and shows it.
  bool Embed(unsigned long parent, const Rect& rect);

  bool IsSame(const std::shared_ptr<Browser>& other) const override;
  int GetIdentifier() const override { return id_; }
  void SetFocus(bool focus) override;
  void WasResized() override;
  void CloseBrowser(bool force) override;
  unsigned long GetWindowHandle() const override { return window_ ? xid_ : 0; }
  void LoadURL(const std::string& url) override;
  void ResetSessionAndLoad(const std::string& url) override;
  void ExecuteJavaScript(const std::string& code, const std::string& script_url,
                         int start_line) override;
  std::string GetMainFrameURL() const override;
  bool SetPreference(const std::string& name, int value, std::string& error) override;
  void Reload() override;
  void TerminateRenderProcess() override;
  void SetZoomLevel(double level) override;
  void SetCursorHidden(bool hidden) override;
  void ShowStatusPage(const std::string& html, const std::string& for_url) override;
  void ShowPinPage(const std::string& html, const std::string& for_url,
                   std::function<void(const std::string& pin)> entered) override;
  // Asks the renderer every few seconds whether it still answers.
  void StartResponsivenessChecks();

  bool IsClosed() const { return !window_; }
  // Destroys the view at engine shutdown, without close callbacks.
  void Discard();

  const std::shared_ptr<Client>& client() const { return client_; }
  WebKitWebView* view() const { return view_; }

 private:
  // The named handlers of the view's signals (webkit_signals.cc).
  friend struct BrowserSignals;

  // The client's handler of one kind, or null when there is none.
  template <typename Handler>
  std::shared_ptr<Handler> HandlerOf(std::shared_ptr<Handler> (Client::*get)()) const {
    return client_ ? (client_.get()->*get)() : nullptr;
  }
  // Runs the close: DoClose, the view goes away, OnBeforeClose.
  void FinishClose();
  void ConnectSignals();
  bool Popup(const std::string& url, WindowOpenDisposition disposition, bool user_gesture);
  // The "decide-policy" signal (webkit_policy.cc): the dispatcher and its
  // three kinds of decision. TRUE: the decision is (or will be) made here.
  gboolean DecidePolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
  gboolean DecideNavigation(WebKitNavigationPolicyDecision* decision);
  gboolean DecideNewWindow(WebKitNavigationPolicyDecision* decision);
  static gboolean DecideResponse(WebKitResponsePolicyDecision* decision);
  gboolean HandleKeyPress(GdkEventKey* event);
  // webkit_client_cert.cc: the engine's certificate, PIN and HTTP
  // authentication requests; Return on the PIN page.
  gboolean Authenticate(WebKitAuthenticationRequest* request);
  bool ReadPinOnReturn(const GdkEventKey* event);
  // The kiosk's number for a failed load's error: a TLS failure after a
  // server asked for a certificate and was offered none is the site
  // demanding one.
  int LoadErrorOf(const GError* error) const;
  void Ping();
  // A script dialog is on show in the view: the page waits for a person,
  // and its renderer's silence is no hang.
  bool ScriptDialogShown() const;
  // The renderer answered a ping (or the question failed, which also answers).
  void OnPingAnswered();

  const int id_;
  std::shared_ptr<Client> client_;
  struct WidgetDestroy {
    void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
  };
  // The top-level window; it owns view_ and is destroyed on close.
  std::unique_ptr<GtkWidget, WidgetDestroy> window_;
  WebKitWebView* view_ = nullptr;
  unsigned long xid_ = 0;
  bool closing_ = false;
  // The kiosk asked the page to close (CloseBrowser): the "close" that
  // follows is its own, not the page's window.close().
  bool close_requested_ = false;
  bool notifications_blocked_ = true;
  // Key presses let through to the page, oldest first: the same press
  // coming back is the page leaving it unhandled.
  struct PassedKey {
    guint32 time;
    guint16 code;
    bool operator==(const PassedKey&) const = default;
  };
  static constexpr size_t kPassedKeysKept = 64;
  std::deque<PassedKey> passed_keys_;
  bool load_failed_ = false;
  // The kiosk's status page (ShowStatusPage): asked for and not started
  // yet, loading, on show. Its load is no page load (the load handler hears
  // nothing of it), and its renderer answering is no recovery.
  struct StatusPageState {
    bool requested = false;
    bool loading = false;
    bool shown = false;
    // Its document replaced the last page's.
    bool committed = false;
    std::string url;
    // It stands in for the engine's error page of a failed load, and
    // reports that load's end as the error page did.
    bool ends_failed_load = false;
  } status_;
  // A main-frame load that the engine's network layer cancelled by itself
  // is loaded again, a few times at most: the URL and how often so far
  // (cleared by a load that went through).
  std::string reloaded_after_cancel_;
  int reloads_after_cancel_ = 0;
  // The URL of the latest navigation, for the log.
  std::string navigation_url_;
  // The latest navigation's redirect was cancelled (the extension's
  // report comes before the load's failure).
  bool redirect_cancelled_ = false;
  // The view's back/forward list once its first page showed (that page
  // alone), for a session reset; and whether the renderer's end that a
  // reset asked for is due.
  struct SessionStateUnref {
    void operator()(WebKitWebViewSessionState* state) const {
      webkit_web_view_session_state_unref(state);
    }
  };
  std::unique_ptr<WebKitWebViewSessionState, SessionStateUnref> first_session_;
  bool reset_ending_renderer_ = false;
  // Hosts that asked for a client certificate and were told once that
  // the kiosk has none.
  std::set<std::string> hosts_without_certificate_;
  // A server asked for a client certificate during the current load and
  // was offered none.
  bool certificate_declined_ = false;
  // Who hears the PIN typed on the PIN page, while it is the status page shown.
  std::function<void(const std::string& pin)> pin_entered_;
  // The navigation of the main frame's load that started and has shown
  // nothing yet.
  std::string provisional_url_;
  SourceId ping_timer_;
  bool ping_pending_ = false;
  bool unresponsive_ = false;
  // X time of the last pointer motion reported as user activity.
  guint32 last_motion_report_ = 0;
};

}  // namespace engine::webkit
