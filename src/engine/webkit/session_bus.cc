#include "engine/webkit/session_bus.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

namespace engine::webkit {

namespace {

constexpr const char* kDisabled = "disabled:";

bool IsSocket(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
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

void DisableUnreachableSessionBus() {
  if (auto address = SessionBusAddressOverride(std::getenv("DBUS_SESSION_BUS_ADDRESS"),
                                               std::getenv("XDG_RUNTIME_DIR"))) {
    setenv("DBUS_SESSION_BUS_ADDRESS", address->c_str(), 1);
  }
}

}  // namespace engine::webkit
