// Form controls whose default engine handler opens a top-level dialog of the
// toolkit: refused, so that the kiosk keeps its one window.
#pragma once

#include <webkit2/webkit2.h>

#include "engine/engine.h"

namespace engine::webkit {

// The items of a WebKit context menu as the port's menu model.
class WebKitMenuModel : public MenuModel {
 public:
  explicit WebKitMenuModel(WebKitContextMenu* menu) : menu_(menu) {}
  bool Clear() override {
    webkit_context_menu_remove_all(menu_);
    return true;
  }
  size_t GetCount() const override { return webkit_context_menu_get_n_items(menu_); }

 private:
  WebKitContextMenu* menu_;
};

void RefuseChooserDialogs(WebKitWebView* view);

}  // namespace engine::webkit
