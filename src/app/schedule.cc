#include "app/schedule.h"

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include "app/shutdown.h"
#include "window/browser_window.h"
#include "window/host_window.h"
#include "window/x11_state.h"
#include "window/x_events.h"

namespace {

// A GLib source on the X connection. Xlib may already hold events read
// during other requests, so the queue is checked as well as the socket.
struct XSource {
  GSource source;
  GPollFD poll;
};

gboolean XPrepare(GSource* /*source*/, gint* timeout) {
  *timeout = -1;
  return XEventsQueued(xDisplay, QueuedAlready) > 0 || closeRequested;
}

gboolean XCheck(GSource* source) {
  auto* x = reinterpret_cast<XSource*>(source);
  if (x->poll.revents & (G_IO_IN | G_IO_HUP | G_IO_ERR)) return TRUE;
  return XEventsQueued(xDisplay, QueuedAlready) > 0 || closeRequested;
}

gboolean XDispatch(GSource* /*source*/, GSourceFunc /*callback*/, gpointer /*data*/) {
  DrainXEvents();
  if (closeRequested) ForceShutdown();
  return G_SOURCE_CONTINUE;
}

GSourceFuncs xSourceFuncs = {XPrepare, XCheck, XDispatch, nullptr, nullptr, nullptr};

}  // namespace

void StartXEventSource() {
  GSource* source = g_source_new(&xSourceFuncs, sizeof(XSource));
  auto* x = reinterpret_cast<XSource*>(source);
  x->poll.fd = ConnectionNumber(xDisplay);
  x->poll.events = G_IO_IN | G_IO_HUP | G_IO_ERR;
  g_source_add_poll(source, &x->poll);
  // Ahead of the engine's own work, as a thread of its own would be.
  g_source_set_priority(source, G_PRIORITY_HIGH);
  g_source_attach(source, nullptr);
  g_source_unref(source);  // the main context keeps it
}

void RunDelayedSetup() {
  ResizeBrowser();
  FocusBrowser();
  ApplyDisplayMode();
  XFlush(xDisplay);
}

void StartDelayedSetup() {
  g_timeout_add(1000, [](gpointer) -> gboolean {
    RunDelayedSetup();
    return G_SOURCE_REMOVE;
  }, nullptr);
}

void WatchStopSignals() {
  for (int signal_number : {SIGTERM, SIGINT}) {
    g_unix_signal_add(signal_number, [](gpointer) -> gboolean {
      RequestClose();
      return G_SOURCE_CONTINUE;
    }, nullptr);
  }
}

void ServeUntilClosed() {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  for (;;) g_main_loop_run(loop);
}
