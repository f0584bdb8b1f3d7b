#include "window/auto_hide.h"

#include <gtest/gtest.h>

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

}  // namespace
