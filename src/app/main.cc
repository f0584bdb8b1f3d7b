// Start-up of the kiosk: configuration, engine, host window, toolbar and
// browser, then the one main loop until the kiosk is told to end.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "app/command_line.h"
#include "app/engine_settings.h"
#include "app/kiosk.h"
#include "app/shutdown.h"
#include "config/config.h"
#include "config/environment.h"
#include "engine/engine.h"
#include "log/log.h"
#include "request/client_certificate.h"
#include "window/host_window.h"

namespace {

// The help and version texts end in a line feed of their own.
void PrintText(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  vkx::LogInfo(text);
}

// --check-config's word on the client certificate: whether it and its key
// load (a token's PIN is neither asked for nor shown).
void CheckClientCertificate() {
  std::ostringstream quiet_out;
  std::ostringstream quiet_err;
  std::string certificate;
  std::string key;
  {
    vkx::LogRedirect quiet(quiet_out, quiet_err);
    certificate = Config::Instance().GetClientCertificate();
    key = Config::Instance().GetClientCertificateKey();
  }
  if (certificate.empty()) return;
  const std::string keys = vkx::ClientCertificateKeyNames(key);
  std::string error;
  if (engine::LoadClientCertificate(certificate, key, error)) {
    vkx::LogInfo("The client certificate can be loaded (" + keys + ")");
  } else {
    vkx::LogInfo("The client certificate cannot be loaded (" + keys + "): " + error);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before anything starts a process: the credentials leave the environment,
  // and the environment as it was is kept for the programs the kiosk starts.
  vkx::CaptureStartEnvironment();
  // Operators read the log through a pipe: every line leaves as it is written.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  switch (ParseCommandLine(argc, argv)) {
    case CommandLineAction::Help:
      PrintText(UsageText(argc > 0 ? argv[0] : "vkxbrowser"));
      return 0;
    case CommandLineAction::Version:
      PrintText(VersionText());
      return 0;
    case CommandLineAction::CheckConfig:
      if (!Config::Check()) return 1;
      CheckClientCertificate();
      return 0;
    case CommandLineAction::Run:
      break;
  }
  // Runs while the configuration is read and the display opened.
  engine::StartEarly();
  // Classic scrollbars: overlay ones keep redrawing in software after a load.
  setenv("GTK_OVERLAY_SCROLLING", "0", 0);
  // Toolkit settings stay in memory: no dconf writes, no session bus started for them.
  setenv("GSETTINGS_BACKEND", "memory", 0);

  Config& config = Config::Instance();
  config.Print();

  engine::Settings settings;
  BuildEngineSettings(config, settings);

  // Without a display nothing below can work: say so before the engine starts.
  std::unique_ptr<vkx::HostWindow> host = vkx::HostWindow::Connect();
  if (!host) {
    vkx::LogError("Cannot open display");
    return 1;
  }
  if (!engine::Initialize(settings)) return -1;
  engine::SetNetworkProxy(config.GetProxy(), config.GetProxyIgnoreHosts());
  if (!gtk_init_check(&argc, &argv)) {
    vkx::LogError("Cannot open display");
    return 1;
  }

  Kiosk kiosk(*host, config);
  // A kiosk with no page is no kiosk: the session starts it anew.
  if (!kiosk.HasBrowser()) return -1;
  kiosk.Start();
  // Returns only once the exit sequence has run (app/shutdown.h).
  engine::RunMessageLoop();
  ForceShutdown();
}
