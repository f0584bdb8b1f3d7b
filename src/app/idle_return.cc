#include "app/idle_return.h"

#include "engine/engine.h"
#include "log/log.h"

namespace vkx {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

void IdleReturn::OnActivity() {
  last_input_ = hooks_.now();
  untouched_start_ = false;
  if (hooks_.timeoutSeconds() > 0) Arm(std::chrono::seconds(hooks_.timeoutSeconds()));
}

void IdleReturn::OnPageLoaded(const std::string& url) {
  // Input that comes after this load clears it again.
  untouched_start_ = url == hooks_.startUrl();
  if (hooks_.timeoutSeconds() > 0) Arm(std::chrono::seconds(hooks_.timeoutSeconds()));
}

void IdleReturn::Arm(milliseconds delay) {
  if (armed_) return;  // the pending timer looks at the last input when it fires
  armed_ = true;
  engine::PostDelayedToUiThread([this] { OnTimer(); }, static_cast<int>(delay.count()));
}

void IdleReturn::OnTimer() {
  armed_ = false;
  const int seconds = hooks_.timeoutSeconds();
  if (seconds <= 0) return;
  const auto due = last_input_ + std::chrono::seconds(seconds);
  const auto now = hooks_.now();
  if (now < due) {
    Arm(duration_cast<milliseconds>(due - now) + milliseconds(1));
    return;
  }
  const std::string start = hooks_.startUrl();
  if (untouched_start_ && hooks_.currentUrl() == start) return;  // input or a load re-arms
  LogInfo("Idle timeout: returning to the start page");
  last_input_ = now;
  hooks_.load(start);
}

}  // namespace vkx
