// How the kiosk ends. The close button, the toolbar's "Quit", the
// end-session key and SIGTERM/SIGINT all raise the host window's
// closeRequested; the window then reports the close, and this sequence runs
// on the one main loop:
//   1. ExitSequence::Begin force-closes the browser and, when the cookies
//      are kept, lets the loop run until the browser has closed and the
//      cookie file is written (three seconds at most);
//   2. it quits the main loop;
//   3. main, after the loop, calls ForceShutdown: "force shutdown...", then
//      SIGKILL to the engine helpers and to the kiosk itself.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

class ExitSequence {
 public:
  // How long the kiosk waits at most, when ending, for the browser to close
  // and its cookies to be written.
  static constexpr std::chrono::milliseconds kCookieSaveWait{3000};

  // `closeBrowser` force-closes the browser (nothing without one);
  // `closedAndSaved` holds once no browser is left and no save is running.
  ExitSequence(std::function<void()> closeBrowser, std::function<bool()> closedAndSaved,
               std::chrono::milliseconds bound = kCookieSaveWait);
  ~ExitSequence();
  ExitSequence(const ExitSequence&) = delete;
  ExitSequence& operator=(const ExitSequence&) = delete;

  // Runs once; later calls do nothing. Without `waitForCookieSave` the loop
  // is quit at once: a kill follows, and nothing is written.
  void Begin(bool waitForCookieSave);

 private:
  struct Watch;
  void Finish();

  const std::function<void()> close_browser_;
  const std::function<bool()> closed_and_saved_;
  const std::chrono::milliseconds bound_;
  bool begun_ = false;
  bool finished_ = false;
  GSource* watch_ = nullptr;
  guint timer_ = 0;
};

// Prints "force shutdown..." and kills the engine helpers this process
// started, then this process. Called once, after the main loop has ended.
[[noreturn]] void ForceShutdown();
