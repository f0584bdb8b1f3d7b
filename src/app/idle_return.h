// Back to the start page after a while without input: a public terminal
// forgets the last person's page. Runs on the main loop; one timer at most.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace vkx {

class IdleReturn {
 public:
  using Clock = std::chrono::steady_clock;
  struct Hooks {
    std::function<int()> timeoutSeconds;  // the configured idleTimeout; 0: off
    std::function<std::string()> startUrl;
    std::function<std::string()> currentUrl;
    std::function<void(const std::string& url)> load;
    std::function<Clock::time_point()> now = Clock::now;
  };
  explicit IdleReturn(Hooks hooks) : hooks_(std::move(hooks)) {}

  // A key, pointer move, button or touch in the kiosk window.
  void OnActivity();
  // The page finished loading (a page's own navigations are no input).
  void OnPageLoaded(const std::string& url);

 private:
  void Arm(std::chrono::milliseconds delay);
  void OnTimer();

  Hooks hooks_;
  Clock::time_point last_input_ = hooks_.now();
  // Showing the start page with no input since it got there.
  bool untouched_start_ = false;
  bool armed_ = false;
};

}  // namespace vkx
