#include "app/command_line.h"

#include <cstring>

#ifndef VKX_VERSION
#define VKX_VERSION "unknown"
#endif

CommandLineAction ParseCommandLine(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return CommandLineAction::Help;
    if (std::strcmp(argv[i], "--version") == 0) return CommandLineAction::Version;
    if (std::strcmp(argv[i], "--check-config") == 0) return CommandLineAction::CheckConfig;
  }
  return CommandLineAction::Run;
}

std::string UsageText(const std::string& program) {
  return "Usage: " + program + " [--help] [--version] [--check-config]\n"
         "A locked-down single-window kiosk browser for X11.\n"
         "--check-config prints what the configuration file would set and which\n"
         "lines it would ignore, then ends (status 1: the file cannot be read).\n"
         "\n"
         "The configuration file is named by VKX_CONFIG_PATH (key=value lines);\n"
         "VKX_BRELLIK_USERNAME and VKX_BRELLIK_PASSWORD fill the sign-in form.\n"
         "See vkxbrowser(1) and vkxbrowser.conf(5).\n";
}

std::string VersionText() { return std::string("vkxbrowser ") + VKX_VERSION + "\n"; }
