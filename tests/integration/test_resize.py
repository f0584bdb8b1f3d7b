"""A resized host window resizes the browser window below the toolbar strip,
and the engine's window and page follow."""

import vkxtest
from vkxtest import KioskTestCase, solid_page

PAGE_COLOUR = (200, 90, 20)


class ResizeTest(KioskTestCase):

    def resize_and_check(self, toolbar, strip):
        kiosk = self.start_kiosk_with_page(solid_page(PAGE_COLOUR), enableToolbar=toolbar,
                                           enableAutoHide="false")
        host = self.x.find_host_window()
        kiosk.wait_for_line("^Page loaded")
        windows = self.x.kiosk_windows(host)
        self.assertEqual(windows["toolbar"] is not None, toolbar == "true", windows)

        for width, height in ((640, 480), (1000, 900)):
            with self.subTest(size=(width, height)):
                self.x.resize(host, width, height)
                self.x.wait_for_geometry(host, lambda g: g.size == (width, height))
                browser = self.x.wait_for_geometry(
                    windows["browser"],
                    lambda g: (g.x, g.y, g.width, g.height) == (0, strip, width, height - strip),
                    what=f"the browser window at 0,{strip} {width}x{height - strip}")
                engine = vkxtest.wait_until(
                    lambda: self.x.kiosk_windows(host)["engine"], 5, what="the engine window")
                self.x.wait_for_geometry(
                    engine, lambda g: g.size == (width, height - strip),
                    what=f"the engine window {width}x{height - strip}")
                if windows["toolbar"]:
                    self.x.wait_for_geometry(
                        windows["toolbar"], lambda g: (g.x, g.y, g.width, g.height) ==
                        (0, 0, width, strip), what="the toolbar strip across the top")
                # The page is laid out again: its colour reaches the far corner.
                self.x.wait_for_colour((browser.abs_x + width - 60,
                                        browser.abs_y + height - strip - 60, 40, 40),
                                       PAGE_COLOUR)

    def test_without_toolbar(self):
        self.resize_and_check("false", 0)

    def test_with_toolbar(self):
        self.resize_and_check("true", 40)


if __name__ == "__main__":
    vkxtest.main()
