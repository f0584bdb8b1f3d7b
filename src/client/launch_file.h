// New-window targets handed to the launcher script through a launch file.
#pragma once

#include <string>

namespace vkx {

// Writes "url=<url>" and "displayMode=maximized|window" into a new
// owner-only file made from `pathTemplate` (ending in XXXXXX). Returns the
// path, or an empty string when no file could be made; reports either way.
std::string WriteLaunchFile(const std::string& pathTemplate, const std::string& url,
                            bool maximized);

// The launcher script, run in the background with the launch file's path.
const char* LauncherPath();

}  // namespace vkx
