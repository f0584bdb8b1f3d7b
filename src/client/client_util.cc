#include "client/client_util.h"

#include "app/check.h"
#include "client/client_manager.h"

namespace vkx {

void HandleAfterCreated(engine::BrowserPtr browser) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  ClientManager::Instance()->AddBrowser(std::move(browser));
}

bool HandleDoClose(engine::BrowserPtr /*browser*/) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  return false;
}

void HandleBeforeClose(engine::BrowserPtr browser) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  ClientManager::Instance()->RemoveBrowser(std::move(browser));
}

}  // namespace vkx
