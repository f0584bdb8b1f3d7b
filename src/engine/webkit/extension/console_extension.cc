// Web-process extension: forwards the page's console output to the UI
// process, which has no console signal of its own, answers its pings,
// keeps the page's scripts away from the clipboard and cancels redirects
// that leave the web, and tells it when an editable element has the focus
// (for the on-screen keyboard).
//
// console.log and its siblings are wrapped in every frame as its window
// object is made, so that each call is reported with the calling script's
// URL and line, in every kind of session (the engine's own console report
// stays silent in sessions that keep nothing on disk). Messages that the
// engine itself logs (script errors, failed loads) come through its own
// report where it gives one.
#include <webkit2/webkit-web-extension.h>

#include "engine/webkit/messages.h"

namespace {

namespace messages = engine::webkit::messages;

constexpr const char* kInstaller = R"JS((function(send) {
  ['log', 'info', 'warn', 'error', 'debug'].forEach(function(name) {
    var original = console[name];
    if (typeof original !== 'function') return;
    console[name] = function() {
      var source = '';
      var line = 0;
      try {
        var caller = (new Error()).stack.split('\n')[1] || '';
        var at = caller.indexOf('@');
        var match = /^(.*):(\d+):(\d+)$/.exec(at >= 0 ? caller.slice(at + 1) : caller);
        if (match) {
          source = match[1];
          line = parseInt(match[2], 10);
        } else if (document.currentScript) {
          // The engine keeps no frame for some one-statement scripts.
          source = document.currentScript.src || location.href;
        }
      } catch (e) {}
      try { send(arguments.length ? String(arguments[0]) : '', source, line); } catch (e) {}
      return original.apply(console, arguments);
    };
  });
}))JS";

// Pages never write the clipboard: the clipboard API's writes are refused,
// execCommand copies and cuts nothing, and no page handler sees a copy or
// cut event (so none can replace what a person copies). A person's own
// selection and copy work as ever. Installed in every frame before any of
// the page's scripts, and fixed in place.
constexpr const char* kClipboardLock = R"JS((function() {
  var fix = function(target, name, value) {
    Object.defineProperty(target, name, {value: value, writable: false, configurable: false});
  };
  if (typeof Clipboard !== 'undefined') {
    var refuse = function() {
      return Promise.reject(new DOMException('Clipboard writes are blocked', 'NotAllowedError'));
    };
    fix(Clipboard.prototype, 'write', refuse);
    fix(Clipboard.prototype, 'writeText', refuse);
  }
  var exec = Document.prototype.execCommand;
  fix(Document.prototype, 'execCommand', function(command) {
    var name = String(command).toLowerCase();
    if (name === 'copy' || name === 'cut') return false;
    return exec.apply(this, arguments);
  });
  ['copy', 'cut'].forEach(function(type) {
    window.addEventListener(type, function(event) { event.stopImmediatePropagation(); }, true);
  });
}))JS";

// Reports focus on editable elements. It runs in a script world of its own,
// so the page's scripts can neither call the report nor replace the
// listeners, which are the first on the window and see every focus
// change. When the page's area shrinks for the keyboard, the focused
// element is scrolled back into view.
constexpr const char* kFocusReporter = R"JS((function(report) {
  var textTypes = ['text', 'password', 'search', 'email', 'url', 'tel', 'number'];
  var editable = function(element) {
    if (!element || element.disabled || element.readOnly) return false;
    if (element.isContentEditable) return true;
    if (element.localName === 'textarea') return true;
    if (element.localName !== 'input') return false;
    return textTypes.indexOf(element.type) >= 0;
  };
  // Only the engine's own focus changes count, never events a page made up.
  window.addEventListener('focusin', function(event) {
    if (event.isTrusted) report(editable(event.target));
  }, true);
  window.addEventListener('focusout', function(event) {
    if (event.isTrusted && !editable(event.relatedTarget)) report(false);
  }, true);
  window.addEventListener('resize', function() {
    var element = document.activeElement;
    if (editable(element)) element.scrollIntoView({block: 'nearest'});
  }, true);
}))JS";

WebKitScriptWorld* FocusWorld() {
  static WebKitScriptWorld* world = webkit_script_world_new_with_name("vkx-focus");
  return world;
}

void Send(WebKitWebPage* page, const char* text, const char* source, guint line) {
  GVariant* parameters =
      g_variant_new(messages::kConsoleType, text ? text : "", source ? source : "", line);
  webkit_web_page_send_message_to_view(page, webkit_user_message_new(messages::kConsole, parameters),
                                       nullptr, nullptr, nullptr);
}

