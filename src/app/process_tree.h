// The process table, as far as the forced shutdown needs it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessRow {
  pid_t pid;
  pid_t ppid;
  std::string comm;
};

// Every process of the machine: pid, parent pid and command name.
std::vector<ProcessRow> ReadProcessTable();

// The engine helper processes below `root` in `table`.
std::vector<pid_t> EngineHelpersOf(pid_t root, const std::vector<ProcessRow>& table);
