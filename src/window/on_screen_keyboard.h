// The on-screen keyboard: a strip at the bottom of the host window into
// which the keyboard program's window is embedded (XEmbed plug,
// reparented like the toolbar), so that the window manager never sees a
// second window. The program runs for as long as the keyboard is enabled;
// showing it only maps the strip, so it appears at once. Its keys are
// synthesised X key events to the focused window: they reach the page
// through the kiosk's key policy like any physical key.
#pragma once

#include <X11/Xlib.h>
#include <glib.h>
#include <sys/types.h>

#include <functional>
#include <string>

namespace vkx {

class OnScreenKeyboard {
 public:
  struct Place {
    Display* display;
    Window parent;
    int screen;
  };
  // `heightChanged` runs when the strip appeared or went away.
  OnScreenKeyboard(Place place, std::function<void()> heightChanged);
  ~OnScreenKeyboard();
  OnScreenKeyboard(const OnScreenKeyboard&) = delete;
  OnScreenKeyboard& operator=(const OnScreenKeyboard&) = delete;

  // Starts (true) or stops (false) the keyboard program. A program that
  // cannot start or ends is reported in one line and the kiosk goes on
  // without a keyboard; enabling it again (at the next page load) starts
  // an ended program again, a few times.
  void Enable(bool enabled);
  // Shows the strip (when the program's window is there) or hides it.
  // Hiding waits a moment, so that focus moving from one field to the
  // next does not make the keyboard flicker.
  void Show(bool shown);
  // The strip's height while it is shown, else 0.
  int Height() const;
  Window StripWindow() const { return strip_; }
  // The host window's new size.
  void Resize(int windowWidth, int windowHeight);

 private:
  void Start();
  void Stop();
  void Embed(Window plug);
  void Apply(bool shown);
  void Layout();
  static gboolean OnOutput(gint fd, GIOCondition condition, gpointer data);
  static void OnExit(GPid pid, gint status, gpointer data);

  Display* const display_;
  const Window parent_;
  const int screen_;
  std::function<void()> height_changed_;
  Window strip_ = 0;
  Window plug_ = 0;
  int window_width_ = 1;
  int window_height_ = 1;
  bool enabled_ = false;
  // Starts left after the program ended; none when it is not installed.
  int restarts_left_ = 3;
  bool wanted_ = false;
  bool shown_ = false;
  GPid pid_ = 0;
  guint exit_watch_ = 0;
  guint output_watch_ = 0;
  guint hide_timer_ = 0;
  guint start_timer_ = 0;
  int output_ = -1;
  std::string output_text_;
  std::string layout_file_;
};

}  // namespace vkx
