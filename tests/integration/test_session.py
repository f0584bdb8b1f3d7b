"""The example session (examples/session/vkxbrowser-session) as it ships, on
an X server of its own: no key or click of openbox's stock configuration
gets past the kiosk. No menu or window opens, no program starts, the one
desktop stays, and the kiosk's window stays shown where it was, focused."""

import contextlib
import os
import select
import shutil
import signal
import unittest

import vkxtest
from vkxtest import (KioskTestCase, ManagedProcess, clean_environment, descendants_of,
                     kiosk_binary, read_proc, reap_orphans, solid_page, wait_for_page, wait_until)

SESSION_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "examples", "session")
# What openbox's stock key bindings and menus start; each stand-in reports its run.
STAND_INS = ("x-terminal-emulator", "xterm", "x-www-browser", "kfmclient", "scrot",
             "gnome-screenshot", "obconf")
SETTLE = 1.0  # how long a key or click has to show an effect


def drag(x, y, button=1, alt=False):
    # At a hand's pace: openbox lets a drag that comes all at once go by.
    keys = ["alt"] if alt else []
    return (["mousemove", x, y] + [a for k in keys for a in ("keydown", k)] +
            ["mousedown", button, "sleep", 0.1, "mousemove", x + 40, y + 30, "sleep", 0.1,
             "mousemove", x + 80, y + 60, "sleep", 0.1, "mouseup", button] +
            [a for k in keys for a in ("keyup", k)])


