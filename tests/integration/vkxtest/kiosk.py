"""The kiosk under test, and the test-case base classes: per class an Xvfb
(optionally with a window manager) and an HTTP server, per test a working
directory and the kiosks it starts."""

import os
import shutil
import signal
import tempfile
import time
import unittest

from .certificates import PrivateSystemFiles
from .processes import (ManagedProcess, become_subreaper, children_of, clean_environment,
                        read_proc, reap_orphans)
from .waiting import DEFAULT_TIMEOUT, wait_until
from .web import HttpServer
from .xdisplay import WindowManager, XDisplay, Xvfb
from .xhelper import XHelper


def kiosk_binary():
    path = os.environ.get("VKX_BINARY")
    if not path:
        raise unittest.SkipTest("VKX_BINARY is not set (run the tests through CTest)")
    return path


class Kiosk(ManagedProcess):
    """The kiosk binary with a configuration file written for it.

    config: a dict (written as key=value lines), a string (written as it
    is), or None for no VKX_CONFIG_PATH at all. display: the DISPLAY, or
    None for none. env: more environment variables.
    """

    CONFIG_NAME = "vkxbrowser.conf"

    def __init__(self, workdir, display, config=None, env=None, binary=None):
        self.workdir = workdir
        home = os.path.join(workdir, "home")
        extra = dict(env or {})
        self.config_path = None
        if config is not None:
            self.config_path = os.path.join(workdir, self.CONFIG_NAME)
            with open(self.config_path, "w", encoding="utf-8") as out:
                if isinstance(config, dict):
                    out.write("".join(f"{k}={v}\n" for k, v in config.items()))
                else:
                    out.write(config)
            extra.setdefault("VKX_CONFIG_PATH", self.config_path)
        become_subreaper()
        super().__init__([binary or kiosk_binary()], env=clean_environment(display, home, extra),
                         name="vkxbrowser", cwd=workdir)
        self._helpers = {}

    def helpers(self):
        """The kiosk's child processes (the engine's helpers) seen so far,
        looking again now. stop() ends those that are left."""
        if self.alive():
            for info in children_of(self.pid):
                self._helpers[info.pid] = info
        return list(self._helpers.values())

    def wait_for_helpers(self, count=2, timeout=DEFAULT_TIMEOUT):
        """Waits until the kiosk has at least count child processes."""
        return wait_until(lambda: len(self.helpers()) >= count and self.helpers(), timeout,
                          what=f"{count} engine helper processes")

    def stop(self, grace=0.0):
        """Ends the kiosk (SIGKILL unless grace > 0 allows a SIGTERM first)
        and every helper of it that is still there, by PID."""
        if self.alive():
            self.helpers()
        code = super().stop(grace) if grace > 0 else self.kill()
        reap_orphans(set(self._helpers))
        for pid, seen in self._helpers.items():
            info = read_proc(pid)
            if info and info.state != "Z" and info.start == seen.start:
                # Not re-parented to us (no subreaper), yet the same process:
                # end it all the same.
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        return code


