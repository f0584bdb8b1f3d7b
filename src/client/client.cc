#include "client/client.h"

#include <cstdlib>
#include <utility>

#include "client/client_util.h"
#include "client/launch_file.h"
#include "client/login_script.h"
#include "config/config.h"
#include "config/environment.h"
#include "log/check.h"
#include "log/log.h"
#include "request/allow_list.h"
#include "request/lockdown.h"
#include "request/request_handler.h"

namespace vkx {

namespace {

struct Preference {
  const char* name;
  int value;
  const char* success;
};

// Blocked (2) for notifications and the clipboard; the credential service off (0).
constexpr Preference kPreferences[] = {
    {"credentials_enable_service", 0, "'credentials_enable_service' set to false successfully."},
    {"profile.default_content_setting_values.notifications", 2,
     "Notifications are now blocked by default."},
    {"profile.default_content_setting_values.clipboard", 2,
     "Clipboard access is now blocked by default."},
};

}  // namespace

Client::Client(ClientManager& manager, ClientHooks hooks)
    : manager_(manager),
      hooks_(std::move(hooks)),
      ctx_menu_handler_(std::make_shared<CtxMenuHandler>()),
      kbd_handler_(std::make_shared<KbdHandler>(hooks_.endSession)),
      recovery_(std::make_shared<Recovery>(
          Recovery::Clock::now, [] { return Config::Instance().GetAcceptLanguageList(); })) {
  request_handler_ = std::make_shared<::RequestHandler>();
  request_handler_->SetRecovery(recovery_);
}

std::shared_ptr<engine::ContextMenuHandler> Client::GetContextMenuHandler() {
  return ctx_menu_handler_;
}

std::shared_ptr<engine::DisplayHandler> Client::GetDisplayHandler() {
  return std::make_shared<DisplayHandler>(hooks_, [client = weak_from_this()](const std::string& page) {
    if (auto self = client.lock()) self->sign_in_guard_.Submitted(page, SignInGuard::Clock::now());
  });
}

std::shared_ptr<engine::KeyboardHandler> Client::GetKeyboardHandler() { return kbd_handler_; }

std::shared_ptr<engine::LifeSpanHandler> Client::GetLifeSpanHandler() { return shared_from_this(); }

std::shared_ptr<engine::LoadHandler> Client::GetLoadHandler() { return shared_from_this(); }

std::shared_ptr<engine::RequestHandler> Client::GetRequestHandler() { return request_handler_; }

std::shared_ptr<engine::JSDialogHandler> Client::GetJSDialogHandler() { return dialog_handler_; }

void Client::OnAfterCreated(engine::BrowserPtr browser) {
  browser_ = browser;
  browser->SetFocus(true);
  HandleAfterCreated(manager_, browser);
  ApplyPreferences(browser);
}

bool Client::DoClose(engine::BrowserPtr browser) { return HandleDoClose(std::move(browser)); }

void Client::OnBeforeClose(engine::BrowserPtr browser) {
  HandleBeforeClose(manager_, std::move(browser));
}

void Client::OnLoadEnd(engine::BrowserPtr browser, const engine::Frame& frame,
                       int http_status_code) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  LogInfo("Page loaded, status code: " + std::to_string(http_status_code));
  LogInfo("URL: " + frame.url);
  if (http_status_code == 200) InjectLoginScript(browser);
  if (frame.is_main) recovery_->OnLoadEnd(browser, frame.url, http_status_code);
  if (frame.is_main && hooks_.pageLoaded) hooks_.pageLoaded(frame.url);
}

void Client::OnLoadStart(engine::BrowserPtr browser, const engine::Frame& frame) {
  if (!frame.is_main) return;
  recovery_->OnLoadStart(browser, frame.url);
  // The next page (or the kiosk's status page) starts without a focused field.
  if (hooks_.keyboardWanted) hooks_.keyboardWanted(false);
}

void Client::OnLoadError(engine::BrowserPtr browser, const engine::Frame& frame, int error_code,
                         const std::string& error_text, const std::string& failed_url) {
  if (frame.is_main) recovery_->OnLoadError(browser, failed_url, error_code, error_text);
  if (frame.is_main && hooks_.pageFailed) hooks_.pageFailed(failed_url);
}

bool Client::RendererHealthy() const { return recovery_->Healthy(); }

bool Client::OnBeforePopup(engine::BrowserPtr browser, const std::string& target_url,
                           engine::WindowOpenDisposition /*disposition*/, bool /*user_gesture*/) {
  LogInfo("Client new target: ");
  LogInfo(target_url);
  // What a page opens passes the rule of its own navigations; an empty
  // window would only blank the kiosk.
  if (JudgeUrl(target_url, Config::Instance()) == UrlVerdict::Refuse ||
      target_url.empty() || target_url == "about:blank") {
    LogError("URL not allowed: " + target_url);
    return true;
  }
  const int mode = Config::Instance().GetDisplayMode();
  if (mode == Config::Fullscreen) {
    browser->LoadURL(target_url);
  } else {
    LaunchTarget(target_url, mode == Config::Maximized);
  }
  return true;
}

bool Client::OnPageCloseRequest(engine::BrowserPtr /*browser*/) {
  if (PageMay(WindowRequest::Close)) return true;
  LogError("Page asked to close the window: ignored");
  return false;
}

void Client::ApplyPreferences(engine::BrowserPtr browser) {
  VKX_CHECK(engine::CurrentlyOnUiThread());
  for (const Preference& preference : kPreferences) {
    std::string error;
    if (browser->SetPreference(preference.name, preference.value, error)) {
      LogInfo(preference.success);
    } else {
      LogError(std::string("Failed to set '") + preference.name + "': " + error);
    }
  }
}

void Client::LaunchTarget(const std::string& url, bool maximized) {
  const std::string path = WriteLaunchFile("/tmp/brellik_ini_XXXXXX", url, maximized);
  if (path.empty()) return;
  // In the background, in the environment the kiosk was started with. The
  // launcher's own outcome is not ours to judge; a launcher that could not
  // start is.
  std::string error;
  if (!StartProgram({LauncherPath(), path}, error)) {
    LogError("Failed to start the launcher for: " + path + ": " + error);
  }
}

void Client::InjectLoginScript(engine::BrowserPtr browser) {
  const Config& config = Config::Instance();
  if (!browser || (config.GetUsername().empty() && config.GetPassword().empty())) return;
  const std::string url = browser->GetMainFrameURL();
  const std::string hosts = config.GetLoginHosts();
  if (!hosts.empty() && !UrlAllowed(url, ParseAllowList(hosts))) return;
  LoginForm form{config.GetLoginUserField(), config.GetLoginPasswordField(),
                 config.GetLoginSubmit()};
  // Changed sign-in settings may submit again.
  const std::string settings =
      form.user_field + '\n' + form.password_field + '\n' + form.submit + '\n' + hosts;
  if (settings != login_settings_) {
    login_settings_ = settings;
    sign_in_guard_.Reset();
    sign_in_stopped_ = false;
  }
  if (!form.submit.empty() && !sign_in_guard_.MaySubmit(url, SignInGuard::Clock::now())) {
    if (!std::exchange(sign_in_stopped_, true)) {
      LogError("Sign-in stopped: " + url.substr(0, url.find_first_of("?#")) +
               " came back after 3 submissions within five minutes; it is filled but not "
               "submitted until the configuration changes or the kiosk starts again");
    }
    form.submit.clear();
  }
  browser->ExecuteJavaScript(LoginScriptFor(config.GetUsername(), config.GetPassword(), form), url,
                             0);
}

}  // namespace vkx
