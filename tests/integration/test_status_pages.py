"""The kiosk's own status page in place of the engine's error pages: while
the start page's server is away, and while a certificate the kiosk refuses
stands in the way; the page and the window title say what the kiosk waits
for, and the real page replaces it without anyone touching the kiosk."""

import re
import time

import vkxtest
from vkxtest import (CertificateAuthority, HttpsServer, KioskTestCase, LateServer, solid_page,
                     wait_for_page, wait_until)

PAGE_COLOUR = (20, 120, 60)
STATUS_BACKGROUND = (228, 228, 228)
STATUS_TEXT = (34, 34, 34)
PAGE = solid_page(PAGE_COLOUR, title="Portal")


class StatusPageTest(KioskTestCase):

    def title(self, host):
        values = self.x.property_values(host, "_NET_WM_NAME", "8x")
        # An empty title (between two pages) comes back as one empty item.
        return bytes(int(v, 16) for v in values if v).decode("utf-8") if values else None

    def wait_title(self, host, expected, timeout=20.0):
        try:
            wait_until(lambda: self.title(host) == expected, timeout, what=f"title {expected!r}")
        except vkxtest.WaitTimeout as error:
            raise AssertionError(f"{error}; last: {self.title(host)!r}") from None

    def test_waiting_for_the_server_until_it_comes_up(self):
        self.http.page("/portal", PAGE)
        late = LateServer(self.http)
        self.addCleanup(late.stop)
        url = late.url("/portal")
        kiosk = self.start_kiosk({"url": url, "enableToolbar": "false"})
        host = self.x.find_host_window()
        retry = re.compile(rf"^Load of {re.escape(url)} failed \(.*, error -102\): "
                           r"trying again in (\d+) ms$")
        kiosk.wait_for_line(retry.pattern, stream="stderr", timeout=30)
        self.wait_title(host, "Waiting for 127.0.0.1")

        # Readable text on a neutral background, not a blank page.
        geometry = self.x.geometry(host)
        area = (geometry.abs_x, geometry.abs_y, geometry.width, geometry.height)
        image = self.x.wait_for_colour(area, STATUS_BACKGROUND, share=0.8)
        self.save_screenshot(image, "waiting")
        self.assertGreater(image.fraction(area, STATUS_TEXT, tolerance=40, step=2), 0.003)

        # Up once the third attempt has failed: the next one finds it.
        kiosk.wait_for_line(retry.pattern.replace(r"(\d+)", "4000"), stream="stderr",
                            timeout=30)
        late.start()
        loaded = wait_for_page(kiosk, 200, url, timeout=30)
        self.assertGreater(loaded.t, late.started_at)
        self.x.wait_for_colour(area, PAGE_COLOUR)
        self.wait_title(host, "Portal")

        # The status page neither reset the back-off nor counted as a load:
        # each failed attempt still ends with no status, as the engine's
        # error page did, and nothing more.
        delays = [int(m.group(1)) for m in map(retry.match, kiosk.lines("stderr")) if m]
        self.assertGreaterEqual(len(delays), 3, kiosk.describe())
        self.assertEqual(delays, [1000 << i for i in range(len(delays))], kiosk.describe())
        self.assertEqual([line for line in kiosk.lines() if line.startswith("Page loaded")],
                         ["Page loaded, status code: 0"] * len(delays) +
                         ["Page loaded, status code: 200"])
        self.assertEqual(kiosk.lines().count(vkxtest.CONFIG_HEADER), 1)

    def test_refused_certificate_until_the_configuration_accepts_it(self):
        ca = CertificateAuthority(self.workdir)
        server = HttpsServer(*ca.self_signed_server("localhost"))
        self.addCleanup(server.stop)
        server.page("/", PAGE)
        url = server.url("/")
        config = {"url": url, "enableToolbar": "false", "acceptCertError": "false"}
        kiosk = self.start_kiosk(config)
        host = self.x.find_host_window()
        self.wait_title(host, "Certificate refused: localhost", timeout=30)
        refused_at = time.monotonic()
        self.assertEqual(server.requests(), [])
        self.assertIn("ValidateWithOpenSSL, result: 0", kiosk.lines("stderr"))

        # The file changes; nobody touches the kiosk. The next attempt, a
        # minute after the refusal, reads it.
        config["acceptCertError"] = "true"
        with open(kiosk.config_path, "w", encoding="utf-8") as out:
            out.write("".join(f"{k}={v}\n" for k, v in config.items()))
        loaded = wait_for_page(kiosk, 200, url, timeout=75)
        self.assertLess(loaded.t - refused_at, 70)
        self.wait_title(host, "Portal")
        self.assertEqual(len(server.requests("/")), 1)
        self.assertTrue(kiosk.alive(), kiosk.describe())
        self.assertEqual(kiosk.lines().count(vkxtest.CONFIG_HEADER), 1)

    def test_in_the_first_accepted_language(self):
        late = LateServer(self.http)
        self.addCleanup(late.stop)
        kiosk = self.start_kiosk({"url": late.url("/"), "enableToolbar": "false",
                                  "acceptLanguageList": "de-DE,en;q=0.8"})
        self.wait_title(self.x.find_host_window(), "Warten auf 127.0.0.1", timeout=30)
        self.assertTrue(kiosk.alive(), kiosk.describe())


if __name__ == "__main__":
    vkxtest.main()
