// How the kiosk ends.
#pragma once

#include <atomic>

// Raised once by whoever wants the kiosk to end; never reset.
extern std::atomic<bool> closeRequested;

// Raises closeRequested and wakes the main loop to react to it.
void RequestClose();

// Closes the browser, ends the loop, prints "force shutdown..." and kills
// this process and the engine helpers it started. Does not return.
[[noreturn]] void ForceShutdown();
