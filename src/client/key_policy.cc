#include "client/key_policy.h"

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
                        bool disableShortcuts, std::ostream& log) {
  KeyVerdict verdict;
  if (!IsKeyDown(event)) return verdict;
  const bool ctrl = (event.modifiers & engine::EVENTFLAG_CONTROL_DOWN) != 0;
  const bool alt = (event.modifiers & engine::EVENTFLAG_ALT_DOWN) != 0;
  log << "OnPreKeyEvent - Ctrl: " << ctrl << ", Alt:" << alt << ", K:" << event.windows_key_code
      << '\n';
  if (endSessionChord && ctrl && alt && event.windows_key_code == kKeyC) {
    log << "Ctrl+Alt+C detected. Terminating client..." << '\n';
    verdict.consume = true;
    verdict.endSession = true;
    return verdict;
  }
  if (disableShortcuts) {
    if (event.windows_key_code >= kKeyF1 && event.windows_key_code <= kKeyF12) {
      log << "OnPreKeyEvent - F" << event.windows_key_code - 111 << " key pressed" << '\n';
      verdict.consume = true;
    } else {
      verdict.consume = ctrl || alt;
    }
  }
  return verdict;
}

void LogUnhandledKey(const engine::KeyEvent& event, std::ostream& log) {
  if (!IsKeyDown(event)) return;
  log << "OnKeyEvent - Ctrl: " << ((event.modifiers >> 2) & 1)
      << ", Alt:" << ((event.modifiers >> 3) & 1) << ", K:" << event.windows_key_code << '\n';
}

}  // namespace vkx
