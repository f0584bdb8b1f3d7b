// The web process in WebKit's bubblewrap sandbox.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace engine::webkit {

enum class SandboxPlan {
  Use,     // the sandbox can start
  Skip,    // it cannot; the web process runs without it
  Refuse,  // it cannot and is required: the engine must not start
};

// Before any engine object exists: `known_problem` (a reason found before,
// or "") or else a trial run decides, and when the sandbox cannot start,
// one line on standard error says why. With Use, the engine's cache
// directory is made a private one first (see the .cc).
SandboxPlan PrepareRendererSandbox(bool required, const std::string& known_problem = "");

// Turns the sandbox on for the context's web processes, with the
// web-process extension directory (when not empty) readable inside.
void EnableRendererSandbox(WebKitWebContext* context, const std::string& extensions_directory);

}  // namespace engine::webkit
