"""Start-up of the kiosk: the configuration dump, and the ways it refuses
to start (no display, a cache directory it cannot create)."""

import os
import unittest

import vkxtest
from vkxtest import KioskTestCase, printed_configuration


def expected_configuration(url):
    return [
        "Configuration values:",
        f"URL: {url}",
        "Display Mode: 0",
        "Cache Path: ",
        "Width: 800",
        "Height: 600",
        "Disable Keyboard Shortcuts: true",
        "Disable Context Menu: true",
        "Enable Toolbar: true",
        "Auto Hide: true",
        "End Session Key: 0",
    ]


def dead_display():
    """A display number no X server serves."""
    for number in range(4242, 4342):
        if not os.path.exists(f"/tmp/.X11-unix/X{number}") and \
                not os.path.exists(f"/tmp/.X{number}-lock"):
            return f":{number}"
    raise unittest.SkipTest("no free display number for a dead display")


class NoDisplayTest(KioskTestCase):
    """Runs that end before any window: they need no X server."""

    needs_display = False

    def test_without_config_path_or_display(self):
        # Without VKX_CONFIG_PATH the built-in defaults are printed; without a
        # display the kiosk stops right after (so it never loads the default URL).
        kiosk = self.start_kiosk(config=None, display=None)
        self.assertEqual(kiosk.wait_exit(), 1, kiosk.describe())
        self.assertEqual(printed_configuration(kiosk.lines()),
                         expected_configuration("https://www.debian.org/"))
        stderr = kiosk.lines("stderr")
        self.assertIn("Environment variable VKX_CONFIG_PATH not set.", stderr)
        self.assertIn("Cannot open display", stderr)

    def test_with_config_path_and_dead_display(self):
        url = self.http.url("/start")
        kiosk = self.start_kiosk(config={"url": url}, display=dead_display())
        self.assertEqual(kiosk.wait_exit(), 1, kiosk.describe())
        self.assertEqual(printed_configuration(kiosk.lines()), expected_configuration(url))
        stderr = kiosk.lines("stderr")
        self.assertIn("Cannot open display", stderr)
        self.assertNotIn("Environment variable VKX_CONFIG_PATH not set.", stderr)
        self.assertEqual(self.http.requests(), [])


class CachePathTest(KioskTestCase):

    def test_unwritable_cache_path_stops_the_engine(self):
        # A window manager's view shows whether a window was ever mapped.
        recorder = self.record_wm()
        url = self.http.url("/start")
        kiosk = self.start_kiosk(config={"url": url, "cachePath": "/proc/vkx-cache"})
        self.assertEqual(kiosk.wait_exit(), 255, kiosk.describe())
        self.assertIn("Cache Path: /proc/vkx-cache", kiosk.lines())
        self.assertTrue(any("/proc/vkx-cache" in line for line in kiosk.lines("stderr")),
                        kiosk.describe())
        recorder.sync()
        self.assertEqual(recorder.map_requests(), [])
        self.assertEqual(self.x.host_window_candidates(), [])
        self.assertEqual(self.http.requests(), [])


if __name__ == "__main__":
    vkxtest.main()
