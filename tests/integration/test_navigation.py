"""Navigation rules: vmware-view:// URLs go to xdg-open (a stand-in here, first
on PATH) as one argument and never load; every other navigation reads the
configuration again, which without VKX_CONFIG_PATH says so on each one.

Without VKX_CONFIG_PATH the kiosk starts on https://www.debian.org/. In a
private mount namespace that name resolves to a loopback address of this
test, and the test's root is in the engine's CA bundle, so the start page is
the test's own and nothing leaves the machine."""

import os
import random
import re
import time

import vkxtest
from vkxtest import (CertificateAuthority, HttpsServer, Kiosk, PrivateFilesTestCase,
                     PrivateSystemFiles, Response, click_at, wait_for_nth_line, wait_for_page)

START_URL = "https://www.debian.org/"
NO_CONFIG = "Environment variable VKX_CONFIG_PATH not set."
TILES = {"injection": (200, 40, 40), "redirect": (40, 160, 40), "no_slashes": (40, 40, 200)}


def stand_in_opener(folder, environment=False):
    """A stand-in xdg-open in folder/bin that writes its arguments
    (NUL-separated) to folder/calls/<its PID>, with environment followed by
    a newline and its environment (NUL-separated); returns (bin, calls)."""
    bin_dir, calls = os.path.join(folder, "bin"), os.path.join(folder, "calls")
    os.makedirs(bin_dir)
    os.makedirs(calls)
    path = os.path.join(bin_dir, "xdg-open")
    record = "printf '%s\\0' \"$@\""
    if environment:
        record = "{ " + record + "; printf '\\n'; env -0; }"
    with open(path, "w", encoding="utf-8") as out:
        out.write("#!/bin/sh\n"
                  f'call="{calls}/$$"\n'
                  f"{record} > \"$call.tmp\" && mv \"$call.tmp\" \"$call\"\n")
    os.chmod(path, 0o755)
    return bin_dir, calls


def recorded_calls(calls):
    """The argument lists of the stand-in's calls so far, sorted."""
    found = []
    for name in os.listdir(calls):
        if name.isdigit():
            with open(os.path.join(calls, name), "rb") as record:
                found.append([a.decode() for a in record.read().split(b"\0")[:-1]])
    return sorted(found)


