// Relays between the client's engine callbacks and the rest of the kiosk,
// and the host window's full-screen requests on behalf of the page.
#pragma once

#include "engine/engine.h"

namespace vkx {

void HandleAfterCreated(engine::BrowserPtr browser);
bool HandleDoClose(engine::BrowserPtr browser);
void HandleBeforeClose(engine::BrowserPtr browser);

// Ask the window manager, over a connection of their own, to add or remove
// the host window's full-screen state.
void EnterFullscreen(engine::BrowserPtr browser);
void ExitFullscreen(engine::BrowserPtr browser);

}  // namespace vkx
