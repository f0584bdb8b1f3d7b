#include "window/auto_hide.h"

AutoHideAction AutoHideTick(AutoHideState& state, bool pointerInHotStrip) {
  AutoHideAction action = AutoHideAction::Stay;
  if (state.toolbarHidden) {
    if (pointerInHotStrip) {
      if (state.showTicks > 5) {
        action = AutoHideAction::Show;
        state.hideTicks = 0;
        state.toolbarHidden = false;
      }
      ++state.showTicks;
    }
  } else {
    if (state.hideTicks > 50) {
      action = AutoHideAction::Hide;
      state.toolbarHidden = true;
      state.showTicks = 0;
    }
    ++state.hideTicks;
  }
  return action;
}

bool InHotStrip(int x, int y, int allocationX, int allocationY, int allocationWidth) {
  return allocationX <= x && x <= allocationX + allocationWidth && allocationY <= y &&
         y <= allocationY + 10;
}