class KioskTestCase(unittest.TestCase):
    """One Xvfb (and optionally a window manager) and one HTTP server for the
    test class; a fresh working directory and kiosk per test."""

    window_manager = None  # e.g. ("openbox", "--sm-disable")
    needs_display = True

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        kiosk_binary()
        cls.xvfb = cls.wm = None
        cls.http = HttpServer()
        try:
            if cls.needs_display:
                cls.xvfb = Xvfb()
                cls.x = XDisplay(cls.xvfb.display)
                if cls.window_manager:
                    if not shutil.which(cls.window_manager[0]):
                        raise unittest.SkipTest(f"{cls.window_manager[0]} is not installed")
                    cls.wm = WindowManager(cls.x, cls.window_manager)
        except BaseException:
            cls._stop_class_services()
            raise

    @classmethod
    def tearDownClass(cls):
        cls._stop_class_services()
        super().tearDownClass()

    @classmethod
    def _stop_class_services(cls):
        if cls.wm:
            cls.wm.stop()
        if cls.xvfb:
            cls.xvfb.stop()
        cls.http.stop()

    def setUp(self):
        super().setUp()
        self.workdir = tempfile.mkdtemp(prefix="vkx-it-")
        self.addCleanup(shutil.rmtree, self.workdir, ignore_errors=True)

    @property
    def display(self):
        return self.xvfb.display if self.xvfb else None

    def start_kiosk(self, config=None, display="default", env=None):
        """Starts the kiosk; it is ended at the test's end. display "default"
        is the class's display."""
        kiosk = Kiosk(self.workdir, self.display if display == "default" else display,
                      config, env)
        self.addCleanup(kiosk.stop)
        return kiosk

    def start_kiosk_with_page(self, html, path="/", **config):
        """Serves html at path and starts the kiosk on it, with the other
        configuration keys given."""
        return self.start_kiosk(dict(url=self.http.page(path, html), **config))

    def xhelper(self):
        return XHelper(self.x)

    def record_wm(self, seconds=60.0):
        recorder = self.xhelper().record_wm(seconds)
        self.addCleanup(recorder.stop)
        return recorder

    def watch(self, window, seconds=60.0):
        watch = self.xhelper().watch(window, seconds)
        self.addCleanup(watch.stop)
        return watch

    def save_screenshot(self, image, label):
        """Keeps a screenshot for a failure report when VKX_TEST_ARTIFACTS
        names a directory; returns the path or None."""
        folder = os.environ.get("VKX_TEST_ARTIFACTS")
        if not folder:
            return None
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, f"{self.id()}.{label}.png")
        image.save_png(path)
        return path


CONFIG_HEADER = "Configuration values:"


def printed_configuration(lines):
    """The eleven lines of the configuration dump, from its header on."""
    try:
        start = lines.index(CONFIG_HEADER)
    except ValueError:
        return []
    return lines[start:start + 11]


def wait_for_page(kiosk, status, url, start=0, timeout=DEFAULT_TIMEOUT):
    """The "Page loaded, status code: <status>" line that is followed by
    "URL: <url>", at or after stdout line start."""
    deadline = time.monotonic() + timeout
    while True:
        loaded = kiosk.wait_for_line(rf"^Page loaded, status code: {status}$", start=start,
                                     timeout=max(0.0, deadline - time.monotonic()))
        following = kiosk.wait_for_line(r"", start=loaded.index + 1,
                                        timeout=max(0.0, deadline - time.monotonic()))
        if following.text == f"URL: {url}":
            return loaded
        start = loaded.index + 1


def wait_for_nth_line(process, pattern, count, stream="stdout", start=0, timeout=DEFAULT_TIMEOUT):
    """The count-th line at or after index start that pattern matches. Lines
    of stdout and stderr are read by separate threads: a line seen on one
    stream says nothing of how far the other has been read."""
    deadline = time.monotonic() + timeout
    line = None
    for _ in range(count):
        line = process.wait_for_line(pattern, stream=stream, start=start,
                                     timeout=max(0.0, deadline - time.monotonic()))
        start = line.index + 1
    return line


class PrivateFilesTestCase(KioskTestCase):
    """A KioskTestCase whose kiosks run with private system files (trust
    store, hosts) kept in a scratch folder for the class: prepare_files()
    fills cls.folder; the class is skipped where no private mount namespace
    can be made."""

    folder_prefix = "vkx-private-"

    @classmethod
    def prepare_files(cls):
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        reason = PrivateSystemFiles.unavailable_reason()
        if reason:
            raise unittest.SkipTest(reason)
        super().setUpClass()
        cls.folder = tempfile.mkdtemp(prefix=cls.folder_prefix)
        try:
            cls.prepare_files()
        except BaseException:
            shutil.rmtree(cls.folder, ignore_errors=True)
            cls._stop_class_services()
            raise

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)
        super().tearDownClass()


def main():
    unittest.main(verbosity=2)

