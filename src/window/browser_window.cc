// The browser's place in the host window: an X child window below the
// toolbar strip, into which the engine puts its own window.
#include "window/host_window.h"
#include "window/on_screen_keyboard.h"
#include "window/toolbar.h"

namespace vkx {

int HostWindow::ToolbarHeight() const { return toolbar_ ? toolbar_->Height() : 0; }

int HostWindow::KeyboardHeight() const { return keyboard_ ? keyboard_->Height() : 0; }

unsigned HostWindow::BrowserHeight() const {
  const int height = windowHeight - ToolbarHeight() - KeyboardHeight();
  return height > 0 ? static_cast<unsigned>(height) : 1;
}

unsigned HostWindow::BrowserWidth() const {
  return windowWidth > 0 ? static_cast<unsigned>(windowWidth) : 1;
}

engine::Rect HostWindow::BrowserRect() const {
  return {0, 0, static_cast<int>(BrowserWidth()), static_cast<int>(BrowserHeight())};
}

Window HostWindow::CreateBrowserArea() {
  if (browserWindow != 0) return browserWindow;
  browserWindow = XCreateSimpleWindow(xDisplay, hostWindow, 0, ToolbarHeight(), BrowserWidth(),
                                      BrowserHeight(), 1, BlackPixel(xDisplay, screenNumber),
                                      WhitePixel(xDisplay, screenNumber));
  if (cursorHidden) XDefineCursor(xDisplay, browserWindow, blankCursor);
  XMapWindow(xDisplay, browserWindow);
  // Focus that a window manager gives the host window is passed on to the page.
  XSelectInput(xDisplay, hostWindow,
               KeyPressMask | ExposureMask | StructureNotifyMask | FocusChangeMask);
  // The engine's window is reparented into browserWindow from another
  // connection: it must exist on the server first.
  XSync(xDisplay, False);
  return browserWindow;
}

void HostWindow::ResizeBrowser(const engine::BrowserPtr& browser) {
  if (browserWindow == 0) return;
  XMoveWindow(xDisplay, browserWindow, 0, ToolbarHeight());
  XResizeWindow(xDisplay, browserWindow, BrowserWidth(), BrowserHeight());
  if (browser && browser->GetWindowHandle() != 0) {
    XResizeWindow(xDisplay, browser->GetWindowHandle(), BrowserWidth(), BrowserHeight());
    // The engine reads the new size back over its own connection.
    XSync(xDisplay, False);
    browser->WasResized();
  }
}

void HostWindow::EnableKeyboard(bool enabled) {
  if (hostWindow == 0 || (!enabled && !keyboard_)) return;
  if (!keyboard_) {
    keyboard_ = std::make_unique<OnScreenKeyboard>(
        OnScreenKeyboard::Place{xDisplay, hostWindow, screenNumber},
        [this] { ToolbarHeightChanged(); });
    if (cursorHidden) XDefineCursor(xDisplay, keyboard_->StripWindow(), blankCursor);
  }
  keyboard_->Enable(enabled);
}

void HostWindow::ShowKeyboard(bool shown) {
  if (keyboard_) keyboard_->Show(shown);
}

void HostWindow::ToolbarHeightChanged() {
  if (events_.resized) events_.resized();
}

}  // namespace vkx
