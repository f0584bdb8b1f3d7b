// Registry of the open browsers. The application owns the one manager and
// hands it to the client; the shutdown waits for it to become empty.
#pragma once

#include <list>
#include <mutex>
#include <thread>

#include "engine/engine.h"

namespace vkx {

// True only on the thread that created it.
class ThreadChecker {
 public:
  ThreadChecker() : owner_(std::this_thread::get_id()) {}
  bool CalledOnValidThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return owner_ == std::this_thread::get_id();
  }

 private:
  mutable std::mutex mutex_;
  std::thread::id owner_;
};

}  // namespace vkx

class ClientManager {
 public:
  ClientManager();
  ~ClientManager();
  ClientManager(const ClientManager&) = delete;
  ClientManager& operator=(const ClientManager&) = delete;

  void AddBrowser(engine::BrowserPtr browser);
  // Removing the last one logs "Quit message loop ....": the page has gone.
  // The kiosk goes on serving its window until it is told to end.
  void RemoveBrowser(engine::BrowserPtr browser);

  size_t BrowserCount() const { return browser_list_.size(); }

 private:
  vkx::ThreadChecker thread_checker_;
  std::list<engine::BrowserPtr> browser_list_;
};
