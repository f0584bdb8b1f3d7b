// Form controls whose default engine handler opens a top-level dialog of the
// toolkit: refused, so that the kiosk keeps its one window.
#pragma once

#include <webkit2/webkit2.h>

namespace engine::webkit {

void RefuseChooserDialogs(WebKitWebView* view);

}  // namespace engine::webkit
