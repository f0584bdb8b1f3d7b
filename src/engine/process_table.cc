#include "engine/process_table.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace engine {

namespace {

constexpr unsigned long kPfExiting = 0x4;

// The processes below `root` that `follow` accepts, reached only through
// processes it accepts, parents before their children.
template <typename Follow>
std::vector<ProcessRow> Descendants(pid_t root, const std::vector<ProcessRow>& table, Follow follow) {
  std::vector<ProcessRow> found;
  std::vector<pid_t> parents{root};
  while (!parents.empty()) {
    const pid_t parent = parents.back();
    parents.pop_back();
    for (const ProcessRow& row : table) {
      if (row.ppid != parent || row.pid == root || !follow(row)) continue;
      found.push_back(row);
      parents.push_back(row.pid);
    }
  }
  return found;
}

}  // namespace

std::optional<ProcessRow> ParseStatLine(const std::string& line) {
  // pid (comm) state ppid pgrp session tty tpgid flags ... starttime (22nd);
  // comm may hold blanks and parentheses.
  const size_t open = line.find('(');
  const size_t close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  ProcessRow row;
  row.pid = static_cast<pid_t>(std::strtol(line.c_str(), nullptr, 10));
  row.comm = line.substr(open + 1, close - open - 1);
  std::istringstream rest(line.substr(close + 1));
  long ppid = 0;
  long skip = 0;
  unsigned long flags = 0;
  if (!(rest >> row.state >> ppid >> skip >> skip >> skip >> skip >> flags)) return std::nullopt;
  for (int field = 10; field < 22; ++field) rest >> skip;
  if (!(rest >> row.start_time)) return std::nullopt;
  row.ppid = static_cast<pid_t>(ppid);
  row.exiting = (flags & kPfExiting) != 0;
  return row;
}

std::optional<ProcessRow> ReadProcess(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  return ParseStatLine(line);
}

bool IsLive(const ProcessRow& row) { return row.state != 'Z' && row.state != 'X' && !row.exiting; }

std::vector<ProcessRow> ReadProcessTable() {
  std::vector<ProcessRow> table;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return table;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    if (auto row = ReadProcess(static_cast<pid_t>(pid))) {
      table.push_back(std::move(*row));
    }
  }
  closedir(proc);
  return table;
}

std::vector<pid_t> EngineHelpersOf(pid_t root, const std::vector<ProcessRow>& table) {
  std::vector<pid_t> helpers;
  for (const ProcessRow& row : Descendants(root, table, [](const ProcessRow& r) {
         return r.comm.rfind("WebKit", 0) == 0 || r.comm == "bwrap";
       })) {
    helpers.push_back(row.pid);
  }
  return helpers;
}

std::optional<ProcessRow> FindDescendant(pid_t root, const std::string& prefix,
                                         const std::vector<ProcessRow>& table) {
  for (const ProcessRow& row : Descendants(root, table, [](const ProcessRow&) { return true; })) {
    if (IsLive(row) && row.comm.rfind(prefix, 0) == 0) return row;
  }
  return std::nullopt;
}

}  // namespace engine
