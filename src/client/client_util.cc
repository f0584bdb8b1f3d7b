#include "client/client_util.h"

#include <X11/Xlib.h>

#include <memory>

#include "app/check.h"
#include "client/client_manager.h"
#include "cookies/cookies.h"
#include "window/host_window.h"
#include "window/x11_state.h"

namespace vkx {

namespace {

void RequestFullscreenState(long action) {
  const Window window = hostWindow;
  std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
  if (!display) return;
  XInternAtom(display.get(), "_NET_WM_STATE", False);
  const Atom fullscreen = XInternAtom(display.get(), "_NET_WM_STATE_FULLSCREEN", False);
  SendNetWmState(display.get(), window, action, fullscreen, 0, 1);
  XFlush(display.get());
}

}  // namespace

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
  SaveCookies(browser);
  ClientManager::Instance()->RemoveBrowser(std::move(browser));
}

void EnterFullscreen(engine::BrowserPtr /*browser*/) { RequestFullscreenState(1); }

void ExitFullscreen(engine::BrowserPtr /*browser*/) { RequestFullscreenState(0); }

}  // namespace vkx
