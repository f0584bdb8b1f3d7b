#include "engine/webkit/runtime_dir.h"

#include <ftw.h>
#include <gio/gio.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/webkit/session_bus.h"

namespace engine::webkit {

namespace {

// The longest name the engine makes below its runtime directory
// ("/webkitgtk/bus-proxy-XXXXXX", "/.flatpak/webkit-XXXXXX/bwrapinfo.json")
// and the directory's own ("/vkx-XXXXXX"), with room to spare, within a
// socket path's 107 bytes.
constexpr size_t kLongestBase = 50;

std::string& PrivateDirectory() {
  static std::string directory;
  return directory;
}

}  // namespace

std::string RuntimeDirectoryBase(const char* runtime_dir) {
  if (runtime_dir != nullptr && g_path_is_absolute(runtime_dir) &&
      std::strlen(runtime_dir) <= kLongestBase && g_file_test(runtime_dir, G_FILE_TEST_IS_DIR)) {
    return runtime_dir;
  }
  return "/tmp";
}

std::string UsePrivateRuntimeDirectory() {
  if (!PrivateDirectory().empty()) return PrivateDirectory();
  const char* given = std::getenv("XDG_RUNTIME_DIR");
  const std::string previous = given != nullptr ? given : "";
  std::string pattern = RuntimeDirectoryBase(given) + "/vkx-XXXXXX";
  std::vector<char> path(pattern.begin(), pattern.end());
  path.push_back('\0');
  if (g_mkdtemp_full(path.data(), 0700) == nullptr) return {};
  PrivateDirectory() = path.data();
  // The engine finds the session bus and the sound server in the runtime
  // directory when nothing names them: it is told where they are.
  if (given != nullptr && *given != '\0') {
    const std::string bus = previous + "/bus";
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr && IsSocket(bus)) {
      g_autofree char* escaped = g_dbus_address_escape_value(bus.c_str());
      setenv("DBUS_SESSION_BUS_ADDRESS", (std::string("unix:path=") + escaped).c_str(), 1);
    }
    const std::string pulse = previous + "/pulse/native";
    if (std::getenv("PULSE_SERVER") == nullptr && IsSocket(pulse)) {
      setenv("PULSE_SERVER", ("unix:" + pulse).c_str(), 1);
    }
  }
  // GLib keeps the first value it reads.
  setenv("XDG_RUNTIME_DIR", PrivateDirectory().c_str(), 1);
  g_get_user_runtime_dir();
  if (given != nullptr) {
    setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
  std::atexit(RemovePrivateRuntimeDirectory);
  return PrivateDirectory();
}

std::string RuntimeDirectoryProblem(const std::string& private_dir, const std::string& engine_dir) {
  if (!private_dir.empty() || engine_dir.size() <= kLongestBase) return {};
  return "no runtime directory of its own could be made, and " + engine_dir +
         " is too long a path for the engine's sockets";
}

void RemovePrivateRuntimeDirectory() {
  if (PrivateDirectory().empty()) return;
  // Depth first, without following links out of it.
  nftw(
      PrivateDirectory().c_str(),
      [](const char* path, const struct stat*, int type, struct FTW*) {
        if (type == FTW_DP) {
          rmdir(path);
        } else {
          unlink(path);
        }
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

}  // namespace engine::webkit
