// The host window's X events, read by a main-loop source on the X
// connection: resizes, the window manager's close request, key presses
// that reach the host window, the pointer entering the toolbar strip and
// focus arriving at the host.
#include <X11/Xutil.h>

#include <string>

#include "log/log.h"
#include "window/host_window.h"
#include "window/on_screen_keyboard.h"
#include "window/toolbar.h"

namespace vkx {

// A GLib source on the X connection. Xlib may already hold events read
// during other requests, so the queue is checked as well as the socket.
struct HostWindow::EventSource {
  GSource source;
  GPollFD poll;
  HostWindow* window;
};

void HostWindow::Watch(HostWindowEvents events) {
  if (eventSource != nullptr) return;
  events_ = std::move(events);
  static GSourceFuncs funcs = {
      [](GSource* source, gint* timeout) -> gboolean {
        *timeout = -1;
        return reinterpret_cast<EventSource*>(source)->window->EventsWaiting();
      },
      [](GSource* source) -> gboolean {
        auto* x = reinterpret_cast<EventSource*>(source);
        if (x->poll.revents & (G_IO_IN | G_IO_HUP | G_IO_ERR)) return TRUE;
        return x->window->EventsWaiting();
      },
      [](GSource* source, GSourceFunc, gpointer) -> gboolean {
        reinterpret_cast<EventSource*>(source)->window->DispatchEvents();
        return G_SOURCE_CONTINUE;
      },
      nullptr, nullptr, nullptr};
  eventSource = g_source_new(&funcs, sizeof(EventSource));
  auto* x = reinterpret_cast<EventSource*>(eventSource);
  x->window = this;
  x->poll.fd = ConnectionNumber(xDisplay);
  x->poll.events = G_IO_IN | G_IO_HUP | G_IO_ERR;
  g_source_add_poll(eventSource, &x->poll);
  // Ahead of the engine's own work, as a thread of its own would be.
  g_source_set_priority(eventSource, G_PRIORITY_HIGH);
  g_source_attach(eventSource, nullptr);
}

void HostWindow::StopWatching() {
  if (eventSource != nullptr && !g_source_is_destroyed(eventSource)) g_source_destroy(eventSource);
}

void HostWindow::RequestClose() {
  closeRequested = true;
  g_main_context_wakeup(nullptr);
}

bool HostWindow::EventsWaiting() const {
  return XEventsQueued(xDisplay, QueuedAlready) > 0 || (closeRequested && !closeReported);
}

void HostWindow::DispatchEvents() {
  while (XPending(xDisplay) > 0) {
    XEvent event;
    XNextEvent(xDisplay, &event);
    HandleXEvent(event);
  }
  if (!closeRequested || closeReported) return;
  closeReported = true;
  // The kiosk is ending: later events (a second close) are left unread.
  StopWatching();
  if (events_.close) events_.close();
}

void HostWindow::HandleXEvent(XEvent& event) {
  switch (event.type) {
    case ConfigureNotify:
      if (event.xconfigure.window != hostWindow) break;
      windowWidth = event.xconfigure.width;
      windowHeight = event.xconfigure.height;
      if (toolbar_) toolbar_->Layout(windowWidth);
      if (keyboard_) keyboard_->Resize(windowWidth, windowHeight);
      if (events_.resized) events_.resized();
      break;
    case ClientMessage:
      if (static_cast<Atom>(event.xclient.data.l[0]) == wmDeleteWindow) {
        LogInfo("Close button pressed. Exiting...");
        closeRequested = true;
      }
      break;
    case KeyPress:
      LogInfo("KeyPress: " + std::to_string(static_cast<int>(XLookupKeysym(&event.xkey, 0))) +
              "/" + std::to_string(static_cast<int>(event.xkey.state)));
      break;
    case EnterNotify:
      if (toolbar_ && event.xcrossing.window == toolbar_->StripWindow()) toolbar_->OnStripEntered();
      break;
    case FocusIn:
      // A window manager focuses the top-level window; keys belong to the page.
      if (event.xfocus.window == hostWindow &&
          (event.xfocus.detail == NotifyAncestor || event.xfocus.detail == NotifyInferior ||
           event.xfocus.detail == NotifyNonlinear)) {
        if (events_.focused) events_.focused();
      }
      break;
    default:
      break;
  }
}

}  // namespace vkx
