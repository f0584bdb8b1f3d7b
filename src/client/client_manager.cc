#include "client/client_manager.h"

#include "log/check.h"
#include "log/log.h"

ClientManager::ClientManager() = default;

ClientManager::~ClientManager() {
  VKX_CHECK(thread_checker_.CalledOnValidThread());
  VKX_CHECK(browser_list_.empty());
}

void ClientManager::AddBrowser(engine::BrowserPtr browser) {
  VKX_CHECK(thread_checker_.CalledOnValidThread());
  browser_list_.push_back(std::move(browser));
}

void ClientManager::RemoveBrowser(engine::BrowserPtr browser) {
  VKX_CHECK(thread_checker_.CalledOnValidThread());
  for (auto it = browser_list_.begin(); it != browser_list_.end(); ++it) {
    if ((*it)->IsSame(browser)) {
      browser_list_.erase(it);
      break;
    }
  }
  if (browser_list_.empty()) vkx::LogInfo("Quit message loop ....");
}
