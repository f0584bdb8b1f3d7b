// The toolbar's auto-hide arithmetic, one call per 100 ms tick.
#pragma once

struct AutoHideState {
  bool toolbarHidden = false;
  int hideTicks = 0;
  int showTicks = 0;
};

enum class AutoHideAction { Stay, Hide, Show };

// A shown toolbar hides on the 52nd tick; a hidden one comes back on the 7th
// tick with the pointer in the hot strip (ticks need not be consecutive).
AutoHideAction AutoHideTick(AutoHideState& state, bool pointerInHotStrip);

// The hot strip: the top 11 rows (0 to 10) across the allocation, bounds inclusive.
bool InHotStrip(int x, int y, int allocationX, int allocationY, int allocationWidth);
