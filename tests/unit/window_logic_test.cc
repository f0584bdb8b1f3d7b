#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "engine/process_table.h"
#include "app/shutdown.h"
#include "fake_engine.h"
#include "window/auto_hide.h"

namespace {

int TicksUntil(AutoHideState& state, bool inStrip, AutoHideAction wanted, int limit = 200) {
  for (int tick = 1; tick <= limit; ++tick) {
    if (AutoHideTick(state, inStrip) == wanted) return tick;
  }
  return -1;
}

TEST(AutoHide, HidesOnThe52ndTickAndShowsOnThe7thInStrip) {
  AutoHideState state;
  EXPECT_EQ(TicksUntil(state, true, AutoHideAction::Hide), 52);
  EXPECT_TRUE(state.toolbarHidden);
  EXPECT_EQ(state.showTicks, 0);
  // The pointer away from the strip changes nothing, however long.
  for (int i = 0; i < 100; ++i) EXPECT_EQ(AutoHideTick(state, false), AutoHideAction::Stay);
  EXPECT_EQ(state.showTicks, 0);
  EXPECT_EQ(TicksUntil(state, true, AutoHideAction::Show), 7);
  EXPECT_FALSE(state.toolbarHidden);
  EXPECT_EQ(state.hideTicks, 0);
  // Shown again: the hide count starts over.
  EXPECT_EQ(TicksUntil(state, false, AutoHideAction::Hide), 52);
}

TEST(AutoHide, TicksInTheStripNeedNotBeConsecutive) {
  AutoHideState state;
  TicksUntil(state, false, AutoHideAction::Hide);
  int inStripTicks = 0;
  AutoHideAction action = AutoHideAction::Stay;
  for (int i = 0; i < 40 && action != AutoHideAction::Show; ++i) {
    const bool inStrip = i % 3 == 0;
    action = AutoHideTick(state, inStrip);
    if (inStrip) ++inStripTicks;
  }
  EXPECT_EQ(action, AutoHideAction::Show);
  EXPECT_EQ(inStripTicks, 7);
}

TEST(AutoHide, HotStripBoundsAreInclusive) {
  EXPECT_TRUE(InHotStrip(0, 0, 0, 0, 800));
  EXPECT_TRUE(InHotStrip(800, 10, 0, 0, 800));
  EXPECT_FALSE(InHotStrip(801, 5, 0, 0, 800));
  EXPECT_FALSE(InHotStrip(5, 11, 0, 0, 800));
  EXPECT_FALSE(InHotStrip(-1, 5, 0, 0, 800));
  EXPECT_FALSE(InHotStrip(5, -1, 0, 0, 800));
}

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

// ---- the exit sequence ----

// Runs the default main context until `done` or `limit` has passed.
template <typename Done>
bool IterateUntil(Done done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  GSource* tick = g_timeout_source_new(10);  // bounds each blocking iteration
  g_source_set_callback(tick, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr,
                        nullptr);
  g_source_attach(tick, nullptr);
  while (!done() && std::chrono::steady_clock::now() < end) g_main_context_iteration(nullptr, TRUE);
  g_source_destroy(tick);
  g_source_unref(tick);
  return done();
}

TEST(ExitSequence, WithoutCookiesClosesTheBrowserAndQuitsAtOnceAndOnlyOnce) {
  fake::Log() = {};
  int closes = 0;
  ExitSequence sequence([&] { ++closes; }, [] { return false; });
  sequence.Begin(false);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(fake::Log().quit_calls, 1);
  // The close button after "Quit", a signal after the end-session key.
  sequence.Begin(true);
  sequence.Begin(false);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(fake::Log().quit_calls, 1);
}

TEST(ExitSequence, WaitsForTheBrowserToCloseAndTheSaveToFinish) {
  fake::Log() = {};
  bool closedAndSaved = false;
  int closes = 0;
  ExitSequence sequence([&] { ++closes; }, [&] { return closedAndSaved; });
  sequence.Begin(true);
  EXPECT_EQ(closes, 1);
  for (int i = 0; i < 5; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(fake::Log().quit_calls, 0);
  // The save completes in one of the loop's dispatches.
  g_idle_add([](gpointer flag) -> gboolean {
    *static_cast<bool*>(flag) = true;
    return G_SOURCE_REMOVE;
  }, &closedAndSaved);
  EXPECT_TRUE(IterateUntil([] { return fake::Log().quit_calls > 0; }, std::chrono::seconds(2)));
  // Done: the three-second bound no longer ends anything.
  IterateUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(fake::Log().quit_calls, 1);
}

TEST(ExitSequence, GivesUpOnASaveThatNeverEnds) {
  fake::Log() = {};
  const auto bound = std::chrono::milliseconds(100);
  ExitSequence sequence([] {}, [] { return false; }, bound);
  const auto start = std::chrono::steady_clock::now();
  sequence.Begin(true);
  EXPECT_TRUE(IterateUntil([] { return fake::Log().quit_calls > 0; }, std::chrono::seconds(5)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, bound);
  IterateUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(fake::Log().quit_calls, 1);
  EXPECT_EQ(ExitSequence::kCookieSaveWait, std::chrono::milliseconds(3000));
}

}  // namespace
