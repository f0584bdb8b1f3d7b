"""Cookies carried across runs through the cookie file (curl's cookie-jar
format): injected before every navigation so that its very first request
carries them, and written back, complete or not at all, when the kiosk ends."""

import os
import random
import re
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import unittest

import vkxtest
from vkxtest import (PrivateFilesTestCase, Kiosk, KioskTestCase, PrivateSystemFiles, Response, click_at, solid_page,
                     wait_for_nth_line, wait_for_page)

EPOCH_DELTA_SECONDS = 11644473600  # 1601-01-01 to 1970-01-01: the engine's expiry epoch
FILTER = "secret_token,also_secret"
LINK_COLOUR = (70, 110, 150)
STORED = r"^SetCookieCallback::OnComplete success: 1$"


def set_cookie_headers(*cookies):
    """Response headers with one Set-Cookie per cookie. The response's
    headers are a dict, so each name is spelt in a case of its own."""
    headers = {}
    for i, cookie in enumerate(cookies):
        name = "".join(c.upper() if (i >> k) & 1 else c for k, c in enumerate("set-cookie"))
        headers[name] = cookie
    return headers


def cookie_header(request):
    """The request's Cookie header as {name: value}."""
    pairs = [p.strip() for p in request.headers.get("cookie", "").split(";") if p.strip()]
    return dict(p.split("=", 1) for p in pairs)


def link_page(target):
    """A page that is one link, edge to edge."""
    return ("<!DOCTYPE html><html><body style='margin:0'>"
            f"<a href='{target}' style='position:fixed;inset:0;"
            f"background:rgb{LINK_COLOUR}'></a></body></html>")


def injection_trace(host, name, value, domain="", has_expire=False, expire=0):
    """The lines the kiosk prints for one cookie it sets into the store."""
    return [f"  InjectCookiesFromFile hostname: {host}", f"  Name: {name}", f"  Value: {value}",
            f"  Domain: {domain}", "  Path: /", "  Secure: false", "  HttpOnly: false",
            f"  HasExpire: {'true' if has_expire else 'false'}", f"  Expire: {expire}",
            "SetCookie return true "]


def engine_expiry(seconds):
    """The expiry as the kiosk prints it: microseconds since 1601."""
    return (seconds + EPOCH_DELTA_SECONDS) * 1000000


def contains_run(lines, run):
    """Whether run occurs in lines as consecutive lines."""
    return any(lines[i:i + len(run)] == run for i in range(len(lines) - len(run) + 1))


