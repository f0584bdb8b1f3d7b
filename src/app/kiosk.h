// The wiring of the kiosk: the one place that knows the host window, the
// client and its browser registry, and the exit sequence, and connects them.
#pragma once

#include <glib.h>

#include <memory>

#include "app/idle_return.h"
#include "app/service_notify.h"
#include "app/shutdown.h"
#include "client/client.h"
#include "client/client_manager.h"
#include "engine/engine.h"
#include "window/host_window.h"

class Config;

class Kiosk {
 public:
  // Creates the window (with the toolbar the configuration asks for) and
  // asks the engine for the browser in it.
  Kiosk(vkx::HostWindow& host, const Config& config);
  ~Kiosk();
  Kiosk(const Kiosk&) = delete;
  Kiosk& operator=(const Kiosk&) = delete;

  // Attaches to the main loop: the window's X events, the delayed set-up
  // one second from now, and SIGTERM/SIGINT, which end the kiosk like the
  // close button.
  void Start();
  // False when the engine refused to make the browser (reported already).
  bool HasBrowser() const { return browser_requested_; }

 private:
  // The browser, while the engine runs and once it has been created.
  engine::BrowserPtr LiveBrowser() const;
  void CreateBrowser(const Config& config);
  bool browser_requested_ = false;
  // Sizes and focuses the browser and applies the configured display mode.
  void RunDelayedSetup();
  void FocusBrowser();
  void CloseBrowser();
  void OnClose();

  vkx::HostWindow& host_;
  const Config& config_;
  ClientManager manager_;
  std::shared_ptr<vkx::Client> client_;
  ExitSequence exit_;
  vkx::ServiceNotifier service_;
  vkx::IdleReturn idle_;
  guint delayed_setup_ = 0;
  guint stop_signals_[2] = {0, 0};
};
