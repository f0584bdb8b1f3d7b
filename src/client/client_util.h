// Relays between the client's engine callbacks and the rest of the kiosk.
#pragma once

#include "engine/engine.h"

namespace vkx {

void HandleAfterCreated(engine::BrowserPtr browser);
bool HandleDoClose(engine::BrowserPtr browser);
void HandleBeforeClose(engine::BrowserPtr browser);

}  // namespace vkx
