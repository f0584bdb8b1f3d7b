#include "client/client.h"

#include <iostream>

#include "app/check.h"
#include "client/client_util.h"

namespace vkx {

Client::Client() = default;

std::shared_ptr<engine::LifeSpanHandler> Client::GetLifeSpanHandler() { return shared_from_this(); }

std::shared_ptr<engine::LoadHandler> Client::GetLoadHandler() { return shared_from_this(); }

void Client::OnAfterCreated(engine::BrowserPtr browser) {
  browser_ = browser;
  browser->SetFocus(true);
  HandleAfterCreated(browser);
}

bool Client::DoClose(engine::BrowserPtr browser) { return HandleDoClose(std::move(browser)); }

void Client::OnBeforeClose(engine::BrowserPtr browser) { HandleBeforeClose(std::move(browser)); }

void Client::OnLoadEnd(engine::BrowserPtr /*browser*/, const engine::Frame& frame,
                       int http_status_code) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  std::cout << "Page loaded, status code: " << http_status_code << std::endl;
  std::cout << "URL: " << frame.url << std::endl;
}

bool Client::OnBeforePopup(engine::BrowserPtr /*browser*/, const std::string& /*target_url*/,
                           engine::WindowOpenDisposition /*disposition*/, bool /*user_gesture*/) {
  return true;
}

}  // namespace vkx
