#include "window/auto_hide.h"
#include "window/keyboard_layout.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

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

// The on-screen keyboard types text and nothing else: no key that could
// make a shortcut or reach the keyboard program's own menus.
TEST(OnScreenKeyboard, LayoutHasTextKeysOnlyAndFitsTheWindow) {
  const std::string layout = vkx::KioskKeyboardLayout();
  std::set<std::string> keys;
  const std::regex key(R"re(<key [^>]*id="([^"]+)")re");
  for (auto it = std::sregex_iterator(layout.begin(), layout.end(), key);
       it != std::sregex_iterator(); ++it) {
    keys.insert((*it)[1]);
  }
  const std::set<std::string> others = {"CAPS", "LFSH", "RTSH", "SPCE", "BKSP",
                                        "TAB",  "RTRN", "LEFT", "RGHT"};
  const std::regex text_key("(AE|AD|AC|AB)(0[1-9]|1[0-2])|TLDE|BKSL|LSGT");
  int text_keys = 0;
  for (const std::string& id : keys) {
    if (std::regex_match(id, text_key)) {
      ++text_keys;
    } else {
      EXPECT_TRUE(others.contains(id)) << id;
    }
  }
  EXPECT_EQ(text_keys, 48);
  EXPECT_EQ(layout.find("word_suggestions"), std::string::npos);

  struct Case {
    int width, height, expected;
  };
  for (const Case& c : {Case{1280, 1024, 409}, Case{1280, 800, 320}, Case{800, 600, 240},
                        Case{300, 200, 80}, Case{0, 0, 1}}) {
    EXPECT_EQ(vkx::KeyboardHeightFor(c.width, c.height), c.expected) << c.width << "x" << c.height;
  }
}

}  // namespace
