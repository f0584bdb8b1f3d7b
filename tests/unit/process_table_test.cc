#include "engine/process_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(ForcedShutdown, KillsOnlyTheEngineHelpersItStarted) {
  const std::vector<engine::ProcessRow> table = {
      {100, 1, "vkxbrowser"},
      {101, 100, "WebKitWebProces"},
      {102, 100, "WebKitNetworkPr"},
      {103, 101, "WebKitGPUProces"},  // a helper's own helper
      {104, 100, "brellik.sh"},       // a launcher: left alone
      {105, 104, "WebKitWebProces"},  // ...and so is what it started
      {106, 100, "bwrap"},            // a sandboxed web process, two levels down
      {107, 106, "bwrap"},
      {108, 107, "WebKitWebProces"},
      {200, 1, "vkxbrowser"},         // another kiosk on the machine
      {201, 200, "WebKitWebProces"},
      {202, 200, "bwrap"},
  };
  std::vector<pid_t> helpers = engine::EngineHelpersOf(100, table);
  std::sort(helpers.begin(), helpers.end());
  EXPECT_EQ(helpers, (std::vector<pid_t>{101, 102, 103, 106, 107, 108}));
  EXPECT_TRUE(engine::EngineHelpersOf(999, table).empty());
}

TEST(ProcessTable, StatLinesWithOddNamesAndProcessesOnTheirWayOut) {
  // comm may hold blanks and parentheses; flags 0x4 is a process exiting.
  const auto row = engine::ParseStatLine(
      "4242 (Web (x) Pr) S 100 4242 4242 0 -1 4194564 10 0 0 0 5 6 0 0 20 0 9 0 987654 0 0");
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->pid, 4242);
  EXPECT_EQ(row->ppid, 100);
  EXPECT_EQ(row->comm, "Web (x) Pr");
  EXPECT_TRUE(row->exiting);
  EXPECT_EQ(row->start_time, 987654u);
  EXPECT_FALSE(engine::IsLive(*row));
  EXPECT_FALSE(engine::ParseStatLine("4242 (cut short) S 100").has_value());

  // The network process is found below the kiosk at any depth, never a
  // dead one or another kiosk's.
  std::vector<engine::ProcessRow> table = {
      {100, 1, "vkxbrowser", 'S'},       {101, 100, "bwrap", 'S'},
      {102, 101, "WebKitNetworkPr", 'Z'}, {103, 101, "WebKitNetworkPr", 'S'},
      {201, 200, "WebKitNetworkPr", 'S'}};
  EXPECT_EQ(engine::FindDescendant(100, "WebKitNetworkPr", table)->pid, 103);
  EXPECT_FALSE(engine::FindDescendant(300, "WebKitNetworkPr", table).has_value());
}

}  // namespace
