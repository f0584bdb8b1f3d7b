#include "engine/webkit/webkit_browser.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <iostream>

namespace engine::webkit {

namespace {
int next_browser_id = 1;
}

WebKitBrowser::WebKitBrowser(WebKitWebContext* context, std::shared_ptr<Client> client,
                             const BrowserSettings& settings)
    : id_(next_browser_id++), client_(std::move(client)) {
  WebKitSettings* web_settings = webkit_settings_new();
  webkit_settings_set_enable_javascript(web_settings, settings.javascript != State::Disabled);
  // Software rendering only: the kiosk runs on thin clients without a GPU.
  webkit_settings_set_hardware_acceleration_policy(web_settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_enable_developer_extras(web_settings, FALSE);
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings",
                                       web_settings, nullptr));
  g_object_unref(web_settings);

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));

  g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view_, "close", G_CALLBACK(OnClose), this);
}

WebKitBrowser::~WebKitBrowser() { Discard(); }

bool WebKitBrowser::Embed(unsigned long parent, const Rect& rect) {
  gtk_window_set_default_size(GTK_WINDOW(window_), rect.width, rect.height);
  gtk_widget_realize(window_);
  GdkWindow* gdk_window = gtk_widget_get_window(window_);
  if (gdk_window == nullptr) return false;
  xid_ = gdk_x11_window_get_xid(gdk_window);
  // Reparent while still unmapped, so no window manager ever manages it.
  Display* display = gdk_x11_get_default_xdisplay();
  XReparentWindow(display, xid_, parent, rect.x, rect.y);
  XFlush(display);
  gtk_widget_show_all(window_);
  return true;
}

bool WebKitBrowser::IsSame(const std::shared_ptr<Browser>& other) const {
  return other != nullptr && other->GetIdentifier() == id_;
}

void WebKitBrowser::SetFocus(bool focus) {
  if (window_ == nullptr || !focus) return;
  GdkDisplay* gdk_display = gdk_display_get_default();
  gdk_x11_display_error_trap_push(gdk_display);
  XSetInputFocus(gdk_x11_display_get_xdisplay(gdk_display), xid_, RevertToParent, CurrentTime);
  gdk_x11_display_error_trap_pop_ignored(gdk_display);
  gtk_widget_grab_focus(GTK_WIDGET(view_));
}

void WebKitBrowser::WasResized() {
  if (window_ == nullptr) return;
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
  gtk_window_resize(GTK_WINDOW(window_), static_cast<int>(width), static_cast<int>(height));
}

void WebKitBrowser::CloseBrowser(bool force) {
  if (window_ == nullptr || closing_) return;
  if (force) {
    // Like any close, it completes from the loop: DoClose and OnBeforeClose
    // run on a later iteration, never inside the caller.
    auto self = shared_from_this();
    PostToUiThread([self] { self->FinishClose(); });
  } else {
    // The page's before-unload handler may keep it open; "close" follows otherwise.
    webkit_web_view_try_close(view_);
  }
}

void WebKitBrowser::FinishClose() {
  if (window_ == nullptr || closing_) return;
  closing_ = true;
  auto self = shared_from_this();
  auto life_span = client_ ? client_->GetLifeSpanHandler() : nullptr;
  if (life_span) life_span->DoClose(self);
  GtkWidget* window = window_;
  window_ = nullptr;
  view_ = nullptr;
  gtk_widget_destroy(window);
  if (life_span) life_span->OnBeforeClose(self);
}

void WebKitBrowser::Discard() {
  if (window_ == nullptr) return;
  GtkWidget* window = window_;
  window_ = nullptr;
  view_ = nullptr;
  gtk_widget_destroy(window);
}

void WebKitBrowser::LoadURL(const std::string& url) {
  if (view_ != nullptr) webkit_web_view_load_uri(view_, url.c_str());
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

bool WebKitBrowser::SetPreference(const std::string& name, int /*value*/, std::string& error) {
  error = "Unknown preference: " + name;
  return false;
}

void WebKitBrowser::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  auto* self = static_cast<WebKitBrowser*>(data);
  auto handler = self->client_ ? self->client_->GetLoadHandler() : nullptr;
  if (!handler) return;
  int status = 0;
  if (WebKitWebResource* resource = webkit_web_view_get_main_resource(view)) {
    if (WebKitURIResponse* response = webkit_web_resource_get_response(resource)) {
      status = static_cast<int>(webkit_uri_response_get_status_code(response));
    }
  }
  const gchar* uri = webkit_web_view_get_uri(view);
  handler->OnLoadEnd(self->shared_from_this(), Frame{uri != nullptr ? uri : "", true}, status);
}

void WebKitBrowser::OnClose(WebKitWebView* /*view*/, gpointer data) {
  static_cast<WebKitBrowser*>(data)->FinishClose();
}

}  // namespace engine::webkit
