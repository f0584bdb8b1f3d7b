#include "engine/webkit/webkit_browser.h"

#include "engine/webkit/glib_ptr.h"
#include "engine/webkit/messages.h"
#include "engine/webkit/webkit_keys.h"
#include "log/log.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <algorithm>

namespace engine::webkit {

namespace {

int next_browser_id = 1;

// How often the renderer is asked whether it still answers; a question
// still open at the next one makes the page unresponsive.
constexpr guint kPingIntervalMs = 5000;

using WeakBrowser = std::weak_ptr<WebKitBrowser>;

}  // namespace

WebKitBrowser::WebKitBrowser(WebKitWebContext* context, std::shared_ptr<Client> client,
                             const BrowserSettings& settings)
    : id_(next_browser_id++), client_(std::move(client)) {
  g_autoptr(WebKitSettings) web_settings = webkit_settings_new();
  webkit_settings_set_enable_javascript(web_settings, settings.javascript != State::Disabled);
  // Software rendering only: the kiosk runs on thin clients without a GPU.
  webkit_settings_set_hardware_acceleration_policy(web_settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  // No inspector, by shortcut or otherwise.
  webkit_settings_set_enable_developer_extras(web_settings, FALSE);
  webkit_settings_set_javascript_can_access_clipboard(web_settings, FALSE);
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings",
                                       web_settings, nullptr));

