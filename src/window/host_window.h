// The kiosk's one top-level X11 window.
#pragma once

#include <X11/Xlib.h>

#include <string>

// Opens the display once; prints "Cannot open display" and exits with
// status 1 when there is none.
void OpenHostDisplay();
void CreateHostWindow();
void SetWindowIcon(const std::string& iconName);
void SetWindowTitle(const std::string& title);
void ApplyDisplayMode();
void SetFullscreen();
void SetMaximized();
int OnXError(Display* display, XErrorEvent* event);

// Asks the window manager, on `display`, to add (1) or remove (0) states of
// `window`; `source` 1 says a normal application asks.
void SendNetWmState(Display* display, Window window, long action, Atom first, Atom second,
                    long source);
void DestroyHostWindow();

// The XPM data the icon name selects.
const char* const* IconDataFor(const std::string& iconName);
