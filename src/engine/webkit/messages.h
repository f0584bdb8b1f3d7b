// The user messages between the UI process and the web-process extension
// (extension/console_extension.cc). Both sides include this header, so a
// name changed here changes on both.
#pragma once

namespace engine::webkit::messages {

// Extension to view: one console line, with the parameters of kConsoleType
// (text, source URL, line number).
inline constexpr char kConsole[] = "vkx-console";
inline constexpr char kConsoleType[] = "(ssu)";

// View to extension, every few seconds; the extension answers with kPong
// from the renderer's main thread.
inline constexpr char kPing[] = "vkx-ping";
inline constexpr char kPong[] = "vkx-pong";

// Extension to view: a redirect to a URL that is not http(s), cancelled
// before the engine follows it; parameters of kRedirectType (the URL that
// redirected, the redirect's target).
inline constexpr char kRedirectCancelled[] = "vkx-redirect-cancelled";
inline constexpr char kRedirectType[] = "(ss)";

// Extension to view: an editable element of the page (or of one of its
// frames) got (true) or lost (false) the focus; parameters of
// kEditableFocusType.
inline constexpr char kEditableFocus[] = "vkx-editable-focus";
inline constexpr char kEditableFocusType[] = "(b)";

}  // namespace engine::webkit::messages
