"""displayMode: the _NET_WM_STATE request the kiosk sends a second after it
starts, as a recording window manager sees it, and what openbox makes of it."""

import time

import vkxtest
from vkxtest import KioskTestCase, solid_page

PAGE_COLOUR = (120, 30, 160)
# Generous bounds around the one-second delay, for a loaded machine.
EARLIEST = 0.8
LATEST = 4.0


class RecordedRequestTest(KioskTestCase):
    """xhelper plays the window manager and records the client messages."""

    def run_kiosk(self, display_mode):
        """Starts the kiosk in display_mode under the recorder and returns
        (kiosk, recorder, host window, time the host window was mapped)."""
        recorder = self.record_wm()
        kiosk = self.start_kiosk_with_page(solid_page(PAGE_COLOUR), displayMode=display_mode,
                                           enableToolbar="false")
        mapped = recorder.wait_for_event(lambda e: e["event"] == "MapRequest")
        host = int(mapped["window"], 16)
        self.assertEqual(self.x.find_host_window(), host)
        return kiosk, recorder, host, mapped["t"]

    def wait_past_request(self, mapped_at, settle=1.5):
        time.sleep(max(0.0, mapped_at + 1.0 + settle - time.monotonic()))

    def assert_one_request(self, recorder, host, mapped_at, atoms):
        """Checks that exactly one _NET_WM_STATE message came for host, about
        a second after it was mapped: add (1) the two atoms (None: 0)."""
        first = recorder.wait_for_event(
            lambda e: e["event"] == "ClientMessage" and e["type"] == "_NET_WM_STATE"
            and int(e["window"], 16) == host, timeout=LATEST + 2)
        delay = first["t"] - mapped_at
        self.assertGreaterEqual(delay, EARLIEST, f"sent {delay:.2f} s after the window appeared")
        self.assertLessEqual(delay, LATEST, f"sent {delay:.2f} s after the window appeared")
        # Time for a second one to show up.
        time.sleep(max(0.0, first["t"] + 1.5 - time.monotonic()))
        recorder.sync()
        messages = recorder.client_messages("_NET_WM_STATE", host)
        self.assertEqual(len(messages), 1, messages)
        message = messages[0]
        self.assertEqual(message["format"], 32)
        self.assertEqual(message["data"][0], 1)  # _NET_WM_STATE_ADD
        self.assertEqual(message["atoms"][1:3], atoms, message)
        self.assertEqual(message["data"][3:], [0, 0], message)
        return message

    def test_fullscreen(self):
        kiosk, recorder, host, mapped_at = self.run_kiosk("fullscreen")
        message = self.assert_one_request(
            recorder, host, mapped_at, ["_NET_WM_STATE_FULLSCREEN", None])
        self.assertEqual(message["data"][2], 0)
        kiosk.wait_for_line("^SetFullscreen$")
        self.assertIn("Display Mode: 2", kiosk.lines())

    def test_maximized(self):
        kiosk, recorder, host, mapped_at = self.run_kiosk("maximized")
        message = self.assert_one_request(
            recorder, host, mapped_at,
            ["_NET_WM_STATE_MAXIMIZED_HORZ", "_NET_WM_STATE_MAXIMIZED_VERT"])
        # The two atoms are printed as numbers, horizontal first.
        horizontal = kiosk.wait_for_line(rf"^{message['data'][1]}$")
        vertical = kiosk.wait_for_line(rf"^{message['data'][2]}$")
        self.assertEqual(vertical.index, horizontal.index + 1)
        self.assertIn("Display Mode: 1", kiosk.lines())
        self.assertNotIn("SetFullscreen", kiosk.lines())

    def test_window(self):
        kiosk, recorder, host, mapped_at = self.run_kiosk("window")
        kiosk.wait_for_line("^Page loaded")
        self.wait_past_request(mapped_at, settle=1.5)
        recorder.sync()
        self.assertEqual(recorder.client_messages("_NET_WM_STATE", host), [])
        # Nor does any other window of the kiosk ask for a state.
        added = [m for m in recorder.client_messages("_NET_WM_STATE") if m["data"][0] == 1]
        self.assertEqual(added, [])
        self.assertIn("Display Mode: 0", kiosk.lines())
        self.assertNotIn("SetFullscreen", kiosk.lines())
        self.assertEqual(self.x.geometry(host).size, (800, 600))


class OpenboxTest(KioskTestCase):
    """Under a real window manager the request takes effect."""

    window_manager = ("openbox", "--sm-disable")

    def browser_follows(self, host, strip):
        host_geometry = self.x.geometry(host)
        windows = self.x.kiosk_windows(host)
        self.x.wait_for_geometry(
            windows["browser"],
            lambda g: (g.y, g.width, g.height) ==
            (strip, host_geometry.width, host_geometry.height - strip),
            what="the browser window to fill the host window below the toolbar")

    def test_fullscreen_covers_the_screen(self):
        kiosk = self.start_kiosk_with_page(solid_page(PAGE_COLOUR), displayMode="fullscreen",
                                           enableAutoHide="false")
        host = self.x.find_host_window()
        kiosk.wait_for_line("^SetFullscreen$", timeout=LATEST + 2)
        self.x.wait_for_geometry(
            host, lambda g: (g.abs_x, g.abs_y, g.width, g.height) ==
            (0, 0, vkxtest.SCREEN_WIDTH, vkxtest.SCREEN_HEIGHT),
            what="the host window to cover the screen")
        self.assertIn("_NET_WM_STATE_FULLSCREEN",
                      self.x.property_values(host, "_NET_WM_STATE", "32a") or [])
        self.browser_follows(host, 40)

    def test_maximized_fills_the_work_area(self):
        kiosk = self.start_kiosk_with_page(solid_page(PAGE_COLOUR), displayMode="maximized",
                                           enableAutoHide="false")
        host = self.x.find_host_window()
        kiosk.wait_for_line(r"^\d+$", timeout=LATEST + 2)
        vkxtest.wait_until(
            lambda: {"_NET_WM_STATE_MAXIMIZED_HORZ", "_NET_WM_STATE_MAXIMIZED_VERT"} <=
            set(self.x.property_values(host, "_NET_WM_STATE", "32a") or []),
            LATEST, what="the maximized state")
        area_x, area_y, area_w, area_h = (
            int(v) for v in self.x.root_property_values("_NET_WORKAREA", "32c")[:4])
        left, right, top, bottom = (
            int(v) for v in self.x.property_values(host, "_NET_FRAME_EXTENTS", "32c"))
        self.x.wait_for_geometry(
            host, lambda g: (g.abs_x - left, g.abs_y - top, g.width + left + right,
                             g.height + top + bottom) == (area_x, area_y, area_w, area_h),
            what=f"the framed host window to fill the work area "
                 f"{area_w}x{area_h}+{area_x}+{area_y} (frame {left},{right},{top},{bottom})")
        self.browser_follows(host, 40)


if __name__ == "__main__":
    vkxtest.main()
