#include "client/handlers.h"

#include <iostream>

#include "app/shutdown.h"
#include "client/client_util.h"
#include "client/key_policy.h"
#include "config/config.h"
#include "window/host_window.h"

namespace vkx {

bool KbdHandler::OnPreKeyEvent(engine::BrowserPtr /*browser*/, const engine::KeyEvent& event,
                               bool* /*is_keyboard_shortcut*/) {
  const Config& config = Config::Instance();
  const KeyVerdict verdict =
      DecidePreKey(event, config.GetEndSessionKey() == Config::CtrlAltC,
                   config.GetDisableKbdShortcuts(), std::cout);
  std::cout.flush();
  if (verdict.endSession) RequestClose();
  return verdict.consume;
}

bool KbdHandler::OnKeyEvent(engine::BrowserPtr /*browser*/, const engine::KeyEvent& event) {
  LogUnhandledKey(event, std::cout);
  std::cout.flush();
  return false;
}

void DisplayHandler::OnTitleChange(engine::BrowserPtr /*browser*/, const std::string& title) {
  SetWindowTitle(title);
}

void DisplayHandler::OnFullscreenModeChange(engine::BrowserPtr browser, bool fullscreen) {
  if (Config::Instance().GetDisplayMode() == Config::Fullscreen) return;
  if (fullscreen) {
    EnterFullscreen(browser);
  } else {
    ExitFullscreen(browser);
  }
}

bool DisplayHandler::OnConsoleMessage(engine::BrowserPtr /*browser*/, engine::LogSeverity /*level*/,
                                      const std::string& message, const std::string& source,
                                      int line) {
  std::cout << ">> " << message << " (Source: " << source << ", Line: " << line << ")"
            << std::endl;
  return false;
}

void CtxMenuHandler::OnBeforeContextMenu(engine::BrowserPtr /*browser*/, engine::MenuModel& model) {
  model.Clear();
}

}  // namespace vkx
