#include "window/x_events.h"

#include <X11/Xutil.h>

#include <cstdio>

#include "app/shutdown.h"
#include "config/config.h"
#include "window/browser_window.h"
#include "window/toolbar.h"
#include "window/x11_state.h"

void HandleXEvent(XEvent& event) {
  switch (event.type) {
    case ConfigureNotify:
      if (event.xconfigure.window != hostWindow) break;
      windowWidth = event.xconfigure.width;
      windowHeight = event.xconfigure.height;
      if (Config::Instance().GetEnableToolbar()) LayoutToolbar();
      ResizeBrowser();
      break;
    case ClientMessage:
      if (static_cast<Atom>(event.xclient.data.l[0]) == wmDeleteWindow) {
        puts("Close button pressed. Exiting...");
        closeRequested = true;
      }
      break;
    case KeyPress:
      printf("KeyPress: %d/%d\n", static_cast<int>(XLookupKeysym(&event.xkey, 0)),
             static_cast<int>(event.xkey.state));
      break;
    case EnterNotify:
      if (event.xcrossing.window == toolbarWindow) OnToolbarStripEntered();
      break;
    case FocusIn:
      // A window manager focuses the top-level window; keys belong to the page.
      if (event.xfocus.window == hostWindow &&
          (event.xfocus.detail == NotifyAncestor || event.xfocus.detail == NotifyInferior ||
           event.xfocus.detail == NotifyNonlinear)) {
        FocusBrowser();
      }
      break;
    default:
      break;
  }
}

void DrainXEvents() {
  while (XPending(xDisplay) > 0) {
    XEvent event;
    XNextEvent(xDisplay, &event);
    HandleXEvent(event);
  }
}