  window_.reset(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_window_set_decorated(GTK_WINDOW(window_.get()), FALSE);
  gtk_container_add(GTK_CONTAINER(window_.get()), GTK_WIDGET(view_));
  // Nothing dragged onto the kiosk is opened.
  gtk_drag_dest_unset(GTK_WIDGET(view_));
  ConnectSignals();
}

WebKitBrowser::~WebKitBrowser() { Discard(); }

bool WebKitBrowser::Popup(const std::string& url, WindowOpenDisposition disposition,
                          bool user_gesture) {
  auto handler = HandlerOf(&Client::GetLifeSpanHandler);
  if (handler) return handler->OnBeforePopup(shared_from_this(), url, disposition, user_gesture);
  return true;
}

gboolean WebKitBrowser::HandleKeyPress(GdkEventKey* event) {
  auto handler = HandlerOf(&Client::GetKeyboardHandler);
  if (!handler) return FALSE;
  const KeyEvent key = ToKeyEvent(event);
  const PassedKey press{event->time, event->hardware_keycode};
  auto passed = std::find(passed_keys_.begin(), passed_keys_.end(), press);
  if (passed != passed_keys_.end()) {
    // The page did not handle it and WebKit hands it back. Keys the page
    // handled never come back: those passed before this one are dropped.
    passed_keys_.erase(passed_keys_.begin(), passed + 1);
    return handler->OnKeyEvent(shared_from_this(), key) ? TRUE : FALSE;
  }
  if (handler->OnPreKeyEvent(shared_from_this(), key, nullptr)) return TRUE;
  ReadPinOnReturn(event);
  passed_keys_.push_back(press);
  if (passed_keys_.size() > kPassedKeysKept) passed_keys_.pop_front();
  return FALSE;
}

bool WebKitBrowser::Embed(unsigned long parent, const Rect& rect) {
  gtk_window_set_default_size(GTK_WINDOW(window_.get()), rect.width, rect.height);
  gtk_widget_realize(window_.get());
  GdkWindow* gdk_window = gtk_widget_get_window(window_.get());
  if (gdk_window == nullptr) return false;
  xid_ = gdk_x11_window_get_xid(gdk_window);
  // Reparent while still unmapped, so no window manager ever manages it.
  Display* display = gdk_x11_get_default_xdisplay();
  XReparentWindow(display, xid_, parent, rect.x, rect.y);
  XFlush(display);
  gtk_widget_show_all(window_.get());
  return true;
}

bool WebKitBrowser::IsSame(const std::shared_ptr<Browser>& other) const {
  return other != nullptr && other->GetIdentifier() == id_;
}

void WebKitBrowser::SetFocus(bool focus) {
  if (!window_ || !focus) return;
  GdkDisplay* gdk_display = gdk_display_get_default();
  gdk_x11_display_error_trap_push(gdk_display);
  XSetInputFocus(gdk_x11_display_get_xdisplay(gdk_display), xid_, RevertToParent, CurrentTime);
  gdk_x11_display_error_trap_pop_ignored(gdk_display);
  gtk_widget_grab_focus(GTK_WIDGET(view_));
}

void WebKitBrowser::WasResized() {
  if (!window_) return;
  GdkDisplay* gdk_display = gdk_display_get_default();
  Display* display = gdk_x11_display_get_xdisplay(gdk_display);
  Window root = 0;
  int x = 0, y = 0;
  unsigned int width = 0, height = 0, border = 0, depth = 0;
  gdk_x11_display_error_trap_push(gdk_display);
  const Status ok = XGetGeometry(display, xid_, &root, &x, &y, &width, &height, &border, &depth);
  gdk_x11_display_error_trap_pop_ignored(gdk_display);
  if (ok == 0 || width == 0 || height == 0) return;
  // GTK lays the page out again at the size the window now has.
  gtk_window_resize(GTK_WINDOW(window_.get()), static_cast<int>(width), static_cast<int>(height));
}

void WebKitBrowser::CloseBrowser(bool force) {
  if (!window_ || closing_) return;
  if (force) {
    // Like any close, it completes from the loop: DoClose and OnBeforeClose
    // run on a later iteration, never inside the caller.
    auto self = shared_from_this();
    PostToUiThread([self] { self->FinishClose(); });
  } else {
    // The page's before-unload handler may keep it open; "close" follows otherwise.
    close_requested_ = true;
    webkit_web_view_try_close(view_);
  }
}

void WebKitBrowser::FinishClose() {
  if (!window_ || closing_) return;
  closing_ = true;
  auto self = shared_from_this();
  auto life_span = HandlerOf(&Client::GetLifeSpanHandler);
  if (life_span) life_span->DoClose(self);
  // Just before the view goes: the page's session (and its cookies) still exists.
  if (life_span) life_span->OnBeforeClose(self);
  Discard();
}

void WebKitBrowser::Discard() {
  ping_timer_.reset();
  // The pointer is cleared before the window goes, so that nothing its
  // destruction sets off finds the browser open.
  view_ = nullptr;
  window_.reset();
}

void WebKitBrowser::Reload() {
  status_.requested = false;
  if (view_ != nullptr) webkit_web_view_reload(view_);
}

void WebKitBrowser::ShowStatusPage(const std::string& html, const std::string& for_url) {
  if (view_ == nullptr) return;
  pin_entered_ = nullptr;
  // Nothing of the last page keeps the focus (the on-screen keyboard goes).
  if (auto handler = HandlerOf(&Client::GetDisplayHandler)) {
    handler->OnEditableFocus(shared_from_this(), false);
  }
  status_.requested = true;
  status_.url = for_url;
  status_.ends_failed_load = false;
  // Shown in place of for_url, it asks for no navigation decision: neither
  // the allow-list nor the configuration's reload stand in its way.
  webkit_web_view_load_alternate_html(view_, html.c_str(), for_url.c_str(), nullptr);
}

void WebKitBrowser::SetZoomLevel(double level) {
  if (view_ != nullptr && webkit_web_view_get_zoom_level(view_) != level) {
    webkit_web_view_set_zoom_level(view_, level);
  }
}

namespace {

constexpr char kBlankCursorKey[] = "vkx-blank-cursor";

// The page sets its cursor on the view's window as the pointer moves; a
// window that holds a blank cursor puts it back at once.
void KeepCursorBlank(GdkWindow* window, GParamSpec*, gpointer) {
  auto* blank = static_cast<GdkCursor*>(g_object_get_data(G_OBJECT(window), kBlankCursorKey));
  if (blank != nullptr && gdk_window_get_cursor(window) != blank) {
    gdk_window_set_cursor(window, blank);
  }
}

}  // namespace

void WebKitBrowser::SetCursorHidden(bool hidden) {
  GdkWindow* window = view_ != nullptr ? gtk_widget_get_window(GTK_WIDGET(view_)) : nullptr;
  if (window == nullptr) return;
  const bool blank_now = g_object_get_data(G_OBJECT(window), kBlankCursorKey) != nullptr;
  if (hidden == blank_now) return;
  if (!hidden) {
    g_object_set_data(G_OBJECT(window), kBlankCursorKey, nullptr);
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(KeepCursorBlank),
                                         nullptr);
    // The page sets its own cursor again at the next pointer move.
    gdk_window_set_cursor(window, nullptr);
    return;
  }
  // The window keeps the cursor; the last reference goes with the window.
  g_object_set_data_full(G_OBJECT(window), kBlankCursorKey,
                         gdk_cursor_new_for_display(gdk_window_get_display(window),
                                                    GDK_BLANK_CURSOR),
                         g_object_unref);
  g_signal_connect(window, "notify::cursor", G_CALLBACK(KeepCursorBlank), nullptr);
  KeepCursorBlank(window, nullptr, nullptr);
}

void WebKitBrowser::TerminateRenderProcess() {
  if (view_ != nullptr) webkit_web_view_terminate_web_process(view_);
}

void WebKitBrowser::StartResponsivenessChecks() {
  ping_timer_ = SourceId(g_timeout_add_full(
      G_PRIORITY_LOW, kPingIntervalMs,
      [](gpointer data) -> gboolean {
        auto self = CallbackData<WeakBrowser>::From(data).lock();
        if (!self || self->view_ == nullptr) return G_SOURCE_REMOVE;
        self->Ping();
        return G_SOURCE_CONTINUE;
      },
      CallbackData<WeakBrowser>::New(weak_from_this()), CallbackData<WeakBrowser>::Free));
}

