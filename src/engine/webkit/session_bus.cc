#include "engine/webkit/session_bus.h"

#include <glib.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace engine::webkit {

namespace {

constexpr const char* kDisabled = "disabled:";

// A session bus for the kiosk alone: its socket, nothing to activate, any
// client may talk to any other (they are all the kiosk's).
constexpr const char* kBusConfigHead =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n  <type>session</type>\n  <listen>unix:path=";
constexpr const char* kBusConfigTail =
    "</listen>\n  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";

constexpr int kBusStartTimeoutMs = 2000;

pid_t& PrivateBus() {
  static pid_t pid = 0;
  return pid;
}

// The first line fd gives within timeout_ms, without its newline; "" when
// none comes.
std::string ReadLine(int fd, int timeout_ms) {
  std::string line;
  const gint64 deadline = g_get_monotonic_time() + gint64{timeout_ms} * 1000;
  while (true) {
    const gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
    if (left_ms <= 0) return {};
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(left_ms));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    char chunk[256];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return {};
    line.append(chunk, static_cast<size_t>(got));
    if (const size_t end = line.find('\n'); end != std::string::npos) return line.substr(0, end);
  }
}

// True when the entry is "unix:path=P[,key=value...]" and P is no socket.
// Escaped paths (%XX) and every other transport are taken as reachable.
bool NamesMissingSocket(std::string_view entry) {
  constexpr std::string_view kPrefix = "unix:";
  if (entry.substr(0, kPrefix.size()) != kPrefix) return false;
  std::string_view keys = entry.substr(kPrefix.size());
  while (!keys.empty()) {
    const size_t comma = keys.find(',');
    const std::string_view pair = keys.substr(0, comma);
    if (pair.substr(0, 5) == "path=") {
      const std::string_view path = pair.substr(5);
      return !path.empty() && path.find('%') == std::string_view::npos &&
             !IsSocket(std::string(path));
    }
    if (comma == std::string_view::npos) break;
    keys.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

bool IsSocket(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::optional<std::string> SessionBusAddressOverride(const char* address, const char* runtime_dir) {
  if (address == nullptr || *address == '\0') {
    if (runtime_dir != nullptr && *runtime_dir != '\0' &&
        IsSocket(std::string(runtime_dir) + "/bus")) {
      return std::nullopt;
    }
    return kDisabled;
  }
  std::string_view entries(address);
  while (true) {
    const size_t semicolon = entries.find(';');
    const std::string_view entry = entries.substr(0, semicolon);
    if (!entry.empty() && !NamesMissingSocket(entry)) return std::nullopt;
    if (semicolon == std::string_view::npos) break;
    entries.remove_prefix(semicolon + 1);
  }
  return kDisabled;
}

std::string StartPrivateSessionBus(const std::string& directory) {
  if (PrivateBus() > 0) return {};
  g_autofree char* daemon = g_find_program_in_path("dbus-daemon");
  if (daemon == nullptr || directory.empty()) return {};
  g_autofree char* socket = g_markup_escape_text((directory + "/bus").c_str(), -1);
  const std::string config_path = directory + "/bus.conf";
  const std::string config = std::string(kBusConfigHead) + socket + kBusConfigTail;
  if (!g_file_set_contents(config_path.c_str(), config.c_str(), -1, nullptr)) return {};

  const std::string config_arg = "--config-file=" + config_path;
  const char* argv[] = {daemon, config_arg.c_str(), "--nofork", "--nopidfile", "--nosyslog",
                        "--print-address=1", nullptr};
  // The service manager's variables are the kiosk's: a bus that found
  // them would report itself ready in the kiosk's name.
  gchar** env = g_get_environ();
  for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "LISTEN_FDS",
                           "LISTEN_PID", "LISTEN_FDNAMES"}) {
    env = g_environ_unsetenv(env, name);
  }
  g_auto(GStrv) owned_env = env;
  GPid pid = 0;
  int out = -1;
  if (!g_spawn_async_with_pipes(
          nullptr, const_cast<char**>(argv), owned_env,
          static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL),
          [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, &pid, nullptr, &out,
          nullptr, nullptr)) {
    return {};
  }
  PrivateBus() = pid;
  std::atexit(StopPrivateSessionBus);
  // It prints its address once it listens.
  std::string address = ReadLine(out, kBusStartTimeoutMs);
  close(out);
  if (address.empty()) StopPrivateSessionBus();
  return address;
}

void StopPrivateSessionBus() {
  const pid_t pid = std::exchange(PrivateBus(), 0);
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

void UseReachableSessionBus(const std::string& directory) {
  auto fallback = SessionBusAddressOverride(std::getenv("DBUS_SESSION_BUS_ADDRESS"),
                                            std::getenv("XDG_RUNTIME_DIR"));
  if (!fallback) return;
  const std::string own = StartPrivateSessionBus(directory);
  setenv("DBUS_SESSION_BUS_ADDRESS", own.empty() ? fallback->c_str() : own.c_str(), 1);
  setenv("NO_AT_BRIDGE", "1", 0);
  setenv("WEBKIT_A11Y_BUS_ADDRESS", "", 0);
}

}  // namespace engine::webkit
