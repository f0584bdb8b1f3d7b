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
void DestroyHostWindow();

// The XPM data the icon name selects.
const char* const* IconDataFor(const std::string& iconName);
