// The one engine client of the kiosk: it hands out the policy handlers and
// follows the life span and the loads of its browser.
#pragma once

#include <memory>
#include <string>

#include "client/client_manager.h"
#include "client/handlers.h"
#include "client/login_script.h"
#include "engine/engine.h"
#include "request/recovery.h"

class RequestHandler;

namespace vkx {

class Client : public engine::Client,
               public engine::LifeSpanHandler,
               public engine::LoadHandler,
               public std::enable_shared_from_this<Client> {
 public:
  // The browser is registered with `manager` while it lives; `hooks` reach
  // the window and the shutdown.
  Client(ClientManager& manager, ClientHooks hooks);
  // False once the page's renderer has been dead or hung for a minute in
  // spite of its recovery.
  bool RendererHealthy() const;

  // Null until the engine reports the browser created; kept after it closed.
  engine::BrowserPtr GetBrowser() const { return browser_; }

  std::shared_ptr<engine::ContextMenuHandler> GetContextMenuHandler() override;
  std::shared_ptr<engine::DisplayHandler> GetDisplayHandler() override;
  std::shared_ptr<engine::KeyboardHandler> GetKeyboardHandler() override;
  std::shared_ptr<engine::LifeSpanHandler> GetLifeSpanHandler() override;
  std::shared_ptr<engine::LoadHandler> GetLoadHandler() override;
  std::shared_ptr<engine::RequestHandler> GetRequestHandler() override;
  std::shared_ptr<engine::JSDialogHandler> GetJSDialogHandler() override;

  void OnAfterCreated(engine::BrowserPtr browser) override;
  bool DoClose(engine::BrowserPtr browser) override;
  void OnBeforeClose(engine::BrowserPtr browser) override;
  void OnLoadStart(engine::BrowserPtr browser, const engine::Frame& frame) override;
  void OnLoadEnd(engine::BrowserPtr browser, const engine::Frame& frame,
                 int http_status_code) override;
  void OnLoadError(engine::BrowserPtr browser, const engine::Frame& frame, int error_code,
                   const std::string& error_text, const std::string& failed_url) override;
  bool OnBeforePopup(engine::BrowserPtr browser, const std::string& target_url,
                     engine::WindowOpenDisposition disposition, bool user_gesture) override;
  bool OnPageCloseRequest(engine::BrowserPtr browser) override;

 private:
  void ApplyPreferences(engine::BrowserPtr browser);
  void LaunchTarget(const std::string& url, bool maximized);
  void InjectLoginScript(engine::BrowserPtr browser);

  ClientManager& manager_;
  const ClientHooks hooks_;
  // The sign-in settings the guard counted under, and whether it has
  // said that it stopped.
  std::string login_settings_;
  SignInGuard sign_in_guard_;
  bool sign_in_stopped_ = false;
  std::shared_ptr<CtxMenuHandler> ctx_menu_handler_;
  std::shared_ptr<KbdHandler> kbd_handler_;
  std::shared_ptr<JsDialogHandler> dialog_handler_ = std::make_shared<JsDialogHandler>();
  engine::BrowserPtr browser_;
  std::shared_ptr<::RequestHandler> request_handler_;
  std::shared_ptr<Recovery> recovery_;
};

}  // namespace vkx
