// The kiosk's one top-level X11 window and everything on its X connection:
// the display, the window and its icon, the toolbar strip, the browser's
// area, the X error handler and the main-loop source that reads the
// window's events. One object owns them all and releases them together.
#pragma once

#include <X11/Xlib.h>
#include <glib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "engine/engine.h"

namespace vkx {

class OnScreenKeyboard;
class Toolbar;

struct HostWindowOptions {
  int width = 0;
  int height = 0;
  std::string iconName;
  bool toolbar = false;
  bool autoHide = false;
  bool hideCursor = false;
};

// What the window reports; the application connects these. They run on the
// main loop.
struct HostWindowEvents {
  // closeRequested was raised and every event queued before it is handled.
  // Reported once; the window reads no more events after it.
  std::function<void()> close;
  // The browser's area changed size or place: size the browser again.
  std::function<void()> resized;
  // A window manager gave the host window the focus: pass it to the page.
  std::function<void()> focused;
};

class HostWindow {
  struct Key {
    explicit Key() = default;
  };

 public:
  // Opens the display connection; null when there is none.
  static std::unique_ptr<HostWindow> Connect();
  // Through Connect only.
  HostWindow(Key, Display* display);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // Installs the X error handler and creates and maps the window with its
  // icon and, when asked, the toolbar. After the toolkit has started: it
  // sets an error handler of its own when it starts.
  void Create(const HostWindowOptions& options);

  // The browser's X window below the toolbar strip (created once), and the
  // browser's rectangle in it.
  Window CreateBrowserArea();
  engine::Rect BrowserRect() const;
  // Fits the browser's area, and the engine's window in it when there is a
  // browser, to the window and the toolbar.
  void ResizeBrowser(const engine::BrowserPtr& browser);

  // Runs (true) or ends (false) the on-screen keyboard's program; shows
  // (true) or hides (false) its strip at the window's bottom, which the
  // browser's area then leaves free. Showing does nothing while it is not
  // enabled.
  void EnableKeyboard(bool enabled);
  void ShowKeyboard(bool shown);

  void SetTitle(const std::string& title);
  // true: a blank pointer over the window, the toolbar and the browser's
  // area (the page's own window keeps its cursor by itself).
  void SetCursorHidden(bool hidden);
  // The configured display modes, asked of the window manager.
  void SetFullscreen();
  void SetMaximized();
  // The page's HTML full screen: add (true) or remove the full-screen state,
  // as a normal application asks for it.
  void RequestFullscreen(bool fullscreen);
  void Flush();

  // Starts reading the window's X events on the main loop.
  void Watch(HostWindowEvents events);
  // Raises closeRequested and wakes the main loop; the close event follows
  // once the queued X events are handled. Main thread.
  void RequestClose();

 private:
  struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
  };
  struct EventSource;

  void SetWindowIcon(const std::string& iconName);
  void SendWmState(long action, Atom first, Atom second, long source);
  unsigned BrowserWidth() const;
  unsigned BrowserHeight() const;
  int ToolbarHeight() const;
  int KeyboardHeight() const;
  void ToolbarHeightChanged();

  // x_events.cc
  bool EventsWaiting() const;
  void DispatchEvents();
  void HandleXEvent(XEvent& event);
  void StopWatching();

  static int OnXError(Display* display, XErrorEvent* event);

  std::unique_ptr<Display, DisplayCloser> display_;
  Display* const xDisplay;
  const int screenNumber;
  Window hostWindow = 0;
  Window browserWindow = 0;
  Atom wmDeleteWindow = 0;
  Pixmap iconPixmap = 0;
  Pixmap iconMask = 0;
  Cursor blankCursor = 0;
  bool cursorHidden = false;
  int windowWidth = 0;
  int windowHeight = 0;
  bool errorHandlerInstalled = false;
  std::unique_ptr<Toolbar> toolbar_;
  std::unique_ptr<OnScreenKeyboard> keyboard_;
  HostWindowEvents events_;
  GSource* eventSource = nullptr;
  // Raised once by whoever wants the kiosk to end; never reset.
  std::atomic<bool> closeRequested{false};
  bool closeReported = false;
};

// Asks the window manager, on `display`, to add (1) or remove (0) states of
// `window`; `source` 1 says a normal application asks.
void SendNetWmState(Display* display, Window window, long action, Atom first, Atom second,
                    long source);

// The XPM data the icon name selects.
const char* const* IconDataFor(const std::string& iconName);

}  // namespace vkx
