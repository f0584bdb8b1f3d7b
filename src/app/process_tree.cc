#include "app/process_tree.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

std::vector<pid_t> EngineHelpersOf(pid_t root, const std::vector<ProcessRow>& table) {
  // Walk down from root; the engine's helpers are named WebKit*, or bwrap
  // for the sandbox that holds a web process. Anything else (a launcher, a
  // desktop opener) is left alone, and so are its children.
  std::vector<pid_t> helpers;
  std::vector<pid_t> parents{root};
  while (!parents.empty()) {
    const pid_t parent = parents.back();
    parents.pop_back();
    for (const ProcessRow& row : table) {
      if (row.ppid != parent || row.pid == root) continue;
      if (row.comm.rfind("WebKit", 0) == 0 || row.comm == "bwrap") {
        helpers.push_back(row.pid);
        parents.push_back(row.pid);
      }
    }
  }
  return helpers;
}

std::vector<ProcessRow> ReadProcessTable() {
  std::vector<ProcessRow> table;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return table;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...; comm may hold blanks and parentheses.
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    long ppid = 0;
    if (!(rest >> state >> ppid)) continue;
    table.push_back({static_cast<pid_t>(pid), static_cast<pid_t>(ppid),
                     line.substr(open + 1, close - open - 1)});
  }
  closedir(proc);
  return table;
}

