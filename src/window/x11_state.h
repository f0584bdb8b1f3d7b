// Process-wide X11 state of the host window, shared by the window code,
// the browser embedding and the client utilities.
#pragma once

#include <X11/Xlib.h>

extern Display* xDisplay;
extern int screenNumber;
extern Window hostWindow;
extern Atom wmDeleteWindow;
extern Pixmap iconPixmap;
extern Pixmap iconMask;
extern int windowWidth;
extern int windowHeight;
// 0 without a toolbar, 40 while it is shown, 10 while it is hidden.
extern int toolbarHeight;
