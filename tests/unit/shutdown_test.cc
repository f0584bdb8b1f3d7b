#include "app/shutdown.h"

#include <gtest/gtest.h>

#include <chrono>

#include "fake_engine.h"

namespace {

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
