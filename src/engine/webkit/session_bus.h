// The session bus address that the engine and the toolkit get. Without a
// reachable session bus, GLib "autolaunches" one with dbus-launch, a daemon
// that outlives the kiosk; and a sandboxed engine aborts the whole process
// when the address it is given names a socket that is not there.
//
// No WebKit here: plain decisions on the environment, testable on their own.
#pragma once

#include <optional>
#include <string>

namespace engine::webkit {

// What DBUS_SESSION_BUS_ADDRESS should be set to, given its value and that
// of XDG_RUNTIME_DIR (nullptr: unset); nothing when it can stay as it is.
// An address whose every entry is "unix:path=" naming no socket, or no
// address and no $XDG_RUNTIME_DIR/bus socket, becomes "disabled:": no
// connection is tried and nothing is started.
std::optional<std::string> SessionBusAddressOverride(const char* address, const char* runtime_dir);

// Applies that to the environment.
void DisableUnreachableSessionBus();

}  // namespace engine::webkit
