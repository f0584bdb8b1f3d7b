// What the on-screen keyboard shows and how tall it is: pure, so that unit
// tests reach it.
#pragma once

#include <string>

namespace vkx {

// The keyboard's height in a window of that size: about a third of the
// width (the layout's proportions), at most 40% of the height, at least
// 120 pixels where the window has room for it.
int KeyboardHeightFor(int windowWidth, int windowHeight);

// The program's layout: letters, digits, punctuation, Shift, Caps Lock,
// Tab, Return, Backspace, space and the arrows. No Ctrl, Alt, Super,
// Escape or function keys, no menus, settings or quit buttons.
std::string KioskKeyboardLayout();

}  // namespace vkx
