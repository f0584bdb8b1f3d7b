// The program's own command-line options; everything else is left alone.
#pragma once

#include <string>

enum class CommandLineAction { Run, Help, Version, CheckConfig };

// --help, --version or --check-config anywhere on the command line.
CommandLineAction ParseCommandLine(int argc, char* argv[]);

std::string UsageText(const std::string& program);
std::string VersionText();
