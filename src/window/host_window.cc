#include "window/host_window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/xpm.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "config/config.h"
#include "window/icons/brellik_icon.h"
#include "window/icons/default_icon.h"
#include "window/x11_state.h"

Display* xDisplay = nullptr;
int screenNumber = 0;
Window hostWindow = 0;
Atom wmDeleteWindow = 0;
Pixmap iconPixmap = 0;
Pixmap iconMask = 0;
int windowWidth = 0;
int windowHeight = 0;
int toolbarHeight = 0;

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
// Owns the connection that xDisplay points at.
std::unique_ptr<Display, DisplayCloser> displayOwner;

template <typename T, typename... Args>
std::unique_ptr<T, int (*)(void*)> XAlloc(T* (*alloc)(Args...), Args... args) {
  return std::unique_ptr<T, int (*)(void*)>(alloc(args...), XFree);
}

void SendWmState(long action, Atom first, Atom second, bool sync) {
  SendNetWmState(xDisplay, hostWindow, action, first, second, 0);
  if (sync) {
    XSync(xDisplay, False);
    XFlush(xDisplay);
  }
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

void OpenHostDisplay() {
  if (xDisplay != nullptr) return;
  displayOwner.reset(XOpenDisplay(nullptr));
  xDisplay = displayOwner.get();
  if (xDisplay == nullptr) {
    fprintf(stderr, "Cannot open display\n");
    exit(1);
  }
}

void CreateHostWindow() {
  Config& config = Config::Instance();
  windowWidth = config.GetWidth();
  windowHeight = config.GetHeight();
  OpenHostDisplay();
  screenNumber = DefaultScreen(xDisplay);
  // X refuses a zero or negative size; such a configured size still gives a window.
  const unsigned width = windowWidth > 0 ? static_cast<unsigned>(windowWidth) : 1;
  const unsigned height = windowHeight > 0 ? static_cast<unsigned>(windowHeight) : 1;
  hostWindow = XCreateSimpleWindow(xDisplay, RootWindow(xDisplay, screenNumber), 100, 100, width,
                                   height, 1, BlackPixel(xDisplay, screenNumber),
                                   WhitePixel(xDisplay, screenNumber));
  SetWindowIcon(config.GetIconName());
  XSelectInput(xDisplay, hostWindow, KeyPressMask | ExposureMask | StructureNotifyMask);
  wmDeleteWindow = XInternAtom(xDisplay, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(xDisplay, hostWindow, &wmDeleteWindow, 1);
  XMapWindow(xDisplay, hostWindow);
  XFlush(xDisplay);
}

const char* const* IconDataFor(const std::string& iconName) {
  return iconName == "brellik" ? vkx::icons::brellikIcon : vkx::icons::defaultIcon;
}

void SetWindowIcon(const std::string& iconName) {
  XpmAttributes attributes{};
  attributes.valuemask = 0;
  // libXpm takes non-const data but only reads it.
  char** data = const_cast<char**>(IconDataFor(iconName));
  const int result =
      XpmCreatePixmapFromData(xDisplay, hostWindow, data, &iconPixmap, &iconMask, &attributes);
  XpmFreeAttributes(&attributes);
  if (result != 0) {
    fprintf(stderr, "Error loading XPM icon\n");
    return;
  }
  auto hints = XAlloc(XAllocWMHints);
  if (!hints) return;
  hints->flags = IconPixmapHint | IconMaskHint;
  hints->icon_pixmap = iconPixmap;
  hints->icon_mask = iconMask;
  XSetWMHints(xDisplay, hostWindow, hints.get());
}

void SetWindowTitle(const std::string& title) {
  if (xDisplay == nullptr || hostWindow == 0) return;
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

void ApplyDisplayMode() {
  switch (Config::Instance().GetDisplayMode()) {
    case Config::Fullscreen:
      SetFullscreen();
      break;
    case Config::Maximized:
      SetMaximized();
      break;
    default:
      break;
  }
}

void SetFullscreen() {
  XInternAtom(xDisplay, "_NET_WM_STATE", False);
  Atom fullscreen = XInternAtom(xDisplay, "_NET_WM_STATE_FULLSCREEN", False);
  printf("SetFullscreen\n");
  SendWmState(1, fullscreen, 0, true);
}

void SetMaximized() {
  XInternAtom(xDisplay, "_NET_WM_STATE", False);
  Atom horizontal = XInternAtom(xDisplay, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
  Atom vertical = XInternAtom(xDisplay, "_NET_WM_STATE_MAXIMIZED_VERT", False);
  printf("%lu\n%lu\n", horizontal, vertical);
  SendWmState(1, horizontal, vertical, false);
}

int OnXError(Display* display, XErrorEvent* event) {
  char text[1024] = {};
  XGetErrorText(display, event->error_code, text, sizeof text);
  fprintf(stderr, "X Error: %s\n", text);
  fprintf(stderr, "  Request Code: %d\n", event->request_code);
  fprintf(stderr, "  Minor Code:   %d\n", event->minor_code);
  fprintf(stderr, "  Serial:       %lu\n", event->serial);
  fprintf(stderr, "  ResourceID:   0x%lx\n", event->resourceid);
  return 0;
}

void DestroyHostWindow() {
  if (xDisplay == nullptr) return;
  if (iconPixmap != 0) XFreePixmap(xDisplay, iconPixmap);
  if (iconMask != 0) XFreePixmap(xDisplay, iconMask);
  if (hostWindow != 0) XDestroyWindow(xDisplay, hostWindow);
  iconPixmap = iconMask = hostWindow = 0;
  displayOwner.reset();
  xDisplay = nullptr;
}