class CookieInjectionTest(PrivateFilesTestCase):
    """Host-only and domain cookies need names: www.kiosk.test resolves to
    127.0.0.1 for the kiosk through a hosts file in a private mount namespace."""

    HOST = "www.kiosk.test"

    folder_prefix = "vkx-cookies-"

    @classmethod
    def setUpClass(cls):
        if not shutil.which("curl"):
            raise unittest.SkipTest("curl is not installed")
        super().setUpClass()

    @classmethod
    def prepare_files(cls):
        cls.files = PrivateSystemFiles(cls.folder)
        cls.files.map_host("127.0.0.1", cls.HOST)

    def url(self, path):
        return f"http://{self.HOST}:{self.http.port}{path}"

    def click_page(self):
        host = self.x.geometry(self.x.find_host_window())
        middle = (host.abs_x + host.width // 2, host.abs_y + host.height // 2)
        self.x.wait_for_colour((middle[0] - 20, middle[1] - 20, 40, 40), LINK_COLOUR)
        click_at(self.x, *middle)

    def curl_cookie_jar(self, path):
        """Lets curl fetch /set, which sets four cookies, into a jar at path."""
        self.http.route("/set", Response(body=b"ok", content_type="text/plain",
                                         headers=set_cookie_headers(
                                             "c_persist=cp1; Max-Age=7200",
                                             "c_session=cs1",
                                             "c_domain=cd1; Domain=kiosk.test",
                                             "c_httponly=ch1; HttpOnly")))
        subprocess.run(["curl", "-sS", "--max-time", "10", "--noproxy", "*",
                        "--resolve", f"{self.HOST}:{self.http.port}:127.0.0.1",
                        "-c", path, "-o", os.devnull, self.url("/set")],
                       check=True, timeout=15, stdin=subprocess.DEVNULL)
        with open(path, encoding="utf-8") as jar:
            return jar.read()

    def test_file_cookies_from_the_first_request_and_at_each_navigation(self):
        future = int(time.time()) + 86400
        cookie_file = os.path.join(self.workdir, "cookies.txt")
        with open(cookie_file, "w", encoding="utf-8") as out:
            out.write("# Netscape HTTP Cookie File\n"
                      "\n"
                      f"{self.HOST}\tFALSE\t/\tFALSE\t0\thost_only\th1\n"
                      f".kiosk.test\tTRUE\t/\tFALSE\t{future}\tdomain_wide\td1\n"
                      f"{self.HOST}\tFALSE\t/\tFALSE\t0\tsecret_token\tt1\n"
                      ".other.example\tTRUE\t/\tFALSE\t0\telsewhere\te1\n"
                      f"# {self.HOST}\tFALSE\t/\tFALSE\t0\tcommented\tx1\n"
                      f"#HttpOnly_{self.HOST}\tFALSE\t/\tFALSE\t0\thttp_only\thx1\n")
        self.http.page("/", link_page("/next"))
        self.http.page("/next", solid_page((0, 0, 0)))
        kiosk = Kiosk(self.workdir, self.display,
                      {"url": self.url("/"), "enableToolbar": "false", "cacheCookies": "true",
                       "cookieFile": cookie_file, "cookieFilter": FILTER},
                      binary=self.files.wrap(vkxtest.kiosk_binary()))
        self.addCleanup(kiosk.stop)

        first = self.http.wait_for_request("/")
        self.assertEqual(cookie_header(first), {"host_only": "h1", "domain_wide": "d1", "http_only": "hx1"})
        self.assertEqual(len(self.http.requests()), 1)
        # The navigation went ahead only once both were stored.
        wait_for_nth_line(kiosk, STORED, 3, "stderr")
        stderr = kiosk.lines("stderr")
        # A host-only cookie goes in without a domain, a domain cookie with its own.
        self.assertTrue(contains_run(stderr, injection_trace(self.HOST, "host_only", "h1")),
                        kiosk.describe())
        self.assertTrue(contains_run(stderr, injection_trace(
            self.HOST, "domain_wide", "d1", ".kiosk.test", True, engine_expiry(future))),
            kiosk.describe())
        self.assertIn(f"skipping cookie. Hostname {self.HOST}, domain .other.example", stderr)
        self.assertNotIn("  Name: secret_token", stderr)
        self.assertNotIn("  Name: commented", stderr)
        self.assertEqual(stderr.count("SetCookieCallback::OnComplete success: 1"), 3,
                         kiosk.describe())
        wait_for_page(kiosk, 200, self.url("/"))

        # The file is read again for the next navigation: now curl's jar.
        jar = self.curl_cookie_jar(cookie_file)
        self.assertIn(f"#HttpOnly_{self.HOST}\t", jar)
        persist = re.search(rf"^{re.escape(self.HOST)}\tFALSE\t/\tFALSE\t(\d+)\tc_persist\tcp1$",
                            jar, re.M)
        self.assertIsNotNone(persist, jar)
        err = len(kiosk.lines("stderr"))
        self.click_page()
        following = self.http.wait_for_request("/next")
        sent = cookie_header(following)
        for name, value in {"c_persist": "cp1", "c_session": "cs1", "c_domain": "cd1",
                            "c_httponly": "ch1", "host_only": "h1", "domain_wide": "d1"}.items():
            self.assertEqual(sent.get(name), value, sent)
        self.assertNotIn("secret_token", sent)
        wait_for_nth_line(kiosk, STORED, 4, "stderr", err)
        stderr = kiosk.lines("stderr")[err:]
        self.assertTrue(contains_run(stderr, injection_trace(
            self.HOST, "c_persist", "cp1", "", True, engine_expiry(int(persist.group(1))))),
            kiosk.describe())
        self.assertTrue(contains_run(stderr, injection_trace(
            self.HOST, "c_domain", "cd1", ".kiosk.test")), kiosk.describe())
        # The kiosk may have merged its own cookies into curl's jar meanwhile.
        self.assertGreaterEqual(stderr.count("SetCookieCallback::OnComplete success: 1"), 4,
                                kiosk.describe())


def read_cookie_file(path):
    """(bytes, lines) of the cookie file; lines split into their fields."""
    with open(path, "rb") as cookie_file:
        data = cookie_file.read()
    return data, [line.split("\t") for line in data.decode().splitlines()]


def temp_files(path):
    """Leftovers of a save: <cookie file>.XXXXXX beside it."""
    folder, name = os.path.split(path)
    return [f for f in os.listdir(folder) if re.fullmatch(re.escape(name) + r"\.\w{6}", f)]


class CookieSaveCase(KioskTestCase):

    def setUp(self):
        super().setUp()
        self.cookie_file = os.path.join(self.workdir, "cookies.txt")
        self.extra_cookies = []
        self.http.route("/", lambda request: Response(
            body=solid_page((90, 60, 30)).encode(),
            headers=set_cookie_headers("persist=p1; Max-Age=3600", "session=s1",
                                       "secret_token=t1; Max-Age=3600", "also_secret=a1",
                                       *self.extra_cookies)))

    def start(self):
        kiosk = self.start_kiosk({"url": self.http.url("/"), "enableToolbar": "false",
                                  "cacheCookies": "true", "cookieFile": self.cookie_file,
                                  "cookieFilter": FILTER})
        wait_for_page(kiosk, 200, self.http.url("/"))
        return kiosk

    def assert_saved_before_the_end(self, kiosk):
        self.assertEqual(kiosk.wait_exit(10), -9, kiosk.describe())
        self.assertIn("force shutdown...", kiosk.lines())
        stderr = kiosk.lines("stderr")
        self.assertIn("VisitAllCookies call returned 1", stderr, kiosk.describe())
        self.assertIn("Cookie enumeration complete.", stderr, kiosk.describe())
        self.assertLess(stderr.index("VisitAllCookies call returned 1"),
                        stderr.index("Cookie enumeration complete."))

    def assert_cookie_file(self, expected, started):
        """The file holds exactly the expected {name: (value, max_age)}
        cookies of 127.0.0.1 (max_age None: a session cookie), owner-only."""
        data, lines = read_cookie_file(self.cookie_file)
        self.assertTrue(data.endswith(b"\t\n"), data)
        found = {}
        for fields in lines:
            self.assertEqual(len(fields), 8, fields)  # seven and the trailing tab
            self.assertEqual(fields[:4] + fields[7:], ["127.0.0.1", "FALSE", "/", "FALSE", ""])
            found[fields[5]] = (fields[6], int(fields[4]))
        self.assertEqual(set(found), set(expected), data)
        for name, (value, max_age) in expected.items():
            self.assertEqual(found[name][0], value)
            if max_age is None:
                self.assertEqual(found[name][1], 0)
            else:
                # Set between the start and now, at whole seconds.
                self.assertGreaterEqual(found[name][1], int(started) + max_age - 1)
                self.assertLessEqual(found[name][1], int(time.time()) + max_age + 1)
        self.assertEqual(stat.S_IMODE(os.stat(self.cookie_file).st_mode), 0o600)
        self.assertEqual(temp_files(self.cookie_file), [])



class CookieSaveTest(CookieSaveCase):

    def test_saved_at_close_and_sent_again(self):
        started = time.time()
        kiosk = self.start()
        self.xhelper().close(self.x.find_host_window())
        self.assert_saved_before_the_end(kiosk)
        self.assertIn("Close button pressed. Exiting...", kiosk.lines())
        kiosk.stop()
        self.assert_cookie_file({"persist": ("p1", 3600), "session": ("s1", None)}, started)

        # The next run sends them with its first request, and its own save
        # (at SIGTERM) makes the file owner-only again.
        os.chmod(self.cookie_file, 0o644)
        self.extra_cookies = ["later=l1; Max-Age=600"]
        first_seen = len(self.http.requests("/"))
        kiosk = self.start()
        first = self.http.requests("/")[first_seen]
        self.assertEqual(cookie_header(first), {"persist": "p1", "session": "s1"})
        kiosk.signal(signal.SIGTERM)
        self.assert_saved_before_the_end(kiosk)
        kiosk.stop()
        self.assert_cookie_file({"persist": ("p1", 3600), "session": ("s1", None),
                                 "later": ("l1", 600)}, started)

    def test_kill_during_save_leaves_a_whole_file(self):
        previous = (b"# a file from before\n"
                    b"127.0.0.1\tFALSE\t/\tFALSE\t0\tprevious\tv0\t\n")
        outcomes = []
        # Here a save takes about 10 ms from SIGTERM: kills around that time
        # land before, inside and after it.
        delays = [0.0, 0.03] + [random.uniform(0.004, 0.016) for _ in range(3)]
        for delay in delays:
            with open(self.cookie_file, "wb") as out:
                out.write(previous)
            for leftover in temp_files(self.cookie_file):
                os.unlink(os.path.join(self.workdir, leftover))
            kiosk = self.start()
            kiosk.helpers()  # so that stop() ends them after the kill
            kiosk.signal(signal.SIGTERM)
            time.sleep(delay)
            kiosk.kill()
            kiosk.stop()
            data, lines = read_cookie_file(self.cookie_file)
            if data == previous:
                # A temporary file left means the save was cut short; it is
                # owner-only from the start.
                left = temp_files(self.cookie_file)
                outcomes.append("cut short" if left else "previous")
                for name in left:
                    mode = stat.S_IMODE(os.stat(os.path.join(self.workdir, name)).st_mode)
                    self.assertEqual(mode, 0o600, (delay, outcomes, name))
                continue
            # Otherwise the save was complete: every cookie, every line
            # whole, then the comment of the file from before.
            outcomes.append("saved")
            context = (delay, outcomes, data)
            self.assertTrue(data.endswith(b"\t\n# a file from before\n"), context)
            cookies = [fields for fields in lines if not fields[0].startswith("#")]
            self.assertTrue(all(len(fields) == 8 for fields in cookies), context)
            self.assertEqual(sorted(fields[5] for fields in cookies),
                             ["persist", "previous", "session"], context)
            self.assertEqual(temp_files(self.cookie_file), [], context)
            self.assertEqual(stat.S_IMODE(os.stat(self.cookie_file).st_mode), 0o600, context)



class CookieDurabilityTest(CookieSaveCase):
    """The file follows the store within two seconds, whatever ends the
    kiosk or its network process, and a save merges instead of replacing."""

    SAVED_WITHIN = 2.5  # seconds after a change

    def test_group_sigterm_and_kill_keep_what_was_there_two_seconds_before(self):
        for ending in ("SIGTERM to the group", "SIGKILL"):
            with self.subTest(ending=ending):
                if os.path.exists(self.cookie_file):
                    os.unlink(self.cookie_file)
                started = time.time()
                kiosk = self.start()
                time.sleep(self.SAVED_WITHIN)
                if ending == "SIGKILL":
                    kiosk.kill()
                else:
                    # As a group kill reaches them: the network process too,
                    # and here even before the kiosk.
                    for helper in kiosk.helpers():
                        os.kill(helper.pid, signal.SIGTERM)
                    kiosk.signal(signal.SIGTERM)
                    kiosk.wait_exit(10)
                kiosk.stop()
                self.assert_cookie_file({"persist": ("p1", 3600), "session": ("s1", None)}, started)
                first_seen = len(self.http.requests("/"))
                kiosk = self.start()
                self.assertEqual(cookie_header(self.http.requests("/")[first_seen]),
                                 {"persist": "p1", "session": "s1"})
                kiosk.stop()

    def test_killed_network_process_brings_the_session_back(self):
        self.http.page("/next", solid_page((0, 0, 0)))
        self.http.route("/link", lambda request: Response(
            body=link_page("/next").encode(), headers=set_cookie_headers("persist=p1; Max-Age=3600")))
        kiosk = self.start_kiosk({"url": self.http.url("/link"), "enableToolbar": "false",
                                  "cacheCookies": "true", "cookieFile": self.cookie_file})
        wait_for_page(kiosk, 200, self.http.url("/link"))
        time.sleep(self.SAVED_WITHIN)
        network = [h for h in kiosk.helpers() if h.comm.startswith("WebKitNetwork")]
        self.assertEqual(len(network), 1, kiosk.helpers())
        os.kill(network[0].pid, signal.SIGKILL)
        kiosk.wait_for_helpers(2)
        host = self.x.geometry(self.x.find_host_window())
        middle = (host.abs_x + host.width // 2, host.abs_y + host.height // 2)
        self.x.wait_for_colour((middle[0] - 20, middle[1] - 20, 40, 40), LINK_COLOUR)
        click_at(self.x, *middle)
        self.assertEqual(cookie_header(self.http.wait_for_request("/next")), {"persist": "p1"})
        # And the file has it for the next run too.
        time.sleep(self.SAVED_WITHIN)
        kiosk.stop()
        restarted = time.monotonic()
        kiosk = self.start_kiosk({"url": self.http.url("/next"), "enableToolbar": "false",
                                  "cacheCookies": "true", "cookieFile": self.cookie_file})
        self.assertEqual(cookie_header(self.http.wait_for_request("/next", after=restarted)), {"persist": "p1"})

    def test_lines_of_unvisited_hosts_stay_and_deleted_cookies_go(self):
        other = ".other.example\tTRUE\t/\tFALSE\t0\telsewhere\te1\n"
        with open(self.cookie_file, "w", encoding="utf-8") as out:
            out.write(f"# kept\n127.0.0.1\tFALSE\t/\tFALSE\t0\tdoomed\tx\t\n{other}")
        self.extra_cookies = ["doomed=; Max-Age=0"]
        started = time.time()
        kiosk = self.start()
        self.xhelper().close(self.x.find_host_window())
        self.assert_saved_before_the_end(kiosk)
        kiosk.stop()
        data, _ = read_cookie_file(self.cookie_file)
        self.assertTrue(data.endswith(f"\t\n# kept\n{other}".encode()), data)
        with open(self.cookie_file, "wb") as out:
            out.write(data[:-len(f"# kept\n{other}")])
        self.assert_cookie_file({"persist": ("p1", 3600), "session": ("s1", None)}, started)
        # curl reads what the kiosk wrote.
        sent = subprocess.run(["curl", "-sS", "--max-time", "10", "--noproxy", "*", "-b", self.cookie_file,
                               "-o", os.devnull, "-w", "%{http_code}", self.http.url("/")],
                              check=True, timeout=15, stdin=subprocess.DEVNULL, capture_output=True)
        self.assertEqual(sent.stdout, b"200")
        self.assertEqual(cookie_header(self.http.requests("/")[-1]), {"persist": "p1", "session": "s1"})

    def test_another_programs_change_to_the_file_wins(self):
        shared = "127.0.0.1\tFALSE\t/\tFALSE\t0\tshared\t{}\t\n"
        self.addCleanup(os.unlink, self.cookie_file)  # the class's other tests share it
        with open(self.cookie_file, "w", encoding="utf-8") as out:
            out.write(shared.format("v1"))
        # The page changes a cookie of its own after the other program's
        # change (so the kiosk saves before it reads the file again), then
        # navigates.
        self.http.route("/shared-start", Response(
            body=b"<script>setTimeout(() => document.cookie = 'js=j1; max-age=3600', 2500);"
                 b" setTimeout(() => location.href = '/shared-next', 6000)</script>",
            headers=set_cookie_headers("first=f1; Max-Age=3600")))
        self.http.route("/shared-next", Response(body=b"next", headers=set_cookie_headers("nav=n1")))
        kiosk = self.start_kiosk({"url": self.http.url("/shared-start"), "enableToolbar": "false",
                                  "cacheCookies": "true", "cookieFile": self.cookie_file})
        vkxtest.wait_until(lambda: b"\tfirst\t" in read_cookie_file(self.cookie_file)[0], 5,
                           what="the first save")
        time.sleep(0.2)
        # Another program rewrites the file: a new value and a new cookie.
        data = read_cookie_file(self.cookie_file)[0].decode()
        data = data.replace(shared.format("v1"), shared.format("v2"))
        data += "127.0.0.1\tFALSE\t/\tFALSE\t0\tadded\ta1\t\n"
        with open(self.cookie_file + ".other", "w", encoding="utf-8") as out:
            out.write(data)
        os.replace(self.cookie_file + ".other", self.cookie_file)
        vkxtest.wait_until(lambda: b"\tjs\t" in read_cookie_file(self.cookie_file)[0], 5,
                           what="the save after the page's change")
        self.assertIn(shared.format("v2").encode(), read_cookie_file(self.cookie_file)[0])
        sent = cookie_header(self.http.wait_for_request("/shared-next", timeout=15))
        self.assertEqual((sent.get("shared"), sent.get("added")), ("v2", "a1"), sent)
        vkxtest.wait_until(lambda: b"\tnav\t" in read_cookie_file(self.cookie_file)[0], 5,
                           what="the save after the navigation")
        kiosk.signal(signal.SIGTERM)
        kiosk.wait_exit(10)
        saved = read_cookie_file(self.cookie_file)[0].decode()
        self.assertIn(shared.format("v2"), saved)
        self.assertNotIn(shared.format("v1"), saved)
        self.assertIn("\tadded\ta1\t", saved)


if __name__ == "__main__":
    vkxtest.main()
