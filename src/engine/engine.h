// The engine port: what the kiosk asks of the browser engine, and the
// handlers through which the engine calls the kiosk. One implementation
// (WebKitGTK) lives in engine/webkit; tests use fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/types.h"

namespace engine {

class Client;

// One browser: the kiosk's handle on the page view.
class Browser {
 public:
  virtual ~Browser() = default;
  virtual bool IsSame(const std::shared_ptr<Browser>& other) const = 0;
  virtual int GetIdentifier() const = 0;
  virtual void SetFocus(bool focus) = 0;
  // The engine's window follows the new size of its X parent.
  virtual void WasResized() = 0;
  // force: no before-unload handler runs.
  virtual void CloseBrowser(bool force) = 0;
  // The X window the engine renders into (a child of the parent given at creation).
  virtual unsigned long GetWindowHandle() const = 0;
  virtual void LoadURL(const std::string& url) = 0;
  // A fresh session, then `url`: the renderer is ended (no before-unload
  // handler or open dialog holds it up), every site's data (cookies,
  // storage, caches, service workers) and the back/forward list are
  // removed, and only then is `url` loaded. Not a crash: no recovery.
  virtual void ResetSessionAndLoad(const std::string& url) = 0;
  virtual void ExecuteJavaScript(const std::string& code, const std::string& script_url,
                                 int start_line) = 0;
  virtual std::string GetMainFrameURL() const = 0;
  // Sets a named preference; false (with error set) when it was not applied.
  virtual bool SetPreference(const std::string& name, int value, std::string& error) = 0;
  // Loads the current page again; a dead renderer is started anew.
  virtual void Reload() = 0;
  // Ends the renderer of a page that stopped responding.
  virtual void TerminateRenderProcess() = 0;
  // The zoom of every page shown from now on (1: none).
  virtual void SetZoomLevel(double level) = 0;
  // true: the pointer over the page is blank, whatever the page asks for.
  virtual void SetCursorHidden(bool hidden) = 0;
  // Shows `html` in the main frame in place of `for_url`, which stays the
  // main frame's URL (a reload loads it). Not a page load: no load handler
  // call comes for it, and no navigation decision is asked.
  virtual void ShowStatusPage(const std::string& html, const std::string& for_url) = 0;
  // Shows `html` as ShowStatusPage does, as the page where a person types
  // a PIN: while it is shown, Return pressed on the keyboard (never a
  // page's script) hands the text of its element "pin" to `entered`.
  virtual void ShowPinPage(const std::string& html, const std::string& for_url,
                           std::function<void(const std::string& pin)> entered) = 0;
};
using BrowserPtr = std::shared_ptr<Browser>;

// A TLS client certificate with its private key, as the engine offers it.
class ClientCertificate {
 public:
  virtual ~ClientCertificate() = default;
};
using ClientCertificatePtr = std::shared_ptr<const ClientCertificate>;

// The token holding a client certificate's key asks for its PIN.
struct PinRequest {
  std::string host;
  // The PIN given last was wrong.
  bool retry = false;
  // What the token says of the tries left: 0 unknown, 1 the final one,
  // 2 several.
  int tries_left = 0;
};

// The frame a load event belongs to.
struct Frame {
  std::string url;
  bool is_main = true;
};

class LifeSpanHandler {
 public:
  virtual ~LifeSpanHandler() = default;
  virtual void OnAfterCreated(BrowserPtr browser) = 0;
  // False lets the close go on.
  virtual bool DoClose(BrowserPtr browser) = 0;
  virtual void OnBeforeClose(BrowserPtr browser) = 0;
  // True cancels the new window.
  virtual bool OnBeforePopup(BrowserPtr browser, const std::string& target_url,
                             WindowOpenDisposition disposition, bool user_gesture) = 0;
  // The page's own script asked to close its window (window.close()); true
  // lets the close go on as if the kiosk had asked for it.
  virtual bool OnPageCloseRequest(BrowserPtr /*browser*/) { return true; }
};

class LoadHandler {
 public:
  virtual ~LoadHandler() = default;
  virtual void OnLoadStart(BrowserPtr /*browser*/, const Frame& /*frame*/) {}
  virtual void OnLoadEnd(BrowserPtr browser, const Frame& frame, int http_status_code) = 0;
  // error_code is one of the negative ErrorCode numbers.
  virtual void OnLoadError(BrowserPtr /*browser*/, const Frame& /*frame*/, int /*error_code*/,
                           const std::string& /*error_text*/, const std::string& /*failed_url*/) {}
};

class KeyboardHandler {
 public:
  virtual ~KeyboardHandler() = default;
  // Before the page sees the key; true consumes it.
  virtual bool OnPreKeyEvent(BrowserPtr browser, const KeyEvent& event,
                             bool* is_keyboard_shortcut) = 0;
  // After the page left the key unhandled; true consumes it.
  virtual bool OnKeyEvent(BrowserPtr browser, const KeyEvent& event) = 0;
};

class DisplayHandler {
 public:
  virtual ~DisplayHandler() = default;
  virtual void OnTitleChange(BrowserPtr browser, const std::string& title) = 0;
  virtual void OnFullscreenModeChange(BrowserPtr browser, bool fullscreen) = 0;
  virtual bool OnConsoleMessage(BrowserPtr browser, LogSeverity level, const std::string& message,
                                const std::string& source, int line) = 0;
  // A person used the page: a key, a pointer move, a button, a touch, a scroll.
  virtual void OnUserActivity(BrowserPtr /*browser*/) {}
  // An editable element of the page got (true) or lost (false) the focus.
  virtual void OnEditableFocus(BrowserPtr /*browser*/, bool /*editable*/) {}
};

// The items of a context menu; the handler may clear them.
class MenuModel {
 public:
  virtual ~MenuModel() = default;
  virtual bool Clear() = 0;
  virtual size_t GetCount() const = 0;
};

class ContextMenuHandler {
 public:
  virtual ~ContextMenuHandler() = default;
  virtual void OnBeforeContextMenu(BrowserPtr browser, MenuModel& model) = 0;
};

// Answer to a certificate error, given once.
class Callback {
 public:
  virtual ~Callback() = default;
  virtual void Continue() = 0;
  virtual void Cancel() = 0;
};

class RequestHandler {
 public:
  virtual ~RequestHandler() = default;
  // True cancels the navigation.
  virtual bool OnBeforeBrowse(BrowserPtr browser, const std::string& url, bool user_gesture,
                              bool is_redirect) = 0;
  // True cancels opening the URL in a new tab.
  virtual bool OnOpenURLFromTab(BrowserPtr browser, const std::string& target_url,
                                WindowOpenDisposition disposition, bool user_gesture) = 0;
  // True when the callback will be (or has been) answered.
  virtual bool OnCertificateError(BrowserPtr browser, int cert_error, const std::string& url,
                                  const SslInfo& ssl_info, std::shared_ptr<Callback> callback) = 0;
  // The page's renderer died.
  virtual void OnRenderProcessTerminated(BrowserPtr /*browser*/, TerminationStatus /*status*/) {}
  // The engine ended the renderer while it was navigating to `url`, before
  // anything of the new page was shown (called before
  // OnRenderProcessTerminated).
  virtual void OnNavigationEndedRenderer(BrowserPtr /*browser*/, const std::string& /*url*/) {}
  // The renderer stopped answering, and answered again.
  virtual void OnRenderProcessUnresponsive(BrowserPtr /*browser*/) {}
  virtual void OnRenderProcessResponsive(BrowserPtr /*browser*/) {}
  // A server asks for a TLS client certificate: the one to offer, or null
  // (the handshake goes on without one).
  virtual ClientCertificatePtr OnClientCertificateRequest(BrowserPtr /*browser*/,
                                                          const std::string& /*host*/,
                                                          int /*port*/) {
    return nullptr;
  }
  // The offered certificate's token asks for its PIN: the PIN, or nullopt
  // (the load fails).
  virtual std::optional<std::string> OnClientCertificatePin(BrowserPtr /*browser*/,
                                                            const PinRequest& /*request*/) {
    return std::nullopt;
  }
};

// Script dialogs (alert, confirm, prompt, leave-page questions).
class JSDialogHandler {
 public:
  virtual ~JSDialogHandler() = default;
  // True: the dialog is answered at once without showing (alert: OK;
  // otherwise: cancel); false: the engine shows it.
  virtual bool OnJSDialog(BrowserPtr browser, const std::string& origin_url,
                          JSDialogType type) = 0;
  // Another page was committed: the last page's dialogs are forgotten.
  virtual void OnResetDialogState(BrowserPtr /*browser*/) {}
};

// Hands out the handlers; a null handler means the engine's default.
class Client {
 public:
  virtual ~Client() = default;
  virtual std::shared_ptr<ContextMenuHandler> GetContextMenuHandler() { return nullptr; }
  virtual std::shared_ptr<DisplayHandler> GetDisplayHandler() { return nullptr; }
  virtual std::shared_ptr<KeyboardHandler> GetKeyboardHandler() { return nullptr; }
  virtual std::shared_ptr<LifeSpanHandler> GetLifeSpanHandler() { return nullptr; }
  virtual std::shared_ptr<LoadHandler> GetLoadHandler() { return nullptr; }
  virtual std::shared_ptr<RequestHandler> GetRequestHandler() { return nullptr; }
  virtual std::shared_ptr<JSDialogHandler> GetJSDialogHandler() { return nullptr; }
};

// Receives the cookies of the store one at a time.
class CookieVisitor {
 public:
  virtual ~CookieVisitor() = default;
  // count: 0-based position; total: cookies in the enumeration. False stops it.
  virtual bool Visit(const Cookie& cookie, int count, int total, bool& deleteCookie) = 0;
  // After the enumeration has run to its end, also when the store was empty.
  virtual void OnVisitDone(int /*total*/) {}
  // The enumeration failed after it had started: why, in plain words.
  virtual void OnVisitFailed(const std::string& /*reason*/) {}
};

// Told once whether a cookie was stored.
class SetCookieCallback {
 public:
  virtual ~SetCookieCallback() = default;
  virtual void OnComplete(bool success) = 0;
};

// The browser's one cookie store.
class CookieManager {
 public:
  virtual ~CookieManager() = default;
  static std::shared_ptr<CookieManager> GetGlobalManager();
  // Sets a cookie as the page at `url` would. An empty domain makes it
  // host-only; a domain that does not domain-match the URL's host is refused
  // through the callback. False when the request could not be made at all.
  virtual bool SetCookie(const std::string& url, const Cookie& cookie,
                         std::shared_ptr<SetCookieCallback> callback) = 0;
  // Starts an enumeration of every cookie; false when it could not start.
  virtual bool VisitAllCookies(std::shared_ptr<CookieVisitor> visitor) = 0;
  // `observer` runs on the UI thread after each change of the store's
  // cookies (by a page, a response or SetCookie); an empty one stops that.
  virtual void SetChangeObserver(std::function<void()> observer) = 0;
  // Names the store's current life. It changes when the store was lost and
  // started anew (its process died), taking every cookie with it; nullopt
  // while no store is running.
  virtual std::optional<uint64_t> StoreGeneration() = 0;
};

// Process-level engine calls. All of them run on the UI thread, except
// CurrentlyOnUiThread and PostToUiThread.
// Start-up work that needs no settings (a trial run of the renderer's
// sandbox), begun in the background before the configuration is read and
// the display opened; Initialize collects it. Optional.
void StartEarly();
bool Initialize(const Settings& settings);
void RunMessageLoop();
void QuitMessageLoop();
void Shutdown();
// True between Initialize and Shutdown.
bool IsRunning();
// Every request of the pages goes through `proxy` (http://host:port,
// socks5://host:port), except to the comma-separated `ignoreHosts`; an
// empty `proxy`: the system's settings. Cheap when nothing changed.
void SetNetworkProxy(const std::string& proxy, const std::string& ignoreHosts);

// Loads a client certificate and its private key: each a PEM file or a
// PKCS#11 URI ("pkcs11:..."); `key` empty: the key is in the certificate's
// file, or on its token. Null, with the reason in `error`, when it cannot.
ClientCertificatePtr LoadClientCertificate(const std::string& certificate, const std::string& key,
                                           std::string& error);

// Creates a browser inside the X window `parent`; asynchronous: the life-span
// handler's OnAfterCreated reports it. False when the request was refused.
bool CreateBrowser(unsigned long parent, const Rect& rect, std::shared_ptr<Client> client,
                   const std::string& url, const BrowserSettings& settings);

// Removes what the engine keeps on disk for this run alone (its sandbox's
// sockets and info files) and ends its own session bus, if it runs one; for
// the forced shutdown, which skips exit handlers.
void RemoveRuntimeFiles();

bool CurrentlyOnUiThread();
void PostToUiThread(std::function<void()> task);
void PostDelayedToUiThread(std::function<void()> task, int delay_ms);

}  // namespace engine
