"""Start-up of the kiosk: the configuration dump, the ways it refuses to
start (no display, a cache directory it cannot create), and the
environments it starts in."""

import itertools
import os
import re
import shutil
import signal
import subprocess
import time
import unittest

import vkxtest
from vkxtest import KioskTestCase, printed_configuration
from test_sandbox import ns, renderer_of


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


class StartEnvironmentTest(KioskTestCase):
    """Every start reaches the page, its renderer in the sandbox and the log
    quiet, whatever the depth of the runtime and home directories and
    whether or not there is a session bus."""

    def session_bus(self):
        """A working session bus of this test's own: its address."""
        socket = os.path.join(self.workdir, "bus")
        daemon = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
             f"--address=unix:path={socket}"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: (daemon.kill(), daemon.wait(10), daemon.stdout.close()))
        return daemon.stdout.readline().strip()

    def deep(self, name, length):
        path = os.path.join(self.workdir, name)
        path += "/" + "d" * (length - len(path) - 1)
        os.makedirs(path, mode=0o700)
        return path

    def test_deep_directories_and_every_bus(self):
        if not shutil.which("dbus-daemon"):
            self.skipTest("dbus-daemon is not installed")
        directories = {
            "runtime 90": {"XDG_RUNTIME_DIR": self.deep("r90", 90)},
            "runtime 200": {"XDG_RUNTIME_DIR": self.deep("r200", 200)},
            "no runtime, home 120": {"XDG_RUNTIME_DIR": None, "XDG_CACHE_HOME": None,
                                     "HOME": self.deep("h120", 120)},
        }
        buses = {"no bus": None, "missing socket": "unix:path=/nonexistent/vkx-test-bus",
                 "session bus": self.session_bus()}
        url = self.http.page("/", vkxtest.solid_page((40, 120, 200)))
        def start(env):
            """The lines a start printed up to its page in the sandbox that
            are noise, and the kiosk, ended."""
            kiosk = self.start_kiosk({"url": url}, env=env)
            kiosk.wait_for_line(r"^Page loaded, status code: 200$", timeout=30)
            renderer = renderer_of(kiosk)
            self.assertNotEqual(ns(kiosk.pid, "pid"), ns(renderer.pid, "pid"))
            time.sleep(0.5)  # the engine's processes warn, if at all, right after the load
            noisy = [line for line in kiosk.lines("stderr")
                     if re.search(r"(WARNING|CRITICAL) \*\*|^Renderer sandbox unavailable", line)]
            kiosk.signal(signal.SIGTERM)
            kiosk.wait_exit(10)
            return noisy, kiosk

        for (where, env), (bus, address) in itertools.product(directories.items(), buses.items()):
            with self.subTest(where=where, bus=bus):
                env = dict(env, DBUS_SESSION_BUS_ADDRESS=address, NO_AT_BRIDGE=None)
                noisy, kiosk = start(env)
                # The engine's D-Bus proxy now and then finds its upstream
                # connection to a real session bus closed at once (about
                # one start in some hundreds); a second start must be quiet.
                if bus == "session bus" and noisy and all("Broken pipe" in l for l in noisy):
                    noisy, kiosk = start(env)
                self.assertEqual(noisy, [], kiosk.describe())
