#include "client/client_manager.h"

#include <iostream>

#include "app/check.h"

ClientManager* g_manager = nullptr;

ClientManager::ClientManager() { g_manager = this; }

ClientManager::~ClientManager() {
  VKX_CHECK(thread_checker_.CalledOnValidThread());
  VKX_CHECK(browser_list_.empty());
  g_manager = nullptr;
}

ClientManager* ClientManager::Instance() {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  VKX_CHECK(g_manager);
  return g_manager;
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
  if (browser_list_.empty()) {
    std::cout << "Quit message loop ...." << std::endl;
    engine::QuitMessageLoop();
  }
}
