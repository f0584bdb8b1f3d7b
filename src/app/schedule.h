// What runs on the main loop besides the engine: the host window's X
// events, the one-second delayed set-up and the stop signals.
#pragma once

// Handles X events as they arrive; once closeRequested is raised and no
// event is left, runs the forced shutdown.
void StartXEventSource();

// One second from now: size and focus the browser, apply the display mode.
void StartDelayedSetup();
void RunDelayedSetup();

// SIGTERM and SIGINT end the kiosk like the close button.
void WatchStopSignals();

// After the engine's loop has ended: keeps serving the host window until
// the forced shutdown ends the process.
[[noreturn]] void ServeUntilClosed();
