// Reactions to the host window's X events.
#pragma once

#include <X11/Xlib.h>

// Handles one event: resizes, the window manager's close request, key
// presses that reach the host window, and focus arriving at the host.
void HandleXEvent(XEvent& event);

// Handles every event already queued on xDisplay.
void DrainXEvents();
