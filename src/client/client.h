// The one engine client of the kiosk: life span and loads of its browser.
#pragma once

#include <memory>
#include <string>

#include "engine/engine.h"

namespace vkx {

class Client : public engine::Client,
               public engine::LifeSpanHandler,
               public engine::LoadHandler,
               public std::enable_shared_from_this<Client> {
 public:
  Client();

  // Null until the engine reports the browser created; kept after it closed.
  engine::BrowserPtr GetBrowser() const { return browser_; }

  std::shared_ptr<engine::LifeSpanHandler> GetLifeSpanHandler() override;
  std::shared_ptr<engine::LoadHandler> GetLoadHandler() override;

  void OnAfterCreated(engine::BrowserPtr browser) override;
  bool DoClose(engine::BrowserPtr browser) override;
  void OnBeforeClose(engine::BrowserPtr browser) override;
  void OnLoadEnd(engine::BrowserPtr browser, const engine::Frame& frame,
                 int http_status_code) override;
  bool OnBeforePopup(engine::BrowserPtr browser, const std::string& target_url,
                     engine::WindowOpenDisposition disposition, bool user_gesture) override;

 private:
  engine::BrowserPtr browser_;
};

}  // namespace vkx
