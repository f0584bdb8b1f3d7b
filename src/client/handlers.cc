#include "client/handlers.h"

#include "client/key_policy.h"
#include "config/config.h"
#include "log/log.h"

namespace vkx {

bool KbdHandler::OnPreKeyEvent(engine::BrowserPtr /*browser*/, const engine::KeyEvent& event,
                               bool* /*is_keyboard_shortcut*/) {
  const Config& config = Config::Instance();
  const KeyVerdict verdict = DecidePreKey(event, config.GetEndSessionKey() == Config::CtrlAltC,
                                          config.GetDisableKbdShortcuts());
  if (verdict.endSession && end_session_) end_session_();
  return verdict.consume;
}

bool KbdHandler::OnKeyEvent(engine::BrowserPtr /*browser*/, const engine::KeyEvent& event) {
  LogUnhandledKey(event);
  return false;
}

void DisplayHandler::OnTitleChange(engine::BrowserPtr /*browser*/, const std::string& title) {
  if (hooks_.setTitle) hooks_.setTitle(title);
}

void DisplayHandler::OnUserActivity(engine::BrowserPtr /*browser*/) {
  if (hooks_.userActivity) hooks_.userActivity();
}

void DisplayHandler::OnFullscreenModeChange(engine::BrowserPtr /*browser*/, bool fullscreen) {
  // A kiosk that already covers the screen neither enters nor leaves it for the page.
  if (Config::Instance().GetDisplayMode() == Config::Fullscreen) return;
  if (hooks_.setFullscreen) hooks_.setFullscreen(fullscreen);
}

bool DisplayHandler::OnConsoleMessage(engine::BrowserPtr /*browser*/, engine::LogSeverity /*level*/,
                                      const std::string& message, const std::string& source,
                                      int line) {
  LogInfo(">> " + message + " (Source: " + source + ", Line: " + std::to_string(line) + ")");
  return false;
}

void CtxMenuHandler::OnBeforeContextMenu(engine::BrowserPtr /*browser*/, engine::MenuModel& model) {
  model.Clear();
}

}  // namespace vkx
