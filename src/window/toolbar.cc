#include "window/toolbar.h"

#include <gdk/gdkx.h>

#include <string>

#include "log/log.h"

namespace vkx {

Toolbar::Toolbar(const Place& place, bool autoHideOn, std::function<void()> quit,
                 std::function<void()> heightChanged)
    : xDisplay(place.display),
      hostWindow(place.host),
      screenNumber(place.screen),
      windowWidth(place.width),
      quit_(std::move(quit)),
      heightChanged_(std::move(heightChanged)) {
  Build();
  if (autoHideOn) {
    autoHideStarted = true;
    // The pointer entering the strip wakes the hidden toolbar's tick.
    XSelectInput(xDisplay, toolbarWindow, EnterWindowMask);
    StartTicking();
  }
}

Toolbar::~Toolbar() {
  if (tickTimer != 0) g_source_remove(tickTimer);
  // The toolkit's window first: it lives inside the strip.
  if (toolbarGtkWindow != nullptr) gtk_widget_destroy(toolbarGtkWindow);
  if (toolbarWindow != 0) XDestroyWindow(xDisplay, toolbarWindow);
}

unsigned Toolbar::StripWidth() const {
  return windowWidth > 0 ? static_cast<unsigned>(windowWidth) : 1;
}

void Toolbar::Build() {
  toolbarWindow = XCreateSimpleWindow(xDisplay, hostWindow, 0, 0, StripWidth(),
                                      static_cast<unsigned>(toolbarHeight), 1,
                                      BlackPixel(xDisplay, screenNumber),
                                      WhitePixel(xDisplay, screenNumber));
  XMapWindow(xDisplay, toolbarWindow);
  // The toolkit reparents into this window: it must exist on the server.
  XSync(xDisplay, False);

  toolbarGtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(toolbarGtkWindow), windowWidth, toolbarHeight);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(toolbarGtkWindow), box);
  toolbarWidget = gtk_toolbar_new();
  gtk_toolbar_set_style(GTK_TOOLBAR(toolbarWidget), GTK_TOOLBAR_ICONS);
  GtkToolItem* separator = gtk_separator_tool_item_new();
  gtk_separator_tool_item_set_draw(GTK_SEPARATOR_TOOL_ITEM(separator), FALSE);
  gtk_tool_item_set_expand(separator, TRUE);
  gtk_toolbar_insert(GTK_TOOLBAR(toolbarWidget), separator, -1);
  GtkToolItem* quit = gtk_tool_button_new(nullptr, "Quit");
  g_signal_connect_data(quit, "clicked", G_CALLBACK(OnQuitClicked), this, nullptr,
                        static_cast<GConnectFlags>(0));
  gtk_toolbar_insert(GTK_TOOLBAR(toolbarWidget), quit, -1);
  gtk_box_pack_start(GTK_BOX(box), toolbarWidget, FALSE, FALSE, 0);

  // Realised and reparented before it is shown, so a window manager never
  // takes it for a top-level window of its own.
  gtk_widget_realize(toolbarGtkWindow);
  const Window xid = gdk_x11_window_get_xid(gtk_widget_get_window(toolbarGtkWindow));
  // The toolkit created that window over its own connection.
  XSync(gdk_x11_display_get_xdisplay(gdk_display_get_default()), False);
  const int result = XReparentWindow(xDisplay, xid, toolbarWindow, 0, 0);
  XSync(xDisplay, False);
  if (result != 0) LogError("XReparentWindow error return: " + std::to_string(result));
  gtk_widget_show_all(toolbarGtkWindow);
}

void Toolbar::Layout(int width) {
  windowWidth = width;
  XMoveWindow(xDisplay, toolbarWindow, 0, 0);
  XResizeWindow(xDisplay, toolbarWindow, StripWidth(), static_cast<unsigned>(toolbarHeight));
  gtk_window_resize(GTK_WINDOW(toolbarGtkWindow), static_cast<int>(StripWidth()), toolbarHeight);
}

void Toolbar::SetHidden(bool hide) {
  if (hide) {
    gtk_widget_hide(toolbarWidget);
    toolbarHeight = kHiddenHeight;
  } else {
    gtk_widget_show(toolbarWidget);
    toolbarHeight = kShownHeight;
  }
  Layout(windowWidth);
  if (heightChanged_) heightChanged_();
}

// The 100 ms tick runs while the toolbar is shown and while the pointer is
// over the hidden strip. A hidden toolbar with the pointer elsewhere changes
// nothing at a tick, so the kiosk sleeps until the pointer enters the strip.
void Toolbar::StartTicking() {
  if (!autoHideStarted || tickTimer != 0) return;
  tickTimer = g_timeout_add(100, [](gpointer data) -> gboolean {
    auto* self = static_cast<Toolbar*>(data);
    if (self->AutoHideTick()) return G_SOURCE_CONTINUE;
    self->tickTimer = 0;
    return G_SOURCE_REMOVE;
  }, this);
}

bool Toolbar::AutoHideTick() {
  bool inStrip = false;
  if (autoHide.toolbarHidden) {
    GdkDisplay* display = gdk_display_get_default();
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
    GdkWindow* window = gtk_widget_get_window(toolbarGtkWindow);
    int x = 0, y = 0;
    gdk_window_get_device_position(window, pointer, &x, &y, nullptr);
    GtkAllocation allocation;
    gtk_widget_get_allocation(toolbarGtkWindow, &allocation);
    inStrip = InHotStrip(x, y, allocation.x, allocation.y, allocation.width);
  }
  switch (::AutoHideTick(autoHide, inStrip)) {
    case AutoHideAction::Hide:
      SetHidden(true);
      break;
    case AutoHideAction::Show:
      SetHidden(false);
      break;
    case AutoHideAction::Stay:
      break;
  }
  return !autoHide.toolbarHidden || inStrip;
}

void Toolbar::OnQuitClicked(GtkToolButton* /*button*/, gpointer self) {
  auto* toolbar = static_cast<Toolbar*>(self);
  if (toolbar->quit_) toolbar->quit_();
}

}  // namespace vkx
