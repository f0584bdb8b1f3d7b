// The optional GTK toolbar with its "Quit" button, embedded in the top strip
// of the host window, and its auto-hide. The host window owns it.
#pragma once

#include <X11/Xlib.h>
#include <gtk/gtk.h>

#include <functional>

#include "window/auto_hide.h"

namespace vkx {

class Toolbar {
 public:
  static constexpr int kShownHeight = 40;
  static constexpr int kHiddenHeight = 10;

  // Where the strip goes: the host window's connection, window, screen and width.
  struct Place {
    Display* display;
    Window host;
    int screen;
    int width;
  };

  // Builds the strip and the toolbar and shows them; with `autoHide` the
  // toolbar hides after a few seconds and comes back when the pointer rests
  // at the top edge. `quit`: the button was clicked; `heightChanged`: it
  // hid or showed itself.
  Toolbar(const Place& place, bool autoHide, std::function<void()> quit,
          std::function<void()> heightChanged);
  ~Toolbar();
  Toolbar(const Toolbar&) = delete;
  Toolbar& operator=(const Toolbar&) = delete;

  // 40 while it is shown, 10 while it is hidden.
  int Height() const { return toolbarHeight; }
  Window StripWindow() const { return toolbarWindow; }
  // Fits the strip and the toolbar to the host window's width.
  void Layout(int width);
  // The pointer entered the strip: a hidden toolbar's tick wakes up.
  void OnStripEntered() { StartTicking(); }

 private:
  void Build();
  void SetHidden(bool hide);
  // One auto-hide tick; false when the next one could change nothing
  // until the pointer enters the strip.
  bool AutoHideTick();
  void StartTicking();
  unsigned StripWidth() const;
  static void OnQuitClicked(GtkToolButton* button, gpointer self);

  Display* const xDisplay;
  const Window hostWindow;
  const int screenNumber;
  int windowWidth;
  int toolbarHeight = kShownHeight;
  const std::function<void()> quit_;
  const std::function<void()> heightChanged_;
  Window toolbarWindow = 0;
  GtkWidget* toolbarGtkWindow = nullptr;
  GtkWidget* toolbarWidget = nullptr;
  AutoHideState autoHide;
  bool autoHideStarted = false;
  guint tickTimer = 0;
};

}  // namespace vkx
