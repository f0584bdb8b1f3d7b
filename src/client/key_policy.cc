#include "client/key_policy.h"

#include <string>

#include "log/log.h"

namespace vkx {

namespace {

constexpr int kKeyC = 67;
constexpr int kKeyF1 = 112;
constexpr int kKeyF12 = 123;

bool IsKeyDown(const engine::KeyEvent& event) {
  return event.type == engine::KeyEventType::RawKeyDown ||
         event.type == engine::KeyEventType::KeyDown;
}

}  // namespace

KeyVerdict DecidePreKey(const engine::KeyEvent& event, bool endSessionChord,
                        bool disableShortcuts) {
  KeyVerdict verdict;
  if (!IsKeyDown(event)) return verdict;
  const bool ctrl = (event.modifiers & engine::EVENTFLAG_CONTROL_DOWN) != 0;
  const bool alt = (event.modifiers & engine::EVENTFLAG_ALT_DOWN) != 0;
  LogInfo("OnPreKeyEvent - Ctrl: " + std::to_string(ctrl) + ", Alt:" + std::to_string(alt) +
          ", K:" + std::to_string(event.windows_key_code));
  if (endSessionChord && ctrl && alt && event.windows_key_code == kKeyC) {
    LogInfo("Ctrl+Alt+C detected. Terminating client...");
    verdict.consume = true;
    verdict.endSession = true;
    return verdict;
  }
  if (disableShortcuts) {
    if (event.windows_key_code >= kKeyF1 && event.windows_key_code <= kKeyF12) {
      LogInfo("OnPreKeyEvent - F" + std::to_string(event.windows_key_code - 111) + " key pressed");
      verdict.consume = true;
    } else {
      verdict.consume = ctrl || alt;
    }
  }
  return verdict;
}

void LogUnhandledKey(const engine::KeyEvent& event) {
  if (!IsKeyDown(event)) return;
  LogInfo("OnKeyEvent - Ctrl: " + std::to_string((event.modifiers >> 2) & 1) +
          ", Alt:" + std::to_string((event.modifiers >> 3) & 1) +
          ", K:" + std::to_string(event.windows_key_code));
}

}  // namespace vkx
