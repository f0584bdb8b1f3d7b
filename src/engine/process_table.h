// The machine's process table as /proc shows it: what the kiosk needs to
// find and tell apart the engine's helper processes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine {

struct ProcessRow {
  pid_t pid = 0;
  pid_t ppid = 0;
  std::string comm;
  char state = '?';
  // Set while the process is on its way out (the kernel's PF_EXITING).
  bool exiting = false;
  // Clock ticks after boot: with the pid, names one process for good.
  uint64_t start_time = 0;
};

// One /proc/PID/stat line as a row; nullopt when it cannot be read.
std::optional<ProcessRow> ParseStatLine(const std::string& line);

// One process; nullopt when there is none.
std::optional<ProcessRow> ReadProcess(pid_t pid);

// Whether it is running and not on its way out.
bool IsLive(const ProcessRow& row);

// Every process of the machine.
std::vector<ProcessRow> ReadProcessTable();

// The engine's helper processes below `root`: those named WebKit* (or
// bwrap, the sandbox that holds a web process), and theirs. Anything else (a launcher, a desktop opener) is left out, and so
// are its children.
std::vector<pid_t> EngineHelpersOf(pid_t root, const std::vector<ProcessRow>& table);

// The live process below `root` (at any depth) whose command name begins
// with `prefix`; nullopt when there is none.
std::optional<ProcessRow> FindDescendant(pid_t root, const std::string& prefix,
                                         const std::vector<ProcessRow>& table);

}  // namespace engine
