#include "client/handlers.h"

#include "client/key_policy.h"
#include "client/login_script.h"
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

void DisplayHandler::OnEditableFocus(engine::BrowserPtr /*browser*/, bool editable) {
  if (hooks_.keyboardWanted) {
    hooks_.keyboardWanted(editable && Config::Instance().GetOnScreenKeyboard());
  }
}

void DisplayHandler::OnFullscreenModeChange(engine::BrowserPtr /*browser*/, bool fullscreen) {
  // A kiosk that already covers the screen neither enters nor leaves it for the page.
  if (Config::Instance().GetDisplayMode() == Config::Fullscreen) return;
  if (!PageMay(WindowRequest::Fullscreen)) return;
  if (hooks_.setFullscreen) hooks_.setFullscreen(fullscreen);
}

bool DisplayHandler::OnConsoleMessage(engine::BrowserPtr /*browser*/, engine::LogSeverity /*level*/,
                                      const std::string& message, const std::string& source,
                                      int line) {
  LogInfo(">> " + message + " (Source: " + source + ", Line: " + std::to_string(line) + ")");
  if (message == kSignInSubmittedLine && sign_in_submitted_) sign_in_submitted_(source);
  return false;
}

bool JsDialogHandler::OnJSDialog(engine::BrowserPtr /*browser*/, const std::string& origin_url,
                                 engine::JSDialogType /*type*/) {
  switch (guard_.Judge(clock_())) {
    case DialogGuard::Verdict::Show:
      return false;
    case DialogGuard::Verdict::AnswerFirst:
      LogError("Too many script dialogs, the page's further ones are answered without showing: " +
               origin_url);
      return true;
    case DialogGuard::Verdict::Answer:
      return true;
  }
  return true;
}

void JsDialogHandler::OnResetDialogState(engine::BrowserPtr /*browser*/) { guard_.NewPage(); }

void CtxMenuHandler::OnBeforeContextMenu(engine::BrowserPtr /*browser*/, engine::MenuModel& model) {
  model.Clear();
}

}  // namespace vkx
