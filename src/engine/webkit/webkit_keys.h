// GDK key events in the port's terms.
#pragma once

#include <gdk/gdk.h>

#include "engine/types.h"

namespace engine::webkit {

// The Windows virtual-key code, which the key policy speaks, of a GDK key
// value; 0 for keys it has no code for.
int WindowsKeyCode(guint keyval);

// The port's key event for a GDK key press or release.
KeyEvent ToKeyEvent(const GdkEventKey* event);

}  // namespace engine::webkit
