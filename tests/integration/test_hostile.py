"""Files from outside the kiosk that are not what they should be: a
configuration file or cookie file that is huge, binary, full of NUL bytes or
overlong lines, a configuration "file" that is a directory or a FIFO, a
cookie file that cannot be replaced. Each is reported on standard error
where that helps, the kiosk goes on working, and nothing already on disk is
lost."""

import os
import random
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import vkxtest
from vkxtest import Kiosk, KioskTestCase, kiosk_binary, printed_configuration

PAGE = "<!DOCTYPE html><html><head><title>hostile</title></head><body>ok</body></html>"
PAGE_LOADED = r"^Page loaded, status code: 200$"
MB = 1024 * 1024
DEFAULT_URL = "https://www.debian.org/"

_namespaces = None


def namespaces_unavailable():
    """None when a private mount and network namespace with a read-only bind
    mount works here (unshare, as root); else why not."""
    global _namespaces
    if _namespaces is None:
        folder = tempfile.mkdtemp(prefix="vkx-ns-")
        try:
            result = subprocess.run(
                ["unshare", "--mount", "--net", "--propagation", "private", "--", "sh", "-c",
                 'mount --bind -o ro "$1" "$1" && ! touch "$1/x" 2>/dev/null', "sh", folder],
                stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
            _namespaces = "" if result.returncode == 0 else (
                "unshare --mount --net with a read-only bind mount does not work here: "
                + result.stderr.decode(errors="replace").strip())
        except (OSError, subprocess.TimeoutExpired) as error:
            _namespaces = f"unshare cannot run: {error}"
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    return _namespaces or None


def isolating_wrapper(folder, offline=False, read_only=()):
    """A script that runs the kiosk (same PID: every step execs) with the
    folders in read_only mounted read-only for it alone, and when offline
    without a network (not even loopback), so that the built-in start page
    never leaves the machine."""
    reason = namespaces_unavailable()
    if reason:
        raise unittest.SkipTest(reason)
    path = os.path.join(folder, "isolated-kiosk")
    with open(path, "w", encoding="utf-8") as out:
        out.write("#!/bin/sh\n"
                  f"exec unshare --mount {'--net ' if offline else ''}--propagation private"
                  " -- /bin/sh -c '\n"
                  '  binary="$1"; shift\n'
                  '  for dir do mount --bind -o ro "$dir" "$dir" || exit 97; done\n'
                  '  exec "$binary"\' isolated-kiosk '
                  + " ".join(f"'{arg}'" for arg in (kiosk_binary(), *read_only)) + "\n")
    os.chmod(path, 0o755)
    return path


def filler_lines(size, line_length, make_line):
    """About size bytes of lines make_line(i, line_length) (each ending in a line feed)."""
    parts, total, i = [], 0, 0
    while total < size:
        line = make_line(i, line_length)
        parts.append(line)
        total += len(line)
        i += 1
    return b"".join(parts)


class HostileInputCase(KioskTestCase):

    def start_with(self, config_path, binary=None, env=None):
        """Starts the kiosk with VKX_CONFIG_PATH naming config_path as it is."""
        extra = dict(env or {}, VKX_CONFIG_PATH=config_path)
        kiosk = Kiosk(self.workdir, self.display, None, extra, binary=binary)
        self.addCleanup(kiosk.stop)
        return kiosk

    def write(self, name, data):
        path = os.path.join(self.workdir, name)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def config_bytes(self, **values):
        return "".join(f"{k}={v}\n" for k, v in values.items()).encode()

    def assert_page_shown(self, kiosk, path, timeout=30):
        kiosk.wait_for_line(PAGE_LOADED, timeout=timeout)
        self.assertTrue(self.http.requests(path), kiosk.describe())
        self.assertTrue(kiosk.alive(), kiosk.describe())


class HostileConfigTest(HostileInputCase):

    def test_huge_file(self):
        url = self.http.page("/huge", PAGE)
        # 50 MB of unknown keys with long values; the start page at the very end.
        data = filler_lines(50 * MB, 1000, lambda i, n: b"filler%d=" % i + b"x" * n + b"\n")
        path = self.write("huge.conf", data + self.config_bytes(url=url, width=640))
        kiosk = self.start_with(path)
        self.assert_page_shown(kiosk, "/huge")
        dump = printed_configuration(kiosk.lines())
        self.assertIn(f"URL: {url}", dump)
        self.assertIn("Width: 640", dump)

    def test_binary_garbage_with_nul_bytes(self):
        url = self.http.page("/binary", PAGE)
        noise = random.Random(20240611).randbytes(2 * MB)
        # Keys and values with NUL bytes in them match nothing the kiosk knows.
        nul_lines = b"width\0=1\nheight=\0 7\n\0\0\0\n\0url=http://nowhere.invalid/\n"
        path = self.write("binary.conf", noise + b"\n" + nul_lines + self.config_bytes(url=url)
                          + noise[:4096].replace(b"\n", b" "))
        kiosk = self.start_with(path)
        self.assert_page_shown(kiosk, "/binary")
        dump = printed_configuration(kiosk.lines())
        self.assertIn(f"URL: {url}", dump)
        self.assertIn("Width: 800", dump)
        # "height=\0 7" is not a number: the default stays, with one line about it.
        self.assertIn("Height: 600", dump)
        self.assertTrue([line for line in kiosk.lines("stderr") if line.startswith("Ignoring height")],
                        kiosk.describe())

    def test_overlong_lines(self):
        url = self.http.page("/long", PAGE)
        data = (b"x" * (10 * MB) + b"\n" +                 # no key at all
                b"iconName=" + b"i" * (10 * MB) + b"\n" +  # a known key, an absurd value
                b"k" * (10 * MB) + b"=value\n" +          # an absurd key
                self.config_bytes(url=url))
        path = self.write("long.conf", data)
        kiosk = self.start_with(path)
        self.assert_page_shown(kiosk, "/long")
        self.assertIn(f"URL: {url}", printed_configuration(kiosk.lines()))

    def assert_defaults_and_running(self, kiosk, path):
        # Reported, then the built-in defaults: the kiosk starts all the same.
        kiosk.wait_for_line(re.escape(path), stream="stderr", timeout=10)
        kiosk.wait_for_line(re.escape(vkxtest.CONFIG_HEADER), timeout=10)
        self.x.find_host_window(timeout=20)
        self.assertIn(f"URL: {DEFAULT_URL}", printed_configuration(kiosk.lines()))
        self.assertTrue(kiosk.alive(), kiosk.describe())

    def test_directory_instead_of_file(self):
        path = os.path.join(self.workdir, "conf.d")
        os.mkdir(path)
        kiosk = self.start_with(path, binary=isolating_wrapper(self.workdir, offline=True))
        self.assert_defaults_and_running(kiosk, path)
        self.assertIn(f"Unable to open config file at path: {path}", kiosk.lines("stderr"))

    def test_fifo_without_writer(self):
        # Nobody ever writes into it: reading it must not wait for a writer.
        path = os.path.join(self.workdir, "conf.fifo")
        os.mkfifo(path)
        kiosk = self.start_with(path, binary=isolating_wrapper(self.workdir, offline=True))
        self.assert_defaults_and_running(kiosk, path)


class HostileCookieFileTest(HostileInputCase):
    """cacheCookies with a cookie file: its cookies for the start page's
    host reach the server, and at the end the file holds the session's
    cookies (a SIGTERM lets the kiosk write it)."""

    KEPT = b"127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tkept\tyes\t\n"

    def run_session(self, cookie_file, binary=None):
        path = f"/{self._testMethodName}"  # the class's server is shared: a path of our own
        # The page sets a cookie of its own, so the save has something new to write.
        self.http.route(path, vkxtest.Response(body=PAGE.encode(), headers={"Set-Cookie": "fresh=1"}))
        url = self.http.url(path)
        config = self.write("kiosk.conf", self.config_bytes(
            url=url, cacheCookies="true", cookieFile=cookie_file))
        kiosk = self.start_with(config, binary=binary)
        self.assert_page_shown(kiosk, path, timeout=60)
        self.end(kiosk)
        return kiosk, self.http.requests(path)[0]

    def end(self, kiosk):
        kiosk.signal(signal.SIGTERM)
        kiosk.wait_exit(timeout=15)
        self.assertIn("force shutdown...", kiosk.lines(), kiosk.describe())

    def assert_kept_cookie_travelled(self, kiosk, request, cookie_file):
        self.assertIn("kept=yes", request.headers.get("cookie", ""), kiosk.describe())
        with open(cookie_file, "rb") as saved:
            self.assertIn(self.KEPT, saved.read().splitlines(keepends=True), kiosk.describe())

    def test_huge_file(self):
        # 50 MB of lines that are not cookies around one that is.
        junk = filler_lines(25 * MB, 1000, lambda i, n: b"junk %d " % i + b"j" * n + b"\n")
        cookie_file = self.write("cookies.txt", junk + self.KEPT + junk)
        started = time.monotonic()
        kiosk, request = self.run_session(cookie_file)
        self.assert_kept_cookie_travelled(kiosk, request, cookie_file)
        skipped = [line for line in kiosk.lines("stderr") if line.startswith("Skipping cookie")]
        self.assertTrue(skipped, kiosk.describe())
        self.assertLess(request.t - started, 30)

    def test_binary_file_with_nul_bytes(self):
        # No tabs: a random line must not happen to read as an expired cookie.
        noise = random.Random(4711).randbytes(2 * MB).replace(b"\t", b" ")
        nul_cookies = (b"127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tn\0ul\tv\0al\t\n"
                       b"\0\0\0\t\0\t\0\t\0\t\0\t\0\t\0\n")
        cookie_file = self.write("cookies.txt", noise + b"\n" + self.KEPT + nul_cookies + noise)
        kiosk, request = self.run_session(cookie_file)
        self.assert_kept_cookie_travelled(kiosk, request, cookie_file)
        with open(cookie_file, "rb") as saved:
            # The store's cookies, then every line that is no cookie, as it was.
            data = saved.read()
            self.assertTrue(data.startswith(b"127.0.0.1\tFALSE\t/\tFALSE\t0\tfresh\t1\t\n" + self.KEPT),
                            data[:200])
            rest = noise + b"\n" + nul_cookies + noise + b"\n"
            self.assertEqual(data[-len(rest):], rest)

    def test_overlong_lines(self):
        cookie_file = self.write("cookies.txt", b"#" + b"c" * (10 * MB) + b"\n" +
                                 b"l" * (10 * MB) + b"\n" + self.KEPT)
        kiosk, request = self.run_session(cookie_file)
        self.assert_kept_cookie_travelled(kiosk, request, cookie_file)

    def test_file_that_cannot_be_replaced_keeps_its_content(self):
        folder = os.path.join(self.workdir, "readonly")
        os.mkdir(folder)
        cookie_file = os.path.join(folder, "cookies.txt")
        content = b"# kept as it is\n" + self.KEPT
        with open(cookie_file, "wb") as out:
            out.write(content)
        kiosk, request = self.run_session(
            cookie_file, binary=isolating_wrapper(self.workdir, read_only=[folder]))
        self.assertIn("kept=yes", request.headers.get("cookie", ""), kiosk.describe())
        self.assertIn(f"Cannot write cookie file: {cookie_file}", kiosk.lines("stderr"))
        with open(cookie_file, "rb") as after:
            self.assertEqual(after.read(), content)
        self.assertEqual(os.listdir(folder), ["cookies.txt"])

    def test_fifo_without_writer(self):
        # Read before each navigation: waiting for a writer would stop the kiosk.
        cookie_file = os.path.join(self.workdir, "cookies.fifo")
        os.mkfifo(cookie_file)
        path = f"/{self._testMethodName}"
        config = self.write("kiosk.conf", self.config_bytes(
            url=self.http.page(path, PAGE), cacheCookies="true", cookieFile=cookie_file))
        kiosk = self.start_with(config)
        self.assert_page_shown(kiosk, path, timeout=20)

    def test_file_in_proc(self):
        cookie_file = "/proc/vkx-cookies.txt"
        kiosk, _ = self.run_session(cookie_file)
        self.assertIn(f"Cannot write cookie file: {cookie_file}", kiosk.lines("stderr"))
        self.assertFalse(os.path.exists(cookie_file))


if __name__ == "__main__":
    vkxtest.main()
