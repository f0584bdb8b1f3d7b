// The view's policy decisions: navigations go to the client's request
// handler, new windows become popup requests, and responses the engine
// cannot show (downloads) are refused.
#include <string>

#include "engine/webkit/glib_ptr.h"
#include "engine/webkit/webkit_browser.h"
#include "engine/webkit/webkit_cookies.h"
#include "log/log.h"

namespace engine::webkit {

namespace {

// How long a navigation waits at most for its cookies to be stored.
constexpr unsigned kCookieWaitMs = 1000;

std::string RequestUri(WebKitURIRequest* request) {
  const gchar* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  return uri != nullptr ? uri : "";
}

// A middle click, or a click with Ctrl or Shift held, asks for a new tab.
bool AsksForNewTab(WebKitNavigationAction* action) {
  const guint button = webkit_navigation_action_get_mouse_button(action);
  const guint modifiers = webkit_navigation_action_get_modifiers(action);
  return button == 2 || (modifiers & (GDK_CONTROL_MASK | GDK_SHIFT_MASK)) != 0;
}

gboolean Ignore(WebKitPolicyDecision* decision) {
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

}  // namespace

gboolean WebKitBrowser::DecidePolicy(WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
      return DecideNavigation(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
      return DecideNewWindow(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
      return DecideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
    default:
      return FALSE;
  }
}

gboolean WebKitBrowser::DecideNavigation(WebKitNavigationPolicyDecision* navigation) {
  auto* decision = WEBKIT_POLICY_DECISION(navigation);
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
  const std::string url = RequestUri(webkit_navigation_action_get_request(action));
  const bool user_gesture = webkit_navigation_action_is_user_gesture(action);
  navigation_url_ = url;

  auto handler = HandlerOf(&Client::GetRequestHandler);
  if (!handler) return FALSE;
  auto self = shared_from_this();
  if (AsksForNewTab(action) &&
      handler->OnOpenURLFromTab(self, url, WindowOpenDisposition::NewBackgroundTab, user_gesture)) {
    vkx::LogError("Open in new tab refused: " + url);
    return Ignore(decision);
  }
  if (handler->OnBeforeBrowse(self, url, user_gesture, webkit_navigation_action_is_redirect(action))) {
    return Ignore(decision);
  }
  // The cookies injected for this navigation must be in the store before
  // its first request leaves.
  WhenCookieWritesDone(
      [held = GRef<WebKitPolicyDecision>::Ref(decision)] { webkit_policy_decision_use(held.get()); },
      kCookieWaitMs);
  return TRUE;
}

// A target=_blank link: the popup decision is the client's, and no second
// window is ever made.
gboolean WebKitBrowser::DecideNewWindow(WebKitNavigationPolicyDecision* navigation) {
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
  Popup(RequestUri(webkit_navigation_action_get_request(action)),
        WindowOpenDisposition::NewForegroundTab, webkit_navigation_action_is_user_gesture(action));
  return Ignore(WEBKIT_POLICY_DECISION(navigation));
}

gboolean WebKitBrowser::DecideResponse(WebKitResponsePolicyDecision* response) {
  if (webkit_response_policy_decision_is_mime_type_supported(response)) return FALSE;
  vkx::LogError("Download refused: " + RequestUri(webkit_response_policy_decision_get_request(response)));
  return Ignore(WEBKIT_POLICY_DECISION(response));
}

}  // namespace engine::webkit
