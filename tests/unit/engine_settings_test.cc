#include "app/engine_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "config/config.h"
#include "log_capture.h"
#include "test_files.h"

namespace {

TEST(EngineSettings, FollowTheConfiguration) {
  const TempDir dir("vkx-settings-test");
  const std::string path = dir.path() + "/vkx.conf";
  LogCapture log;
  WriteConfig(path, "cachePath=/var/cache/kiosk\nacceptLanguageList=de-DE,en\n");
  Config config;
  engine::Settings settings;
  BuildEngineSettings(config, settings);
  EXPECT_TRUE(settings.no_sandbox);
  EXPECT_EQ(settings.remote_debugging_port, 0);
  EXPECT_EQ(settings.cache_path, "/var/cache/kiosk");
  EXPECT_FALSE(settings.persist_session_cookies);
  EXPECT_EQ(settings.accept_language_list, "de-DE,en");
  EXPECT_FALSE(settings.require_renderer_sandbox);

  WriteConfig(path, "requireSandbox=true\n");
  config.Reload();
  BuildEngineSettings(config, settings);
  EXPECT_TRUE(settings.require_renderer_sandbox);

  WriteConfig(path, "width=1\nrequireSandbox=TRUE\n");
  config.Reload();
  engine::Settings defaults;
  defaults.accept_language_list = "engine-default";
  BuildEngineSettings(config, defaults);
  EXPECT_EQ(defaults.cache_path, "");
  EXPECT_FALSE(defaults.persist_session_cookies);
  EXPECT_EQ(defaults.accept_language_list, "engine-default");
  EXPECT_FALSE(defaults.require_renderer_sandbox);
  unsetenv("VKX_CONFIG_PATH");
}

}  // namespace
