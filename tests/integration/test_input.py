"""What the kiosk does with input and stop requests: keys that reach the host
window, the toolbar's Quit button and auto-hide, SIGTERM, and the on-screen
keyboard."""

import os
import shutil
import signal
import time
import unittest

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


# A field at the bottom of the page that reports its value and, after each
# resize, where its bottom edge is; a second page to go to.
FIELD_PAGE = """<!doctype html><html><body style="margin:0;height:100vh">
<a href="/next" style="position:absolute;top:0;left:0;width:200px;height:100px">next</a>
<input id="f" style="position:absolute;bottom:8px;left:20px;width:300px;height:30px">
<script>
var f = document.getElementById('f');
f.addEventListener('input', function() { console.log('value ' + f.value); });
window.addEventListener('resize', function() {
  setTimeout(function() {
    console.log('field bottom ' + Math.round(f.getBoundingClientRect().bottom));
  }, 300);
});
</script></body></html>"""
# Where keys of the kiosk's layout sit, as shares of the strip's size.
KEY_Q, KEY_W = (0.143, 0.306), (0.209, 0.306)


@unittest.skipUnless(shutil.which("onboard"), "onboard is not installed")
class OnScreenKeyboardTest(KioskTestCase):

    window_manager = ("openbox", "--sm-disable")

    def start(self, **config):
        self.http.page("/next", "<!doctype html><p>next page</p>")
        kiosk = self.start_kiosk_with_page(FIELD_PAGE, displayMode="fullscreen",
                                           enableAutoHide="false", **config)
        host = self.x.find_host_window()
        kiosk.wait_for_line("^Page loaded")
        self.x.wait_for_geometry(host, lambda g: g.height == vkxtest.SCREEN_HEIGHT)
        return kiosk, host

    def test_shown_for_a_field_typed_into_hidden_after(self):
        kiosk, host = self.start(onScreenKeyboard="true")
        managed = self.x.shown_windows()
        strip = vkxtest.wait_until(lambda: self.x.kiosk_windows(host)["keyboard"], 10,
                                   what="the keyboard's strip in the host window")
        watch = self.watch(strip)
        self.assertEqual(self.x.geometry(strip).map_state, "IsUnMapped")

        def click_field():
            clicked = time.monotonic()
            self.x.click(40, vkxtest.SCREEN_HEIGHT - 20)
            shown = watch.wait_for_event(
                lambda e: e["event"] == "MapNotify" and e["t"] > clicked, timeout=5)
            self.assertLess(shown["t"] - clicked, 1.0)

        click_field()
        keyboard = self.x.geometry(strip)
        self.assertEqual((keyboard.x, keyboard.width, keyboard.y + keyboard.height),
                         (0, vkxtest.SCREEN_WIDTH, vkxtest.SCREEN_HEIGHT))
        self.assertEqual(self.x.shown_windows(), managed, "a window of its own")
        # The page's area ends at the keyboard, and the field is above it.
        browser = self.x.kiosk_windows(host)["browser"]
        area = self.x.wait_for_geometry(browser, lambda g: g.y + g.height <= keyboard.y)
        bottom = int(kiosk.wait_for_line(r"^>> field bottom (\d+) ").match.group(1))
        self.assertLessEqual(area.y + bottom, keyboard.y)
        self.save_screenshot(self.x.screenshot(), "keyboard")

        # Its keys type into the field, as keys through the key policy.
        for share in (KEY_Q, KEY_W):
            self.x.click(int(keyboard.width * share[0]),
                         keyboard.y + int(keyboard.height * share[1]))
        kiosk.wait_for_line(r"^>> value qw ")
        kiosk.wait_for_line(r"^OnPreKeyEvent - Ctrl: 0, Alt:0, K:87$")

        # A click beside the field hides it; so does another page.
        def hidden_after(action):
            acted = time.monotonic()
            action()
            hidden = watch.wait_for_event(
                lambda e: e["event"] == "UnmapNotify" and e["t"] > acted, timeout=5)
            self.assertLess(hidden["t"] - acted, 1.0)

        hidden_after(lambda: self.x.click(600, 300))
        click_field()
        hidden_after(lambda: self.x.click(100, 90))
        kiosk.wait_for_line("^URL: .*/next$")
        self.x.wait_for_geometry(browser, lambda g: g.y + g.height == vkxtest.SCREEN_HEIGHT)

    def test_nothing_without_the_key_or_the_program(self):
        fake = os.path.join(self.workdir, "bin")
        os.mkdir(fake)
        with open(os.path.join(fake, "onboard"), "w") as script:
            script.write("#!/bin/sh\nexit 3\n")
        os.chmod(os.path.join(fake, "onboard"), 0o755)
        for config, env in (({}, None),
                            ({"onScreenKeyboard": "true"},
                             {"PATH": fake + os.pathsep + os.environ["PATH"]})):
            kiosk = self.start_kiosk(dict(url=self.http.page("/", FIELD_PAGE),
                                          displayMode="fullscreen", **config), env=env)
            host = self.x.find_host_window()
            kiosk.wait_for_line("^Page loaded")
            if config:
                kiosk.wait_for_line(r"^On-screen keyboard unavailable: onboard ended \(status 3\)$",
                                    stream="stderr")
            self.x.click(40, vkxtest.SCREEN_HEIGHT - 20)
            time.sleep(1.5)
            strip = self.x.kiosk_windows(host)["keyboard"]
            self.assertTrue(strip is None or self.x.geometry(strip).map_state == "IsUnMapped")
            kiosk.stop()


if __name__ == "__main__":
    vkxtest.main()
