// The session bus address that the engine and the toolkit get. Without a
// reachable session bus, GLib "autolaunches" one with dbus-launch, a daemon
// that outlives the kiosk; and a sandboxed engine aborts the whole process
// when the address it is given names a socket that is not there.
//
// No WebKit here: decisions on the environment and plain process handling,
// testable on their own.
#pragma once

#include <optional>
#include <string>

namespace engine::webkit {

// Whether `path` is a Unix socket (following links).
bool IsSocket(const std::string& path);

// What DBUS_SESSION_BUS_ADDRESS should be set to, given its value and that
// of XDG_RUNTIME_DIR (nullptr: unset); nothing when it can stay as it is.
// An address whose every entry is "unix:path=" naming no socket, or no
// address and no $XDG_RUNTIME_DIR/bus socket, becomes "disabled:": no
// connection is tried and nothing is started.
std::optional<std::string> SessionBusAddressOverride(const char* address, const char* runtime_dir);

// Without a reachable session bus, the kiosk runs one of its own: a
// dbus-daemon listening in `directory` (its private runtime directory),
// with no service to start and no log, ended with the kiosk (also when the
// kiosk is killed). The engine's sandboxed processes then talk to a bus
// that answers, instead of printing warnings about one that is not there.
// Its address, or "" when it cannot be started (no dbus-daemon installed,
// or no answer within two seconds).
std::string StartPrivateSessionBus(const std::string& directory);
void StopPrivateSessionBus();

// Applies SessionBusAddressOverride to the environment: a private bus in
// `directory` (unless empty) or "disabled:". Without the user's bus there is
// no accessibility bus either, and neither the toolkit nor the renderer is
// left to look for one.
void UseReachableSessionBus(const std::string& directory);

}  // namespace engine::webkit
