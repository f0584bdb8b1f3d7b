#include "engine/webkit/webkit_sandbox.h"

#include <glib/gstdio.h>

#include <cstdlib>

#include "engine/webkit/sandbox_trial.h"
#include "log/log.h"

namespace engine::webkit {

namespace {

// WebKit mounts the user's cache directory (g_get_user_cache_dir(), for the
// graphics drivers' shader cache) read-write into the sandbox: the whole of
// ~/.cache, with whatever other programs, or a cachePath below it, keep
// there. An empty directory of its own below it is given instead. GLib
// keeps the first value it reads, so the environment is put back at once:
// the kiosk's other caches and the programs it starts keep the usual one.
void UsePrivateCacheDirectory() {
  const char* configured = std::getenv("XDG_CACHE_HOME");
  const std::string previous = configured != nullptr ? configured : "";
  std::string base = previous;
  if (base.empty() || !g_path_is_absolute(base.c_str())) {
    base = std::string(g_get_home_dir()) + "/.cache";
  }
  const std::string own = base + "/vkxbrowser-sandbox";
  if (g_mkdir_with_parents(own.c_str(), 0700) != 0) return;  // the engine's default, then
  setenv("XDG_CACHE_HOME", own.c_str(), 1);
  g_get_user_cache_dir();
  if (configured != nullptr) {
    setenv("XDG_CACHE_HOME", previous.c_str(), 1);
  } else {
    unsetenv("XDG_CACHE_HOME");
  }
}

}  // namespace

SandboxPlan PrepareRendererSandbox(bool required, const std::string& known_problem) {
  // WebKit aborts the whole process when a web process cannot be started in
  // the sandbox, so it is only turned on once a trial has shown it works.
  const std::string reason =
      known_problem.empty() ? RendererSandboxUnavailableReason() : known_problem;
  if (!reason.empty()) {
    vkx::LogError("Renderer sandbox unavailable: " + reason);
    return required ? SandboxPlan::Refuse : SandboxPlan::Skip;
  }
  UsePrivateCacheDirectory();
  return SandboxPlan::Use;
}

void EnableRendererSandbox(WebKitWebContext* context, const std::string& extensions_directory) {
  webkit_web_context_set_sandbox_enabled(context, TRUE);
  // Beyond the engine's own read-only system folders, only the extension.
  if (!extensions_directory.empty()) {
    webkit_web_context_add_path_to_sandbox(context, extensions_directory.c_str(), TRUE);
  }
}

}  // namespace engine::webkit
