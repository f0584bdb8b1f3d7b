// Relays between the client's life-span callbacks and the browser registry.
#pragma once

#include "client/client_manager.h"
#include "engine/engine.h"

namespace vkx {

void HandleAfterCreated(ClientManager& manager, engine::BrowserPtr browser);
bool HandleDoClose(engine::BrowserPtr browser);
// Starts the cookie save, then unregisters the browser.
void HandleBeforeClose(ClientManager& manager, engine::BrowserPtr browser);

}  // namespace vkx
