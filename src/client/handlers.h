// The kiosk policy for keys, title, full screen, page console and context menus.
#pragma once

#include <functional>
#include <string>

#include "engine/engine.h"
#include "request/lockdown.h"

namespace vkx {

// What the client asks of the kiosk around it. The application connects
// these to the host window; the client knows nothing of X.
struct ClientHooks {
  std::function<void(const std::string& title)> setTitle;
  // The page entered (true) or left (false) its HTML full screen.
  std::function<void(bool fullscreen)> setFullscreen;
  // The end-session key was pressed.
  std::function<void()> endSession;
  // The main frame finished loading a page, or failed to.
  std::function<void(const std::string& url)> pageLoaded;
  std::function<void(const std::string& url)> pageFailed;
  // A person used the page.
  std::function<void()> userActivity;
  // Show (true) or hide (false) the on-screen keyboard: an editable element
  // got or lost the focus, or another page is on its way.
  std::function<void(bool shown)> keyboardWanted;
};

class KbdHandler : public engine::KeyboardHandler {
 public:
  explicit KbdHandler(std::function<void()> endSession) : end_session_(std::move(endSession)) {}
  bool OnPreKeyEvent(engine::BrowserPtr browser, const engine::KeyEvent& event,
                     bool* is_keyboard_shortcut) override;
  bool OnKeyEvent(engine::BrowserPtr browser, const engine::KeyEvent& event) override;

 private:
  std::function<void()> end_session_;
};

class DisplayHandler : public engine::DisplayHandler {
 public:
  // `signInSubmitted` hears of each submission of the sign-in script, with
  // the page's URL.
  explicit DisplayHandler(ClientHooks hooks,
                          std::function<void(const std::string& page)> signInSubmitted = {})
      : hooks_(std::move(hooks)), sign_in_submitted_(std::move(signInSubmitted)) {}
  void OnTitleChange(engine::BrowserPtr browser, const std::string& title) override;
  void OnFullscreenModeChange(engine::BrowserPtr browser, bool fullscreen) override;
  bool OnConsoleMessage(engine::BrowserPtr browser, engine::LogSeverity level,
                        const std::string& message, const std::string& source,
                        int line) override;
  void OnUserActivity(engine::BrowserPtr browser) override;
  void OnEditableFocus(engine::BrowserPtr browser, bool editable) override;

 private:
  ClientHooks hooks_;
  std::function<void(const std::string& page)> sign_in_submitted_;
};

// Shows a page's script dialogs until the page opens too many of them in a
// short time; the rest of that page's dialogs are answered at once.
class JsDialogHandler : public engine::JSDialogHandler {
 public:
  using Clock = DialogGuard::Clock;
  explicit JsDialogHandler(std::function<Clock::time_point()> clock = Clock::now)
      : clock_(std::move(clock)) {}
  bool OnJSDialog(engine::BrowserPtr browser, const std::string& origin_url,
                  engine::JSDialogType type) override;
  void OnResetDialogState(engine::BrowserPtr browser) override;

 private:
  std::function<Clock::time_point()> clock_;
  DialogGuard guard_;
};

class CtxMenuHandler : public engine::ContextMenuHandler {
 public:
  void OnBeforeContextMenu(engine::BrowserPtr browser, engine::MenuModel& model) override;
};

}  // namespace vkx
