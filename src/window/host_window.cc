#include "window/host_window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/xpm.h>

#include <cstdio>

#include "log/log.h"
#include "window/icons/brellik_icon.h"
#include "window/icons/default_icon.h"
#include "window/on_screen_keyboard.h"
#include "window/toolbar.h"

namespace vkx {

namespace {

// The connection whose errors the handler reports, and the handler it
// replaced: Xlib's handler takes no user data.
Display* errorDisplay = nullptr;
XErrorHandler errorPrevious = nullptr;

template <typename T, typename... Args>
std::unique_ptr<T, int (*)(void*)> XAlloc(T* (*alloc)(Args...), Args... args) {
  return std::unique_ptr<T, int (*)(void*)>(alloc(args...), XFree);
}

}  // namespace

void SendNetWmState(Display* display, Window window, long action, Atom first, Atom second,
                    long source) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = action;
  event.xclient.data.l[1] = static_cast<long>(first);
  event.xclient.data.l[2] = static_cast<long>(second);
  event.xclient.data.l[3] = source;
  event.xclient.data.l[4] = 0;
  XSendEvent(display, RootWindow(display, DefaultScreen(display)), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

const char* const* IconDataFor(const std::string& iconName) {
  return iconName == "brellik" ? vkx::icons::brellikIcon : vkx::icons::defaultIcon;
}

std::unique_ptr<HostWindow> HostWindow::Connect() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  return std::make_unique<HostWindow>(Key{}, display);
}

HostWindow::HostWindow(Key, Display* display)
    : display_(display), xDisplay(display), screenNumber(DefaultScreen(display)) {}

HostWindow::~HostWindow() {
  StopWatching();
  if (eventSource != nullptr) g_source_unref(eventSource);
  toolbar_.reset();
  keyboard_.reset();
  if (iconPixmap != 0) XFreePixmap(xDisplay, iconPixmap);
  if (iconMask != 0) XFreePixmap(xDisplay, iconMask);
  if (blankCursor != 0) XFreeCursor(xDisplay, blankCursor);
  // With its children: the toolbar strip and the browser's area.
  if (hostWindow != 0) XDestroyWindow(xDisplay, hostWindow);
  if (errorHandlerInstalled) {
    // Errors of the requests above still reach this handler.
    XSync(xDisplay, False);
    XSetErrorHandler(errorPrevious);
    errorDisplay = nullptr;
    errorPrevious = nullptr;
  }
  // display_ closes the connection.
}

void HostWindow::Create(const HostWindowOptions& options) {
  if (hostWindow != 0) return;
  // Errors of this connection are printed; the toolkit's connection keeps
  // its own handler, so its error traps still work.
  errorPrevious = XSetErrorHandler(OnXError);
  errorDisplay = xDisplay;
  errorHandlerInstalled = true;

  windowWidth = options.width;
  windowHeight = options.height;
  // X refuses a zero or negative size; such a configured size still gives a window.
  const unsigned width = windowWidth > 0 ? static_cast<unsigned>(windowWidth) : 1;
  const unsigned height = windowHeight > 0 ? static_cast<unsigned>(windowHeight) : 1;
  hostWindow = XCreateSimpleWindow(xDisplay, RootWindow(xDisplay, screenNumber), 100, 100, width,
                                   height, 1, BlackPixel(xDisplay, screenNumber),
                                   WhitePixel(xDisplay, screenNumber));
  SetWindowIcon(options.iconName);
  XSelectInput(xDisplay, hostWindow, KeyPressMask | ExposureMask | StructureNotifyMask);
  wmDeleteWindow = XInternAtom(xDisplay, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(xDisplay, hostWindow, &wmDeleteWindow, 1);
  XMapWindow(xDisplay, hostWindow);
  XFlush(xDisplay);

  if (options.toolbar) {
    toolbar_ = std::make_unique<Toolbar>(
        Toolbar::Place{xDisplay, hostWindow, screenNumber, windowWidth}, options.autoHide,
        [this] { RequestClose(); }, [this] { ToolbarHeightChanged(); });
  }
  SetCursorHidden(options.hideCursor);
}

void HostWindow::SetCursorHidden(bool hidden) {
  if (hostWindow == 0 || hidden == cursorHidden) return;
  cursorHidden = hidden;
  if (hidden && blankCursor == 0) {
    // A 1x1 cursor whose mask shows nothing.
    static const char bits[] = {0};
    const Pixmap empty = XCreateBitmapFromData(xDisplay, hostWindow, bits, 1, 1);
    XColor black{};
    blankCursor = XCreatePixmapCursor(xDisplay, empty, empty, &black, &black, 0, 0);
    XFreePixmap(xDisplay, empty);
  }
  // The toolkit's windows inside the strip and the area set no cursor of
  // their own, so they show their parent's.
  for (const Window window :
       {hostWindow, browserWindow, toolbar_ ? toolbar_->StripWindow() : Window{0},
        keyboard_ ? keyboard_->StripWindow() : Window{0}}) {
    if (window == 0) continue;
    if (hidden) {
      XDefineCursor(xDisplay, window, blankCursor);
    } else {
      XUndefineCursor(xDisplay, window);
    }
  }
  XFlush(xDisplay);
}

void HostWindow::SetWindowIcon(const std::string& iconName) {
  XpmAttributes attributes{};
  attributes.valuemask = 0;
  // libXpm takes non-const data but only reads it.
  char** data = const_cast<char**>(IconDataFor(iconName));
  const int result =
      XpmCreatePixmapFromData(xDisplay, hostWindow, data, &iconPixmap, &iconMask, &attributes);
  XpmFreeAttributes(&attributes);
  if (result != 0) {
    LogError("Error loading XPM icon");
    return;
  }
  auto hints = XAlloc(XAllocWMHints);
  if (!hints) return;
  hints->flags = IconPixmapHint | IconMaskHint;
  hints->icon_pixmap = iconPixmap;
  hints->icon_mask = iconMask;
  XSetWMHints(xDisplay, hostWindow, hints.get());
}

void HostWindow::SetTitle(const std::string& title) {
  if (hostWindow == 0) return;
  char netWmName[] = "_NET_WM_NAME";
  char utf8String[] = "UTF8_STRING";
  char* names[] = {netWmName, utf8String};
  Atom atoms[2] = {0, 0};
  if (XInternAtoms(xDisplay, names, 2, False, atoms) != 0) {
    XChangeProperty(xDisplay, hostWindow, atoms[0], atoms[1], 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
  }
  XStoreName(xDisplay, hostWindow, title.c_str());
  XFlush(xDisplay);
}

void HostWindow::SendWmState(long action, Atom first, Atom second, long source) {
  SendNetWmState(xDisplay, hostWindow, action, first, second, source);
}

void HostWindow::SetFullscreen() {
  XInternAtom(xDisplay, "_NET_WM_STATE", False);
  const Atom fullscreen = XInternAtom(xDisplay, "_NET_WM_STATE_FULLSCREEN", False);
  LogInfo("SetFullscreen");
  SendWmState(1, fullscreen, 0, 0);
  XSync(xDisplay, False);
  XFlush(xDisplay);
}

void HostWindow::SetMaximized() {
  XInternAtom(xDisplay, "_NET_WM_STATE", False);
  const Atom horizontal = XInternAtom(xDisplay, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
  const Atom vertical = XInternAtom(xDisplay, "_NET_WM_STATE_MAXIMIZED_VERT", False);
  LogInfo(std::to_string(horizontal) + "\n" + std::to_string(vertical));
  SendWmState(1, horizontal, vertical, 0);
}

void HostWindow::RequestFullscreen(bool fullscreen) {
  if (hostWindow == 0) return;
  const Atom state = XInternAtom(xDisplay, "_NET_WM_STATE_FULLSCREEN", False);
  SendWmState(fullscreen ? 1 : 0, state, 0, 1);
  XFlush(xDisplay);
}

void HostWindow::Flush() { XFlush(xDisplay); }

int HostWindow::OnXError(Display* display, XErrorEvent* event) {
  if (display != errorDisplay && errorPrevious != nullptr) return errorPrevious(display, event);
  char text[1024] = {};
  XGetErrorText(display, event->error_code, text, sizeof text);
  char report[1400];
  std::snprintf(report, sizeof report,
                "X Error: %s\n  Request Code: %d\n  Minor Code:   %d\n  Serial:       %lu\n"
                "  ResourceID:   0x%lx",
                text, event->request_code, event->minor_code, event->serial, event->resourceid);
  LogError(report);
  return 0;
}

}  // namespace vkx
