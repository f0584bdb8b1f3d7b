// The browser's place in the host window: its X child window, creation,
// sizing, focus and the close at shutdown.
#pragma once

#include <X11/Xlib.h>

#include <memory>

#include "engine/types.h"

namespace vkx {
class Client;
}

extern Window browserWindow;
extern std::shared_ptr<vkx::Client> browserClient;
extern engine::BrowserSettings browserSettings;

void CreateBrowserWindow();
void ResizeBrowser();
void FocusBrowser();
// Safe without a browser and after the engine has shut down.
void CloseBrowserAndQuit();