class SessionWindowManagerTest(KioskTestCase):
    needs_display = False  # an X server per session: openbox keeps what the last left on the root
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        for tool in ("openbox", "xdotool"):
            if not shutil.which(tool):
                raise unittest.SkipTest(f"{tool} is not installed")
        super().setUpClass()

    def start_session(self, **env):
        """The session with vkxbrowser and the stand-ins first on PATH, a
        640x480 window, once the page has loaded."""
        self.xvfb = vkxtest.Xvfb()
        self.addCleanup(self.xvfb.stop)
        self.x = vkxtest.XDisplay(self.xvfb.display)
        bin_dir, ran = os.path.join(self.workdir, "bin"), os.path.join(self.workdir, "ran")
        os.mkdir(bin_dir)
        os.mkfifo(ran)
        self.ran_fd = os.open(ran, os.O_RDWR | os.O_NONBLOCK)  # so writers never wait
        self.addCleanup(os.close, self.ran_fd)
        scripts = {name: f'printf "%s\\n" "{name} $*" > "{ran}"' for name in STAND_INS}
        scripts["vkxbrowser"] = f'exec "{kiosk_binary()}" "$@"'
        for name, body in scripts.items():
            with open(os.path.join(bin_dir, name), "w", encoding="utf-8") as out:
                out.write(f"#!/bin/sh\n{body}\n")
            os.chmod(os.path.join(bin_dir, name), 0o755)
        url = self.http.page("/", solid_page((18, 52, 86)))
        config = os.path.join(self.workdir, "vkxbrowser.conf")
        with open(config, "w", encoding="utf-8") as out:
            out.write(f"url={url}\nwidth=640\nheight=480\nenableToolbar=false\n")
        vkxtest.become_subreaper()
        session = ManagedProcess(
            [os.path.join(SESSION_DIR, "vkxbrowser-session")], cwd=self.workdir,
            env=clean_environment(self.display, os.path.join(self.workdir, "home"), {
                "PATH": f"{bin_dir}:{os.environ['PATH']}", "VKX_CONFIG_PATH": config, **env}))
        self.addCleanup(self.end_session, session)
        wait_for_page(session, 200, url, timeout=60)
        return session

    def end_session(self, session):
        """SIGTERM to the session; what is left below it is killed by PID."""
        if not session.alive():
            return
        below = {p.pid: p.start for p in descendants_of(session.pid)}
        session.signal(signal.SIGTERM)
        try:
            session.wait_exit(timeout=20)
        finally:
            session.kill()
            for pid, start in below.items():
                info = read_proc(pid)
                if info and info.start == start and info.state != "Z":
                    with contextlib.suppress(ProcessLookupError):
                        os.kill(pid, signal.SIGKILL)
            reap_orphans(set(below))

    def in_kiosk(self, host, window):
        node = self.x.tree().find(host)
        return node is not None and node.find(window) is not None

    def state(self, session, host):
        geometry = self.x.geometry(host)
        return {
            "processes": sorted(f"{p.comm} {p.pid}" for p in descendants_of(session.pid)),
            "windows shown": sorted(hex(w) for w in self.x.shown_windows()),
            "windows managed": self.x.root_property_values("_NET_CLIENT_LIST", "32x"),
            "desktops, current, showing desktop": [self.x.root_property_values(name) for name in (
                "_NET_NUMBER_OF_DESKTOPS", "_NET_CURRENT_DESKTOP", "_NET_SHOWING_DESKTOP")],
            "kiosk window": geometry and (geometry.abs_x, geometry.abs_y, geometry.size,
                                          geometry.map_state),
            "kiosk focused": self.in_kiosk(host, self.x.focused_window()),
        }

    def assert_no_way_out(self, session, only=None):
        # The window openbox manages (vkxtest's search of the tree passes
        # over a window in the corner of its frame).
        clients = wait_until(lambda: self.x.root_property_values("_NET_CLIENT_LIST", "32x"),
                             15, what="the kiosk's window to be managed")
        self.assertEqual(len(clients), 1, clients)
        host = int(clients[0], 16)
        wait_until(lambda: self.in_kiosk(host, self.x.focused_window()), 15,
                   what="the kiosk to take the focus")
        before = self.state(session, host)
        with self.subTest("one desktop"):
            self.assertEqual(before["desktops, current, showing desktop"], [["1"], ["0"], ["0"]])

        kiosk = self.x.geometry(host)
        _, right, top, _ = (int(v) for v in self.x.property_values(
            host, "_NET_FRAME_EXTENTS", "32c"))
        page = (kiosk.abs_x + kiosk.width // 2, kiosk.abs_y + kiosk.height // 2)
        title = (page[0], kiosk.abs_y - max(top, 12) // 2)  # or the desktop above the window
        desktop = (kiosk.abs_x + kiosk.width + right + 50, page[1])
        for name, xdotool in [
                ("right click on the desktop", ["mousemove", *desktop, "click", 3]),
                ("middle click on the desktop", ["mousemove", *desktop, "click", 2]),
                ("Super+D", ["mousemove", *page, "key", "super+d"]),
                ("Super+E", ["key", "super+e"]),
                ("Print", ["key", "Print"]),
                ("Alt+Print", ["key", "alt+Print"]),
                ("Alt+Tab", ["key", "alt+Tab"]),
                ("Alt+Space", ["key", "alt+space"]),
                ("Alt+Escape", ["key", "alt+Escape"]),
                ("Super+F1", ["key", "super+F1"]),
                ("Super+F2", ["key", "super+F2"]),
                ("Ctrl+Alt+Right", ["key", "ctrl+alt+Right"]),
                ("Ctrl+Alt+Left", ["key", "ctrl+alt+Left"]),
                ("Alt and the wheel over the page", ["keydown", "alt", "click", 5, "keyup", "alt"]),
                ("double click on the title", ["mousemove", *title, "click", "--repeat", 2,
                                               "--delay", 80, 1]),
                ("drag by the title", drag(*title)),
                ("drag with Alt in the page", drag(*page, alt=True)),
                ("drag with Alt and the right button", drag(*page, 3, alt=True)),
                ("Alt+F4", ["key", "alt+F4"])]:
            if only and name not in only:
                continue
            with self.subTest(name):
                self.x.xdotool(*xdotool)
                ready, _, _ = select.select([self.ran_fd], [], [], SETTLE)
                self.assertEqual(os.read(self.ran_fd, 4096).decode() if ready else "", "")
                self.assertEqual(self.state(session, host), before)

    def test_no_way_out_through_the_window_manager(self):
        session = self.start_session()
        self.assert_no_way_out(session)
        # No root menu: openbox found no menu file (its stdout says so).
        self.assertEqual(session.lines().count(
            'Openbox-Message: Unable to find a valid menu file "menu.xml"'), 1)

    def test_missing_configuration_binds_nothing_either(self):
        # Openbox itself would fall back to the system's configuration (its
        # root menu, Super+E) or its built-in one (Alt+F4, dragging with Alt).
        missing = os.path.join(self.workdir, "missing.xml")
        session = self.start_session(VKX_OPENBOX_CONFIG=missing)
        session.wait_for_line(rf"^vkxbrowser-session: cannot read {missing}: openbox runs "
                              r"with a built-in configuration that binds nothing$", stream="stderr")
        built_in = os.path.dirname(self.x.text_property(None, "_OB_CONFIG_FILE")[1])
        self.assertNotEqual(built_in, self.workdir)
        self.assert_no_way_out(session, only=("right click on the desktop", "Super+E",
                                              "drag with Alt in the page", "Alt+F4"))
        self.end_session(session)
        self.assertFalse(os.path.exists(built_in))


if __name__ == "__main__":
    vkxtest.main()
