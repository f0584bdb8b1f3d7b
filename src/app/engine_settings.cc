#include "app/engine_settings.h"

#include "config/config.h"

void BuildEngineSettings(const Config& config, engine::Settings& settings) {
  settings.no_sandbox = true;
  settings.require_renderer_sandbox = config.GetRequireSandbox();
  settings.renderer_memory_limit_mib = config.GetMemoryLimit() > 0 ? config.GetMemoryLimit() : 0;
  settings.remote_debugging_port = 0;
  // A public session starts empty, as every idle return leaves it.
  settings.cache_path = config.GetClearSessionOnIdle() ? std::string() : config.GetCachePath();
  settings.persist_session_cookies = false;
  const std::string languages = config.GetAcceptLanguageList();
  if (!languages.empty()) settings.accept_language_list = languages;
}