void OnConsoleCall(const char* text, const char* source, int line, gpointer page) {
  Send(static_cast<WebKitWebPage*>(page), text, source, line > 0 ? static_cast<guint>(line) : 0);
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
  g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
  g_autoptr(JSCValue) send = jsc_value_new_function(context, nullptr, G_CALLBACK(OnConsoleCall),
                                                    page, nullptr, G_TYPE_NONE, 3, G_TYPE_STRING,
                                                    G_TYPE_STRING, G_TYPE_INT);
  g_autoptr(JSCValue) installer = jsc_context_evaluate(context, kInstaller, -1);
  g_autoptr(JSCValue) result =
      jsc_value_function_call(installer, JSC_TYPE_VALUE, send, G_TYPE_NONE);
  g_autoptr(JSCValue) lock = jsc_context_evaluate(context, kClipboardLock, -1);
  g_autoptr(JSCValue) locked = jsc_value_function_call(lock, G_TYPE_NONE);
}

void OnEditableFocus(gboolean editable, gpointer page) {
  webkit_web_page_send_message_to_view(
      static_cast<WebKitWebPage*>(page),
      webkit_user_message_new(messages::kEditableFocus,
                              g_variant_new(messages::kEditableFocusType, editable)),
      nullptr, nullptr, nullptr);
}

void OnFocusWorldCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                         gpointer) {
  g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
  g_autoptr(JSCValue) report = jsc_value_new_function(
      context, nullptr, G_CALLBACK(OnEditableFocus), page, nullptr, G_TYPE_NONE, 1, G_TYPE_BOOLEAN);
  g_autoptr(JSCValue) installer = jsc_context_evaluate(context, kFocusReporter, -1);
  g_autoptr(JSCValue) result =
      jsc_value_function_call(installer, JSC_TYPE_VALUE, report, G_TYPE_NONE);
}

void OnConsoleMessageSent(WebKitWebPage* page, WebKitConsoleMessage* message, gpointer) {
  // console.* calls are reported by the wrappers above.
  if (webkit_console_message_get_source(message) == WEBKIT_CONSOLE_MESSAGE_SOURCE_CONSOLE_API) {
    return;
  }
  Send(page, webkit_console_message_get_text(message),
       webkit_console_message_get_source_id(message), webkit_console_message_get_line(message));
}

// A redirect may lead only to http(s): the engine would follow one to a
// local file into a renderer crash, and no other scheme is a page. The
// UI process hears of each one cancelled and decides what the redirect
// asked for (an external handler, or a refusal) as for any navigation.
gboolean OnSendRequest(WebKitWebPage* page, WebKitURIRequest* request,
                       WebKitURIResponse* redirected_response, gpointer) {
  if (redirected_response == nullptr) return FALSE;
  const char* target = webkit_uri_request_get_uri(request);
  g_autofree char* scheme = target != nullptr ? g_uri_parse_scheme(target) : nullptr;
  if (scheme != nullptr &&
      (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0)) {
    return FALSE;
  }
  const char* from = webkit_uri_response_get_uri(redirected_response);
  webkit_web_page_send_message_to_view(
      page,
      webkit_user_message_new(messages::kRedirectCancelled,
                              g_variant_new(messages::kRedirectType, from ? from : "",
                                            target ? target : "")),
      nullptr, nullptr, nullptr);
  return TRUE;
}

// The UI process asks now and then whether this page still answers.
gboolean OnUserMessage(WebKitWebPage*, WebKitUserMessage* message, gpointer) {
  if (g_strcmp0(webkit_user_message_get_name(message), messages::kPing) != 0) return FALSE;
  webkit_user_message_send_reply(message, webkit_user_message_new(messages::kPong, nullptr));
  return TRUE;
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_signal_connect(page, "user-message-received", G_CALLBACK(OnUserMessage), nullptr);
  g_signal_connect(page, "send-request", G_CALLBACK(OnSendRequest), nullptr);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  g_signal_connect(page, "console-message-sent", G_CALLBACK(OnConsoleMessageSent), nullptr);
  G_GNUC_END_IGNORE_DEPRECATIONS
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
  g_signal_connect(extension, "page-created", G_CALLBACK(OnPageCreated), nullptr);
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), nullptr);
  g_signal_connect(FocusWorld(), "window-object-cleared", G_CALLBACK(OnFocusWorldCleared),
                   nullptr);
}
