// The engine's cookie store on WebKit's cookie manager.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>

namespace engine::webkit {

// The data manager whose cookies the store serves; set at initialisation.
void SetCookieDataManager(WebKitWebsiteDataManager* manager);

// Runs `task` once every cookie write started so far has completed, or
// after `timeout_ms` at the latest; at once when none is pending.
void WhenCookieWritesDone(std::function<void()> task, unsigned timeout_ms);

}  // namespace engine::webkit
