// Start-up of the kiosk: configuration, engine, host window, toolbar and
// browser, then the main loop until the kiosk is told to end.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/engine_settings.h"
#include "app/schedule.h"
#include "client/client_manager.h"
#include "config/config.h"
#include "engine/engine.h"
#include "window/browser_window.h"
#include "window/host_window.h"
#include "window/toolbar.h"

int main(int argc, char* argv[]) {
  // Operators read the log through a pipe: every line leaves as it is written.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  switch (ParseCommandLine(argc, argv)) {
    case CommandLineAction::Help:
      fputs(UsageText(argc > 0 ? argv[0] : "vkxbrowser").c_str(), stdout);
      return 0;
    case CommandLineAction::Version:
      fputs(VersionText().c_str(), stdout);
      return 0;
    case CommandLineAction::Run:
      break;
  }
  // Classic scrollbars: overlay ones keep redrawing in software after a load.
  setenv("GTK_OVERLAY_SCROLLING", "0", 0);
  // Toolkit settings stay in memory: no dconf writes, no session bus started for them.
  setenv("GSETTINGS_BACKEND", "memory", 0);

  Config& config = Config::Instance();
  config.Print();

  engine::Settings settings;
  BuildEngineSettings(config, settings);

  // Without a display nothing below can work: say so before the engine starts.
  OpenHostDisplay();
  if (!engine::Initialize(settings)) return -1;
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "Cannot open display\n");
    return 1;
  }

  ClientManager manager;
  CreateHostWindow();
  if (config.GetEnableToolbar()) SetupToolbar(config.GetEnableAutoHide());

  browserSettings.windowless_frame_rate = 60;
  browserSettings.javascript = engine::State::Enabled;
  CreateBrowserWindow();

  StartXEventSource();
  StartDelayedSetup();
  WatchStopSignals();

  engine::RunMessageLoop();
  engine::Shutdown();
  // The host window stays until it is closed; that ends the process.
  ServeUntilClosed();
}
