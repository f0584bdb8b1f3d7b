#include "client/client_util.h"

#include "cookies/cookies.h"
#include "log/check.h"

namespace vkx {

void HandleAfterCreated(ClientManager& manager, engine::BrowserPtr browser) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  manager.AddBrowser(std::move(browser));
}

bool HandleDoClose(engine::BrowserPtr /*browser*/) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  return false;
}

void HandleBeforeClose(ClientManager& manager, engine::BrowserPtr browser) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  SaveCookies(browser);
  manager.RemoveBrowser(std::move(browser));
}

}  // namespace vkx
