#include "window/browser_window.h"

#include "client/client.h"
#include "config/config.h"
#include "engine/engine.h"
#include "window/x11_state.h"

Window browserWindow = 0;
std::shared_ptr<vkx::Client> browserClient;
engine::BrowserSettings browserSettings;

namespace {

unsigned BrowserHeight() {
  const int height = windowHeight - toolbarHeight;
  return height > 0 ? static_cast<unsigned>(height) : 1;
}

unsigned BrowserWidth() { return windowWidth > 0 ? static_cast<unsigned>(windowWidth) : 1; }

engine::BrowserPtr LiveBrowser() {
  if (!browserClient || !engine::IsRunning()) return nullptr;
  return browserClient->GetBrowser();
}

}  // namespace

void CreateBrowserWindow() {
  browserWindow = XCreateSimpleWindow(xDisplay, hostWindow, 0, toolbarHeight, BrowserWidth(),
                                      BrowserHeight(), 1, BlackPixel(xDisplay, screenNumber),
                                      WhitePixel(xDisplay, screenNumber));
  XMapWindow(xDisplay, browserWindow);
  // Focus that a window manager gives the host window is passed on to the page.
  XSelectInput(xDisplay, hostWindow,
               KeyPressMask | ExposureMask | StructureNotifyMask | FocusChangeMask);
  // The engine's window is reparented into browserWindow from another
  // connection: it must exist on the server first.
  XSync(xDisplay, False);
  const engine::Rect rect{0, 0, static_cast<int>(BrowserWidth()), static_cast<int>(BrowserHeight())};
  browserClient = std::make_shared<vkx::Client>();
  const std::string url = Config::Instance().GetUrl();
  engine::CreateBrowser(browserWindow, rect, browserClient, url, browserSettings);
}

void ResizeBrowser() {
  XMoveWindow(xDisplay, browserWindow, 0, toolbarHeight);
  XResizeWindow(xDisplay, browserWindow, BrowserWidth(), BrowserHeight());
  engine::BrowserPtr browser = LiveBrowser();
  if (browser && browser->GetWindowHandle() != 0) {
    XResizeWindow(xDisplay, browser->GetWindowHandle(), BrowserWidth(), BrowserHeight());
    // The engine reads the new size back over its own connection.
    XSync(xDisplay, False);
    browser->WasResized();
  }
}

void FocusBrowser() {
  if (engine::BrowserPtr browser = LiveBrowser()) browser->SetFocus(true);
}

void CloseBrowserAndQuit() {
  if (!engine::IsRunning()) return;
  if (engine::BrowserPtr browser = LiveBrowser()) browser->CloseBrowser(true);
  engine::QuitMessageLoop();
}
