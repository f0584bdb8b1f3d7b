// How the kiosk ends.
#pragma once

#include <atomic>
#include <string>
#include <vector>
#include <sys/types.h>

// Raised once by whoever wants the kiosk to end; never reset.
extern std::atomic<bool> closeRequested;

// Raises closeRequested and wakes the main loop to react to it.
void RequestClose();

// Closes the browser, ends the loop, prints "force shutdown..." and kills
// this process and the engine helpers it started. Does not return.
[[noreturn]] void ForceShutdown();

// The engine helper processes below `root` in a process table of
// (pid, parent pid, command name) rows.
struct ProcessRow {
  pid_t pid;
  pid_t ppid;
  std::string comm;
};
std::vector<pid_t> EngineHelpersOf(pid_t root, const std::vector<ProcessRow>& table);
