// The optional GTK toolbar with its "Quit" button, embedded in the top strip
// of the host window, and its auto-hide.
#pragma once

#include <X11/Xlib.h>
#include <gtk/gtk.h>

extern Window toolbarWindow;
extern GtkWidget* toolbarGtkWindow;
extern GtkWidget* toolbarWidget;

void SetupToolbar(bool autoHide);
void BuildToolbar();
void LayoutToolbar();
void SetToolbarHidden(bool hide);
// One auto-hide tick (every 100 ms while auto-hide has work to do); false
// when the next tick could change nothing until the pointer enters the strip.
bool ToolbarAutoHideTick();
// The pointer entered the toolbar's strip.
void OnToolbarStripEntered();
void OnQuitClicked(GtkToolButton* button, gpointer data);
