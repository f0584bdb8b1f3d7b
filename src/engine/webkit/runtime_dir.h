// The engine's runtime directory. WebKit puts its sandbox's files there
// (the D-Bus proxies' sockets, bubblewrap's info files), in the directory
// GLib names as the user's runtime directory, and leaves them behind when
// the kiosk is killed. A Unix socket path has room for 107 bytes only: in
// a deep $XDG_RUNTIME_DIR, or in ~/.cache of a deep home without one, the
// proxy cannot bind and the engine aborts the kiosk. So the engine gets a
// short directory of its own, made at start and removed at the end.
//
// No WebKit here: plain decisions on the environment, testable on their own.
#pragma once

#include <string>

namespace engine::webkit {

// Where the engine's own runtime directory is made: `runtime_dir`
// (XDG_RUNTIME_DIR, nullptr when unset) when it is an absolute path short
// enough for the engine's socket names below it, "/tmp" otherwise.
std::string RuntimeDirectoryBase(const char* runtime_dir);

// Makes the directory (mode 0700) and has GLib, and with it the engine,
// use it as the user's runtime directory; the environment stays as it was
// for the programs the kiosk starts. What the engine found in the given
// runtime directory (the session bus, the sound server) it is still told
// of, through their own variables. Returns the directory; empty when it
// could not be made (the engine's default then).
std::string UsePrivateRuntimeDirectory();

// Why the engine's sandbox cannot use its runtime directory: when no
// private one could be made (`private_dir` empty) and the engine's default
// (`engine_dir`) is too deep for its socket paths, the reason (one line);
// "" otherwise.
std::string RuntimeDirectoryProblem(const std::string& private_dir, const std::string& engine_dir);

// Removes the directory and everything in it. Safe to call more than once,
// and from the forced shutdown.
void RemovePrivateRuntimeDirectory();

}  // namespace engine::webkit