def zombie_children(pid):
    """Children of pid that ended and were not reaped."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            info = vkxtest.read_proc(int(entry))
            if info and info.ppid == pid and info.state == "Z":
                found.append(info)
    return found


class ExternalProtocolTest(PrivateFilesTestCase):

    folder_prefix = "vkx-nav-"

    @classmethod
    def prepare_files(cls):
        ca = CertificateAuthority(cls.folder)
        cls.files = PrivateSystemFiles(cls.folder)
        cls.files.trust_in_bundle(ca.root)
        cert = ca.server("www.debian.org")
        # Port 443 on a loopback address of our own: nobody else's server.
        for attempt in range(5):
            address = "127.{}.{}.{}".format(*(random.randint(1, 254) for _ in range(3)))
            try:
                cls.https = HttpsServer(*cert, hostname="www.debian.org", host=address,
                                        port=443)
                break
            except OSError:
                if attempt == 4:
                    raise
        cls.files.map_host(address, "www.debian.org")

    @classmethod
    def tearDownClass(cls):
        cls.https.stop()
        super().tearDownClass()

    def click_tile(self, name):
        """Clicks the middle of a tile once it is on the screen."""
        engine = self.x.kiosk_windows(self.x.find_host_window())["engine"]
        page = self.x.geometry(engine)
        column = list(TILES).index(name)
        width = page.width // len(TILES)
        middle = (page.abs_x + column * width + width // 2, page.abs_y + page.height // 2)
        self.x.wait_for_colour((middle[0] - 20, middle[1] - 20, 40, 40), TILES[name])
        click_at(self.x, *middle)

    def test_vmware_view_urls_and_config_messages(self):
        canary = os.path.join(self.workdir, "pwned")
        # As the engine writes it: the space is escaped, the rest is kept.
        injection = f"vmware-view://server/desktop?x=1&y='a%20b';$(touch${{IFS}}{canary})"
        redirected = "vmware-view://server/redirected?via=302&q=';$(id)"
        framed = "vmware-view://server/framed?in=iframe"
        links = {"injection": injection.replace("%20", " "), "redirect": "/redirect",
                 "no_slashes": "vmware-view:foo"}
        tiles = "".join(
            f"<a href=\"{links[name]}\" style='flex:1;background:rgb{colour}'></a>"
            for name, colour in TILES.items())
        self.https.page("/", "<!DOCTYPE html><html><body style='margin:0'>"
                             "<div style='display:flex;position:fixed;inset:0'>" + tiles +
                             f"</div><iframe src='{framed}' style='display:none'></iframe>"
                             "</body></html>")
        self.https.route("/redirect", Response(302, headers={"Location": redirected}))
        bin_dir, calls = stand_in_opener(self.workdir)

        kiosk = Kiosk(self.workdir, self.display, None,
                      env={"PATH": bin_dir + os.pathsep + os.environ["PATH"]},
                      binary=self.files.wrap(vkxtest.kiosk_binary()))
        self.addCleanup(kiosk.stop)

        # The start page: read at start-up and again for the navigation, which
        # goes ahead. The frame's vmware-view:// URL is handed over, not loaded.
        wait_for_page(kiosk, 200, START_URL)
        self.assertEqual([r.path for r in self.https.requests()], ["/"])
        vkxtest.wait_until(lambda: recorded_calls(calls), 10, what="the opener for the frame")
        self.assertEqual(recorded_calls(calls), [[framed]])
        wait_for_nth_line(kiosk, rf"^{NO_CONFIG}$", 2, "stderr")
        self.assertEqual(kiosk.lines("stderr").count(NO_CONFIG), 2, kiosk.describe())

        def step(tile, expected_calls, settle=0.7):
            """Clicks a tile and waits for the opener's calls and a moment
            more; returns where stdout and stderr stood before the click."""
            out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
            self.click_tile(tile)
            vkxtest.wait_until(lambda: len(recorded_calls(calls)) >= expected_calls, 10,
                               what=f"the opener for the {tile} link")
            time.sleep(settle)
            self.assertEqual(len(recorded_calls(calls)), expected_calls)
            return out, err

        # One argument, byte for byte, and no shell: the canary stays unmade.
        out, err = step("injection", 2)
        self.assertEqual(recorded_calls(calls), sorted([[framed], [injection]]))
        self.assertFalse(os.path.exists(canary))
        # The page stays and the configuration is not read for it.
        self.assertEqual([line for line in kiosk.lines()[out:] if line.startswith("Page loaded")],
                         [])
        self.assertNotIn(NO_CONFIG, kiosk.lines("stderr")[err:])

        # A redirect to vmware-view://: the first leg is a navigation like any
        # other, its target goes to the opener and the page stays.
        out, err = step("redirect", 3)
        self.assertEqual(recorded_calls(calls), sorted([[framed], [injection], [redirected]]))
        self.assertEqual([r.path for r in self.https.requests()], ["/", "/redirect"])
        wait_for_nth_line(kiosk, rf"^{NO_CONFIG}$", 1, "stderr", err)
        self.assertEqual(kiosk.lines("stderr")[err:].count(NO_CONFIG), 1, kiosk.describe())
        self.assertNotIn("Page loaded, status code: 200", kiosk.lines()[out:])
        self.assertEqual({line for line in kiosk.lines()[out:] if line.startswith("URL: ")}
                         - {f"URL: {START_URL}"}, set())

        # The openers ran detached: none is left for the kiosk to reap.
        self.assertEqual(zombie_children(kiosk.pid), [])

        # Without "//" it is not the external protocol: a navigation to a
        # scheme no page may reach, refused, no opener, the page stays.
        out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
        self.click_tile("no_slashes")
        wait_for_nth_line(kiosk, r"^URL not allowed: vmware-view:foo$", 1, "stderr", err)
        wait_for_nth_line(kiosk, rf"^{NO_CONFIG}$", 1, "stderr", err)
        time.sleep(0.5)
        self.assertEqual([line for line in kiosk.lines()[out:] if line.startswith("Page loaded")],
                         [])
        self.assertEqual(len(recorded_calls(calls)), 3, recorded_calls(calls))
        self.assertEqual(kiosk.lines("stderr")[err:].count(NO_CONFIG), 1, kiosk.describe())





class AllowListTest(vkxtest.KioskTestCase):
    """urlAllowList: a location change, URLs that only look like a listed
    host, an iframe, a redirect hop and a new window to a URL that no entry
    matches are refused before any request leaves, each with one line; the
    listed start page loads and stays."""

    def test_other_server_is_never_reached(self):
        other = vkxtest.HttpServer()
        self.addCleanup(other.stop)
        target = other.page("/", vkxtest.solid_page((200, 0, 0)))
        port = other.port
        # Refused by their parsed host, before any name is looked up.
        tricks = {"user information": f"http://portal.example.test@127.0.0.1:{port}/",
                  "a longer name": "http://portal.example.test.evil.test/",
                  "a name that ends alike": "http://evilportal.example.test/"}
        self.http.route("/allow-hop", Response(status=302, headers={"Location": target}))
        steps = [target, *tricks.values(), "/allow-hop"]
        colour = (70, 110, 150)
        start = self.http.page("/allow-list", (
            "<!DOCTYPE html><html><body style='margin:0'>"
            f"<a href='{target}' target='_blank' style='position:fixed;inset:0;"
            f"background:rgb{colour}'></a><iframe src='{other.url('/frame')}'></iframe><script>"
            f"{steps!r}.forEach((u, i) => setTimeout(() => {{ location.href = u; }}, 300 * i));"
            "</script></body></html>"))
        kiosk = self.start_kiosk({"url": start, "enableToolbar": "false",
                                  "urlAllowList": f" portal.example.test , 127.0.0.1:{self.http.port}/allow "})
        refused = r"^URL not allowed: "
        # The iframe, the location change, the three tricks, the redirect hop.
        wait_for_nth_line(kiosk, refused, 6, "stderr", timeout=20)
        self.http.wait_for_request("/allow-hop")
        host = self.x.geometry(self.x.find_host_window())
        middle = (host.abs_x + host.width // 2, host.abs_y + host.height // 2)
        self.x.wait_for_colour((middle[0] - 20, middle[1] - 20, 40, 40), colour)
        click_at(self.x, *middle)  # a new window
        wait_for_nth_line(kiosk, refused, 7, "stderr")
        lines = [line for line in kiosk.lines("stderr") if re.match(refused, line)]
        for what, url in tricks.items():
            host_part = url.split("//", 1)[1].rstrip("/")
            self.assertTrue([line for line in lines if host_part in line], (what, lines))
        self.assertIn(f"URL not allowed: {other.url('/frame')}", lines)
        self.assertEqual(lines.count(f"URL not allowed: {target}"), 3, lines)  # change, hop, window
        self.assertEqual(other.requests(), [])
        self.assertNotIn("INI written to:", " ".join(kiosk.lines()))
        self.assertIn(f"URL: {start}", kiosk.lines())


class DeploymentControlsTest(vkxtest.KioskTestCase):
    """idleTimeout: the start page comes back after that long without input,
    not while a person uses the page, and not again while it stands.
    zoomLevel: every page is zoomed. hideCursor: no pointer over the window."""

    def test_pages_are_zoomed(self):
        report = ("<!DOCTYPE html><html><body><script>addEventListener('load', () =>"
                  " fetch('/zoom-width?w=' + innerWidth));</script></body></html>")
        url = self.http.page("/zoomed", report)
        kiosk = self.start_kiosk({"url": url, "enableToolbar": "false", "width": "800",
                                  "zoomLevel": "2"})
        request = self.http.wait_for_request("/zoom-width", timeout=20)
        self.assertAlmostEqual(int(request.path.split("w=")[1]), 400, delta=2)
        self.assertTrue(kiosk.alive())

    def test_hidden_pointer_over_page_and_toolbar(self):
        # The page asks for a cursor of its own everywhere; the screen's
        # default cursor beside the window shows that images are read.
        url = self.http.page("/cursor", vkxtest.solid_page(
            (30, 90, 30), body="<style>*{cursor:crosshair !important}</style>"))
        kiosk = self.start_kiosk({"url": url, "enableToolbar": "true", "enableAutoHide": "false",
                                  "hideCursor": "true"})
        wait_for_page(kiosk, 200, url)
        host = self.x.geometry(self.x.find_host_window())
        xhelper = self.xhelper()
        self.x.move_pointer(host.abs_x + host.width + 20, host.abs_y + 5)
        self.assertGreater(xhelper.cursor_alpha(), 0)
        for x, y in [(100, 200), (300, 300), (host.width - 30, 20), (100, host.height - 20)]:
            self.x.move_pointer(host.abs_x + x, host.abs_y + y)
            time.sleep(0.3)
            self.assertEqual(xhelper.cursor_alpha(), 0, (x, y))
        self.assertTrue(kiosk.alive())

    def test_every_request_goes_through_the_proxy(self):
        # The proxy answers by itself: the page's host exists nowhere else.
        proxy = vkxtest.HttpServer()
        self.addCleanup(proxy.stop)
        page = "http://kiosk-behind-proxy.invalid/"
        proxy.route(page, Response(body=b"<!DOCTYPE html><html><body><img src='/pixel.png'></body></html>"))
        proxy.route(page + "pixel.png", Response(body=b"", content_type="image/png"))
        kiosk = self.start_kiosk({"url": page, "enableToolbar": "false",
                                  "proxy": f"http://127.0.0.1:{proxy.port}",
                                  "proxyIgnoreHosts": "localhost, direct.invalid"})
        wait_for_page(kiosk, 200, page, timeout=20)
        proxy.wait_for_request(page + "pixel.png")
        self.assertEqual(sorted(r.path for r in proxy.requests()), [page, page + "pixel.png"])

    def test_renderer_past_its_memory_limit_is_replaced(self):
        hog = self.http.page("/hog", "<!DOCTYPE html><html><body><script>const kept = [];"
                             "setInterval(() => { const a = new Uint8Array(16 << 20); a.fill(1);"
                             " kept.push(a); }, 50);</script></body></html>")
        kiosk = self.start_kiosk({"url": hog, "enableToolbar": "false", "memoryLimit": "300"})
        kiosk.wait_for_line(r"^Renderer process went past memoryLimit=300 MiB$", stream="stderr",
                            timeout=40)
        kiosk.wait_for_line(r"^Renderer process ran out of memory: reloading ", stream="stderr")
        self.http.wait_for_request("/hog", after=time.monotonic() - 0.5, timeout=15)
        self.assertTrue(kiosk.alive(), kiosk.describe())

    def test_start_page_comes_back_only_when_idle(self):
        # The start page moves on by itself once (a page's own navigation is
        # no input); loaded again later, it stays.
        start = self.http.page("/idle-start", vkxtest.solid_page((30, 30, 90), body=(
            "<script>if (!sessionStorage.moved) { sessionStorage.moved = 1;"
            " setTimeout(() => { location.href = '/idle-other'; }, 300); }</script>")))
        other = self.http.page("/idle-other", vkxtest.solid_page((90, 30, 30)))
        kiosk = self.start_kiosk({"url": start, "enableToolbar": "false", "idleTimeout": "2"})
        wait_for_page(kiosk, 200, other)
        host = self.x.geometry(self.x.find_host_window())
        # Two seconds of pointer moves over the page: no return meanwhile.
        for i in range(8):
            self.x.move_pointer(host.abs_x + 100 + 40 * (i % 2), host.abs_y + 100)
            moved = time.monotonic()
            time.sleep(0.5)
        self.assertNotIn("Idle timeout: returning to the start page", kiosk.lines())
        returned = kiosk.wait_for_line(r"^Idle timeout: returning to the start page$", timeout=10)
        self.assertGreater(returned.t - moved, 1.8)  # two seconds after the last move
        wait_for_page(kiosk, 200, start, returned.index)
        time.sleep(3)
        self.assertEqual(kiosk.lines().count("Idle timeout: returning to the start page"), 1)
        self.assertEqual(len(self.http.requests("/idle-start")), 2)

if __name__ == "__main__":
    vkxtest.main()
