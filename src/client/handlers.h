// The kiosk policy for keys, title, full screen, page console and context menus.
#pragma once

#include "engine/engine.h"

namespace vkx {

class KbdHandler : public engine::KeyboardHandler {
 public:
  bool OnPreKeyEvent(engine::BrowserPtr browser, const engine::KeyEvent& event,
                     bool* is_keyboard_shortcut) override;
  bool OnKeyEvent(engine::BrowserPtr browser, const engine::KeyEvent& event) override;
};

class DisplayHandler : public engine::DisplayHandler {
 public:
  void OnTitleChange(engine::BrowserPtr browser, const std::string& title) override;
  void OnFullscreenModeChange(engine::BrowserPtr browser, bool fullscreen) override;
  bool OnConsoleMessage(engine::BrowserPtr browser, engine::LogSeverity level,
                        const std::string& message, const std::string& source,
                        int line) override;
};

class CtxMenuHandler : public engine::ContextMenuHandler {
 public:
  void OnBeforeContextMenu(engine::BrowserPtr browser, engine::MenuModel& model) override;
};

}  // namespace vkx
