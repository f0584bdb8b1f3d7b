// The WebKit adapter's translation of GDK keys into the port's key codes.
// A pure function: no display or web process needed.
#include "engine/webkit/webkit_keys.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

namespace {

using engine::webkit::WindowsKeyCode;

TEST(WebKitTranslate, KeyCodesFollowTheWindowsTable) {
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_a), 'A');
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_Z), 'Z');
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_7), '7');
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_F1), 112);
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_F12), 123);
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_KP_5), 101);
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_ISO_Left_Tab), 9);
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_KP_Enter), 13);
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_Meta_R), 18);
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_apostrophe), 222);
  EXPECT_EQ(WindowsKeyCode(GDK_KEY_eacute), 0);
}

}  // namespace
