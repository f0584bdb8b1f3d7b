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

}  // namespace engine::webkit::messages
