#include "app/kiosk.h"

#include "log/log.h"

#include <glib-unix.h>
#include <signal.h>

#include "config/config.h"
#include "cookies/cookies.h"

namespace {

vkx::HostWindowOptions WindowOptions(const Config& config) {
  vkx::HostWindowOptions options;
  options.width = config.GetWidth();
  options.height = config.GetHeight();
  options.iconName = config.GetIconName();
  options.toolbar = config.GetEnableToolbar();
  options.autoHide = config.GetEnableAutoHide();
  options.hideCursor = config.GetHideCursor();
  return options;
}

}  // namespace

Kiosk::Kiosk(vkx::HostWindow& host, const Config& config)
    : host_(host),
      config_(config),
      exit_([this] { CloseBrowser(); },
            [this] { return manager_.BrowserCount() == 0 && !vkx::CookieSaveInProgress(); }),
      service_(vkx::ServiceNotifier::FromEnvironment(
          [this] { return !client_ || client_->RendererHealthy(); })),
      idle_({.timeoutSeconds = [] { return Config::Instance().GetIdleTimeout(); },
             .startUrl = [] { return Config::Instance().GetUrl(); },
             .currentUrl = [this] {
               auto browser = LiveBrowser();
               return browser ? browser->GetMainFrameURL() : std::string();
             },
             .load = [this](const std::string& url) {
               auto browser = LiveBrowser();
               if (!browser) return;
               host_.ShowKeyboard(false);
               if (Config::Instance().GetClearSessionOnIdle()) {
                 browser->ResetSessionAndLoad(url);
               } else {
                 browser->LoadURL(url);
               }
             }}) {
  host_.Create(WindowOptions(config));
  CreateBrowser(config);
  // Started with the kiosk, so that the first field shows it at once.
  host_.EnableKeyboard(config.GetOnScreenKeyboard());
}

Kiosk::~Kiosk() {
  if (delayed_setup_ != 0) g_source_remove(delayed_setup_);
  for (guint source : stop_signals_) {
    if (source != 0) g_source_remove(source);
  }
}

void Kiosk::CreateBrowser(const Config& config) {
  const Window area = host_.CreateBrowserArea();
  vkx::ClientHooks hooks;
  hooks.setTitle = [this](const std::string& title) { host_.SetTitle(title); };
  hooks.setFullscreen = [this](bool fullscreen) { host_.RequestFullscreen(fullscreen); };
  hooks.endSession = [this] { host_.RequestClose(); };
  hooks.pageLoaded = [this](const std::string& url) {
    service_.PageLoaded(url);
    // The configuration is read again at every navigation.
    host_.SetCursorHidden(Config::Instance().GetHideCursor());
    host_.EnableKeyboard(Config::Instance().GetOnScreenKeyboard());
    idle_.OnPageLoaded(url);
  };
  hooks.userActivity = [this] { idle_.OnActivity(); };
  hooks.keyboardWanted = [this](bool shown) { host_.ShowKeyboard(shown); };
  hooks.pageFailed = [this](const std::string& url) { service_.PageFailed(url); };
  client_ = std::make_shared<vkx::Client>(manager_, std::move(hooks));
  engine::BrowserSettings settings;
  settings.windowless_frame_rate = 60;
  settings.javascript = engine::State::Enabled;
  browser_requested_ =
      engine::CreateBrowser(area, host_.BrowserRect(), client_, config.GetUrl(), settings);
  if (!browser_requested_) vkx::LogError("Browser creation failed: the kiosk cannot show a page");
}

void Kiosk::Start() {
  vkx::HostWindowEvents events;
  events.close = [this] { OnClose(); };
  events.resized = [this] { host_.ResizeBrowser(LiveBrowser()); };
  events.focused = [this] { FocusBrowser(); };
  host_.Watch(std::move(events));
  service_.Start();

  delayed_setup_ = g_timeout_add(1000, [](gpointer data) -> gboolean {
    auto* self = static_cast<Kiosk*>(data);
    self->delayed_setup_ = 0;
    self->RunDelayedSetup();
    return G_SOURCE_REMOVE;
  }, this);

  int index = 0;
  for (int signal_number : {SIGTERM, SIGINT}) {
    stop_signals_[index++] = g_unix_signal_add(signal_number, [](gpointer data) -> gboolean {
      static_cast<Kiosk*>(data)->host_.RequestClose();
      return G_SOURCE_CONTINUE;
    }, this);
  }
}

engine::BrowserPtr Kiosk::LiveBrowser() const {
  if (!client_ || !engine::IsRunning()) return nullptr;
  return client_->GetBrowser();
}

void Kiosk::RunDelayedSetup() {
  host_.ResizeBrowser(LiveBrowser());
  FocusBrowser();
  switch (config_.GetDisplayMode()) {
    case Config::Fullscreen:
      host_.SetFullscreen();
      break;
    case Config::Maximized:
      host_.SetMaximized();
      break;
    default:
      break;
  }
  host_.Flush();
}

void Kiosk::FocusBrowser() {
  if (engine::BrowserPtr browser = LiveBrowser()) browser->SetFocus(true);
}

void Kiosk::CloseBrowser() {
  if (engine::BrowserPtr browser = LiveBrowser()) browser->CloseBrowser(true);
}

void Kiosk::OnClose() {
  service_.Stopping();
  exit_.Begin(config_.GetCacheCookies() && engine::IsRunning());
}
