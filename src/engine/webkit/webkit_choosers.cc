#include "engine/webkit/webkit_choosers.h"

#include "log/log.h"

namespace engine::webkit {

void RefuseChooserDialogs(WebKitWebView* view) {
  // <input type=color>: the default is a "Select Color" dialog, a second
  // top-level window that also stores custom colours through GSettings.
  g_signal_connect(view, "run-color-chooser",
                   G_CALLBACK(+[](WebKitWebView*, WebKitColorChooserRequest* request,
                                  gpointer) -> gboolean {
                     webkit_color_chooser_request_cancel(request);
                     vkx::LogError("Color chooser refused");
                     return TRUE;
                   }),
                   nullptr);
}

}  // namespace engine::webkit
