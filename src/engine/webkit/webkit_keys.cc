#include "engine/webkit/webkit_keys.h"

#include <gdk/gdkkeysyms.h>

namespace engine::webkit {

namespace {

// Keys outside the letter, digit and function key ranges.
int OtherKeyCode(guint keyval) {
  switch (keyval) {
    case GDK_KEY_BackSpace: return 8;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return 9;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: return 13;
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return 16;
    case GDK_KEY_Control_L: case GDK_KEY_Control_R: return 17;
    case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R: return 18;
    case GDK_KEY_Pause: return 19;
    case GDK_KEY_Caps_Lock: return 20;
    case GDK_KEY_Escape: return 27;
    case GDK_KEY_space: return 32;
    case GDK_KEY_Page_Up: return 33;
    case GDK_KEY_Page_Down: return 34;
    case GDK_KEY_End: return 35;
    case GDK_KEY_Home: return 36;
    case GDK_KEY_Left: return 37;
    case GDK_KEY_Up: return 38;
    case GDK_KEY_Right: return 39;
    case GDK_KEY_Down: return 40;
    case GDK_KEY_Print: return 44;
    case GDK_KEY_Insert: return 45;
    case GDK_KEY_Delete: return 46;
    case GDK_KEY_Super_L: return 91;
    case GDK_KEY_Super_R: return 92;
    case GDK_KEY_Menu: return 93;
    case GDK_KEY_semicolon: return 186;
    case GDK_KEY_equal: return 187;
    case GDK_KEY_comma: return 188;
    case GDK_KEY_minus: return 189;
    case GDK_KEY_period: return 190;
    case GDK_KEY_slash: return 191;
    case GDK_KEY_grave: return 192;
    case GDK_KEY_bracketleft: return 219;
    case GDK_KEY_backslash: return 220;
    case GDK_KEY_bracketright: return 221;
    case GDK_KEY_apostrophe: return 222;
    default: return 0;
  }
}

}  // namespace

int WindowsKeyCode(guint keyval) {
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return static_cast<int>(keyval - GDK_KEY_a) + 'A';
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return static_cast<int>(keyval);
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<int>(keyval);
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return static_cast<int>(keyval - GDK_KEY_F1) + 112;
  if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return static_cast<int>(keyval - GDK_KEY_KP_0) + 96;
  return OtherKeyCode(keyval);
}

KeyEvent ToKeyEvent(const GdkEventKey* event) {
  // The unshifted key value of the physical key: Shift+1 is still the 1 key.
  guint keyval = event->keyval;
  gdk_keymap_translate_keyboard_state(gdk_keymap_get_for_display(gdk_display_get_default()),
                                      event->hardware_keycode, static_cast<GdkModifierType>(0),
                                      event->group, &keyval, nullptr, nullptr, nullptr);
  KeyEvent key;
  key.type = event->type == GDK_KEY_PRESS ? KeyEventType::RawKeyDown : KeyEventType::KeyUp;
  if (event->state & GDK_SHIFT_MASK) key.modifiers |= EVENTFLAG_SHIFT_DOWN;
  if (event->state & GDK_CONTROL_MASK) key.modifiers |= EVENTFLAG_CONTROL_DOWN;
  if (event->state & GDK_MOD1_MASK) key.modifiers |= EVENTFLAG_ALT_DOWN;
  key.windows_key_code = WindowsKeyCode(keyval);
  key.native_key_code = event->hardware_keycode;
  key.character = gdk_keyval_to_unicode(event->keyval);
  return key;
}

}  // namespace engine::webkit
