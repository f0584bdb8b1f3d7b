// Which keys reach the page: the kiosk's shortcut policy, free of any toolkit.
#pragma once

#include "engine/types.h"

namespace vkx {

struct KeyVerdict {
  bool consume = false;     // the page never sees the key
  bool endSession = false;  // the end-session chord was pressed
};

// Before the page: logs the key down (LogInfo) and decides. Key-up and
// character events always pass and are not logged.
KeyVerdict DecidePreKey(const engine::KeyEvent& event, bool endSessionChord,
                        bool disableShortcuts);

// After the page left the key unhandled: logs the key down.
void LogUnhandledKey(const engine::KeyEvent& event);

}  // namespace vkx
