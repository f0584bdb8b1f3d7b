#include "app/engine_settings.h"

#include "config/config.h"

void BuildEngineSettings(const Config& config, engine::Settings& settings) {
  settings.no_sandbox = true;
  settings.require_renderer_sandbox = config.GetRequireSandbox();
  settings.renderer_memory_limit_mib = config.GetMemoryLimit() > 0 ? config.GetMemoryLimit() : 0;
  settings.remote_debugging_port = 0;
  settings.cache_path = config.GetCachePath();
  settings.wiped_sessions = config.GetClearSessionOnIdle();
  settings.persist_session_cookies = false;
  const std::string languages = config.GetAcceptLanguageList();
  if (!languages.empty()) settings.accept_language_list = languages;
}