// A message to the web-process extension, answered on the renderer's main
// thread: no answer means that thread is stuck. (Cheaper than a script.)
void WebKitBrowser::Ping() {
  if (ping_pending_ && ScriptDialogShown()) return;
  if (ping_pending_) {
    // Unanswered for a whole interval.
    if (!unresponsive_) {
      unresponsive_ = true;
      if (auto handler = HandlerOf(&Client::GetRequestHandler)) {
        handler->OnRenderProcessUnresponsive(shared_from_this());
      }
    }
    return;
  }
  ping_pending_ = true;
  webkit_web_view_send_message_to_page(
      view_, webkit_user_message_new(messages::kPing, nullptr), nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const auto weak = CallbackData<WeakBrowser>::Take(data);
        // An error (no extension, a page going away) is an answer too.
        g_autoptr(WebKitUserMessage) reply =
            webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
        if (auto self = weak->lock()) self->OnPingAnswered();
      },
      CallbackData<WeakBrowser>::New(weak_from_this()));
}

bool WebKitBrowser::ScriptDialogShown() const {
  if (view_ == nullptr) return false;
  // The engine shows script dialogs as a child widget of the view.
  bool shown = false;
  gtk_container_forall(
      GTK_CONTAINER(view_),
      [](GtkWidget* child, gpointer data) {
        if (g_strcmp0(G_OBJECT_TYPE_NAME(child), "WebKitScriptDialogImpl") == 0) {
          *static_cast<bool*>(data) = true;
        }
      },
      &shown);
  return shown;
}

void WebKitBrowser::OnPingAnswered() {
  ping_pending_ = false;
  // The status page's renderer answering says nothing of the page's.
  if (!unresponsive_ || status_.shown) return;
  unresponsive_ = false;
  if (auto handler = HandlerOf(&Client::GetRequestHandler)) {
    handler->OnRenderProcessResponsive(shared_from_this());
  }
}

void WebKitBrowser::LoadURL(const std::string& url) {
  status_.requested = false;
  if (view_ != nullptr) webkit_web_view_load_uri(view_, url.c_str());
}

void WebKitBrowser::ResetSessionAndLoad(const std::string& url) {
  if (view_ == nullptr) return;
  status_.requested = false;
  // A page's before-unload handler or open dialog ends with its renderer.
  reset_ending_renderer_ = true;
  webkit_web_view_terminate_web_process(view_);
  webkit_website_data_manager_clear(
      webkit_web_view_get_website_data_manager(view_), WEBKIT_WEBSITE_DATA_ALL, 0, nullptr,
      [](GObject* manager, GAsyncResult* result, gpointer data) {
        auto job = CallbackData<std::pair<std::weak_ptr<WebKitBrowser>, std::string>>::Take(data);
        g_autoptr(GError) error = nullptr;
        if (!webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(manager), result,
                                                      &error)) {
          vkx::LogError(std::string("Session data not cleared: ") + error->message);
        }
        auto self = job->first.lock();
        if (!self || self->IsClosed() || self->view_ == nullptr) return;
        // Back to the history of the first page alone, then to that page,
        // or to `url` in its place.
        if (self->first_session_) {
          webkit_web_view_restore_session_state(self->view_, self->first_session_.get());
          WebKitBackForwardListItem* first = webkit_back_forward_list_get_current_item(
              webkit_web_view_get_back_forward_list(self->view_));
          if (first != nullptr && job->second == webkit_back_forward_list_item_get_uri(first)) {
            webkit_web_view_go_to_back_forward_list_item(self->view_, first);
            return;
          }
        }
        webkit_web_view_load_uri(self->view_, job->second.c_str());
      },
      CallbackData<std::pair<std::weak_ptr<WebKitBrowser>, std::string>>::New(
          {weak_from_this(), url}));
}

void WebKitBrowser::ExecuteJavaScript(const std::string& code, const std::string& script_url,
                                      int /*start_line*/) {
  if (view_ == nullptr) return;
  webkit_web_view_evaluate_javascript(view_, code.data(), static_cast<gssize>(code.size()),
                                      nullptr, script_url.empty() ? nullptr : script_url.c_str(),
                                      nullptr, nullptr, nullptr);
}

std::string WebKitBrowser::GetMainFrameURL() const {
  if (view_ == nullptr) return {};
  const gchar* uri = webkit_web_view_get_uri(view_);
  return uri != nullptr ? uri : "";
}

bool WebKitBrowser::SetPreference(const std::string& name, int value, std::string& error) {
  if (view_ == nullptr) {
    error = "the browser is closed";
    return false;
  }
  if (name == "credentials_enable_service") {
    // This engine has no credential store: nothing is ever saved, so "off" holds.
    if (value == 0) return true;
    error = "this engine has no credential service to turn on";
    return false;
  }
  const bool allow = value == 1;
  if (value != 1 && value != 2) {
    error = "unsupported value " + std::to_string(value);
    return false;
  }
  if (name == "profile.default_content_setting_values.notifications") {
    notifications_blocked_ = !allow;
    return true;
  }
  if (name == "profile.default_content_setting_values.clipboard") {
    // The web-process extension refuses every write of a page's script.
    if (allow) {
      error = "page scripts never write the clipboard in this kiosk";
      return false;
    }
    webkit_settings_set_javascript_can_access_clipboard(webkit_web_view_get_settings(view_), FALSE);
    return true;
  }
  error = "unknown preference";
  return false;
}

}  // namespace engine::webkit
