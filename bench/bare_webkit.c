/* The baseline for the benchmarks: a bare WebKitGTK window with default
 * settings that loads URL. The window is the size of the kiosk's browser area
 * (1024x728 by default: a 1024x768 window less the 40-pixel toolbar); WIDTH
 * and HEIGHT override it. For a comparison with the engine configured as the
 * kiosk has it: --software turns hardware acceleration off, --ephemeral keeps
 * website data in memory only, --fullscreen asks the window manager for full
 * screen before the window is shown, --sandbox puts the web process in the
 * engine's bubblewrap sandbox. Closing the window or SIGTERM/SIGINT ends it.
 *
 *   bare_webkit [--software] [--ephemeral] [--fullscreen] [--sandbox] URL [WIDTH HEIGHT] */
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <webkit2/webkit2.h>

static gboolean on_stop_signal(gpointer data) {
  gtk_widget_destroy(GTK_WIDGET(data));
  return G_SOURCE_REMOVE;
}

int main(int argc, char* argv[]) {
  gtk_init(&argc, &argv);
  gboolean software = FALSE, ephemeral = FALSE, fullscreen = FALSE, sandbox = FALSE;
  for (; argc > 1 && strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
    if (strcmp(argv[1], "--software") == 0) {
      software = TRUE;
    } else if (strcmp(argv[1], "--ephemeral") == 0) {
      ephemeral = TRUE;
    } else if (strcmp(argv[1], "--fullscreen") == 0) {
      fullscreen = TRUE;
    } else if (strcmp(argv[1], "--sandbox") == 0) {
      sandbox = TRUE;
    } else {
      break;
    }
  }
  if (argc < 2 || strncmp(argv[1], "--", 2) == 0) {
    fprintf(stderr, "usage: bare_webkit [--software] [--ephemeral] [--fullscreen] [--sandbox] "
            "URL [WIDTH HEIGHT]\n");
    return 2;
  }
  const int width = argc > 3 ? atoi(argv[2]) : 1024;
  const int height = argc > 3 ? atoi(argv[3]) : 728;

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  WebKitWebContext* context = NULL;
  if (ephemeral) {
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new_ephemeral();
    context = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);
  } else {
    context = g_object_ref(webkit_web_context_get_default());
  }
  if (sandbox) webkit_web_context_set_sandbox_enabled(context, TRUE);
  GtkWidget* view = webkit_web_view_new_with_context(context);
  g_object_unref(context);
  if (software) {
    webkit_settings_set_hardware_acceleration_policy(
        webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
        WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  }
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  g_unix_signal_add(SIGTERM, on_stop_signal, window);
  g_unix_signal_add(SIGINT, on_stop_signal, window);

  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  if (fullscreen) gtk_window_fullscreen(GTK_WINDOW(window));
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
