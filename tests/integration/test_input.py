"""What the kiosk does with input and stop requests: keys that reach the host
window, the toolbar's Quit button and auto-hide, and SIGTERM."""

import signal
import time

import vkxtest
from vkxtest import KioskTestCase, solid_page

PAGE_COLOUR = (40, 140, 90)
SHOWN, HIDDEN = 40, 10


class KeyAndSignalTest(KioskTestCase):

    def test_key_press_on_host_then_sigterm(self):
        kiosk = self.start_kiosk_with_page(solid_page(PAGE_COLOUR), enableToolbar="false")
        host = self.x.find_host_window()
        kiosk.wait_for_line("^Page loaded")
        helpers = kiosk.wait_for_helpers()

        # Keys go to the pointer's window when it is inside the focus window:
        # keep the pointer off the kiosk so the host window itself gets them.
        self.x.move_pointer(5, 5)
        focus = self.xhelper().focus_keys(host, "ctrl+c")
        self.assertEqual(focus, host)
        kiosk.wait_for_line(r"^KeyPress: 99/4$")  # XK_c with ControlMask
        # The kiosk hands the focus on to the page.
        windows = self.x.kiosk_windows(host)
        vkxtest.wait_until(lambda: self.x.focused_window() == windows["engine"], 5,
                           what="the focus to move to the engine's window")

        sent = time.monotonic()
        kiosk.signal(signal.SIGTERM)
        shutdown = kiosk.wait_for_line(r"^force shutdown\.\.\.$")
        self.assertGreaterEqual(shutdown.t, sent)
        self.assertEqual(kiosk.wait_exit(10), -9, kiosk.describe())
        self.assertNotIn("Close button pressed. Exiting...", kiosk.lines())
        if vkxtest.become_subreaper():
            self.assertEqual(vkxtest.unkilled_helpers(helpers), {}, f"helpers: {helpers}")


class ToolbarTest(KioskTestCase):

    def test_quit_button_without_auto_hide(self):
        kiosk = self.start_kiosk_with_page(solid_page(PAGE_COLOUR), enableToolbar="true",
                                           enableAutoHide="false")
        host = self.x.find_host_window()
        kiosk.wait_for_line("^Page loaded")
        windows = self.x.kiosk_windows(host)
        browser = self.x.wait_for_geometry(windows["browser"], lambda g: g.y == SHOWN)
        # Without auto-hide the toolbar is still there well after a hide would come.
        time.sleep(max(0.0, kiosk.start_time + 6.0 - time.monotonic()))
        self.assertEqual(self.x.geometry(windows["browser"]).y, SHOWN)

        # "Quit" is the last button, at the right end of the strip.
        host_geometry = self.x.geometry(host)
        before = len(kiosk.lines())
        self.x.click(host_geometry.abs_x + browser.width - 25, host_geometry.abs_y + SHOWN // 2)
        kiosk.wait_for_line(r"^force shutdown\.\.\.$", timeout=10, start=before)
        self.assertEqual(kiosk.wait_exit(10), -9, kiosk.describe())
        # The button says nothing of its own: the shutdown line comes first.
        self.assertEqual(kiosk.lines()[before:], ["force shutdown..."])

    def test_auto_hide(self):
        kiosk = self.start_kiosk_with_page(solid_page(PAGE_COLOUR), enableToolbar="true",
                                           enableAutoHide="true", height=700)
        host = self.x.find_host_window()
        host_geometry = self.x.geometry(host)
        # Pointer on the page, away from the top strip.
        self.x.move_pointer(host_geometry.abs_x + 300, host_geometry.abs_y + 300)
        # The strip is made before the browser's area: until both are there,
        # the strip would pass for the larger child.
        windows = vkxtest.wait_until(
            lambda: (lambda w: w if w["engine"] and w["toolbar"] else None)(
                self.x.kiosk_windows(host)),
            10, what="the toolbar, browser and engine windows")
        watch = self.watch(windows["browser"])
        first = watch.changes()[0]
        self.assertEqual(first["y"], SHOWN, first)

        hidden = watch.wait_for(lambda e: e["y"] == HIDDEN, timeout=12)
        after_start = hidden["t"] - kiosk.start_time
        self.assertGreaterEqual(after_start, 4.5, f"hidden {after_start:.2f} s after start")
        self.assertLessEqual(after_start, 10.0, f"hidden {after_start:.2f} s after start")
        # The page takes the strip it left.
        watch.wait_for(lambda e: (e["y"], e["height"]) == (HIDDEN, 700 - HIDDEN))
        self.x.wait_for_geometry(windows["engine"], lambda g: g.height == 700 - HIDDEN)
        shown = [e for e in watch.changes() if e["t"] > hidden["t"] and e["y"] == SHOWN]
        self.assertEqual(shown, [], "shown again with the pointer away from the strip")

        # A resize while hidden keeps the page below the narrow strip.
        self.x.resize(host, 900, 650)
        watch.wait_for(lambda e: (e["x"], e["y"], e["width"], e["height"]) ==
                       (0, HIDDEN, 900, 650 - HIDDEN))
        self.x.wait_for_geometry(windows["engine"], lambda g: g.size == (900, 650 - HIDDEN))
        self.x.wait_for_geometry(windows["toolbar"], lambda g: (g.y, g.width, g.height) ==
                                 (0, 900, HIDDEN))

        # The pointer resting just below the strip brings nothing back...
        self.x.move_pointer(host_geometry.abs_x + 300, host_geometry.abs_y + HIDDEN + 20)
        time.sleep(1.2)
        self.assertEqual(self.x.geometry(windows["browser"]).y, HIDDEN)
        # ...resting in it (rows 0 to 10 of the host window) does.
        entered = time.monotonic()
        self.x.move_pointer(host_geometry.abs_x + 300, host_geometry.abs_y + 5)
        back = watch.wait_for(lambda e: e["t"] > entered and e["y"] == SHOWN, timeout=5)
        rest = back["t"] - entered
        self.assertGreaterEqual(rest, 0.4, f"shown {rest:.2f} s after the pointer came")
        self.assertLessEqual(rest, 2.5, f"shown {rest:.2f} s after the pointer came")
        watch.wait_for(lambda e: (e["y"], e["height"]) == (SHOWN, 650 - SHOWN))


if __name__ == "__main__":
    vkxtest.main()
