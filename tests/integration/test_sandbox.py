"""The page's renderer in the engine's sandbox, and one window only.

By default the web process runs in other PID, mount and network namespaces
than the kiosk, without the kiosk's configuration, cookie file or home in
its view, and the page still loads, gets keys, logs to the console and is
recovered after a crash. With bwrap made unusable (an empty file mounted
over it, in a mount namespace of the kiosk's own) the kiosk says so and runs
without the sandbox, or ends with 255 when the sandbox is required. Form
controls never open a second managed window, and nothing starts dbus-launch."""

import os
import re
import shlex
import signal
import time

import harness
from harness import KioskTestCase, PrivateSystemFiles, click_at, descendants_of, wait_until

BWRAP = "/usr/bin/bwrap"
DBUS_PROXY = "/usr/bin/xdg-dbus-proxy"
PAGE_LOADED = r"^Page loaded, status code: 200$"
UNAVAILABLE = "Renderer sandbox unavailable: "
BACKGROUND = (40, 120, 200)

# Controls at fixed places (CSS pixels from the page's top left corner):
# each one whose default opens a toolkit chooser.
CONTROLS = {
    "color": (10, 10), "date": (330, 10), "time": (650, 10),
    "datetime-local": (10, 110), "month": (330, 110), "week": (650, 110),
    "select": (10, 210), "file": (330, 210),
}
CONTROL_SIZE = (300, 60)


def controls_page():
    items = []
    for kind, (left, top) in CONTROLS.items():
        style = (f"position:absolute;left:{left}px;top:{top}px;width:{CONTROL_SIZE[0]}px;"
                 f"height:{CONTROL_SIZE[1]}px;font-size:24px")
        if kind == "select":
            items.append(f"<select style='{style}'><option>one</option><option>two</option>"
                         "<option>three</option></select>")
        else:
            items.append(f"<input type='{kind}' style='{style}'>")
    return ("<!DOCTYPE html><html><head><style>html,body{margin:0;height:100%;"
            f"background:rgb{BACKGROUND}}}</style></head><body>" + "".join(items) +
            "</body></html>")


def renderer_of(kiosk, other_than=(), timeout=20.0):
    """The kiosk's one web process (at any depth below it)."""
    def look():
        found = [info for info in descendants_of(kiosk.pid)
                 if info.comm.startswith("WebKitWebProc") and info.pid not in other_than]
        return found[0] if len(found) == 1 else None
    return wait_until(look, timeout, what="the kiosk's web process")


def namespace(pid, kind):
    return os.readlink(f"/proc/{pid}/ns/{kind}")


def stand_in_dbus_launch(folder):
    """A dbus-launch in folder/bin that records that it ran, and fails."""
    bin_dir = os.path.join(folder, "bin")
    os.makedirs(bin_dir)
    record = os.path.join(folder, "dbus-launch-ran")
    path = os.path.join(bin_dir, "dbus-launch")
    with open(path, "w", encoding="utf-8") as out:
        out.write(f"#!/bin/sh\necho \"$@\" >> {shlex.quote(record)}\nexit 1\n")
    os.chmod(path, 0o755)
    return bin_dir, record


class SandboxTest(KioskTestCase):

    window_manager = ("openbox", "--sm-disable")

    def managed_windows(self):
        return set(self.x.root_property_values("_NET_CLIENT_LIST", "32x") or [])

    def test_renderer_is_confined_and_the_page_works(self):
        cookie_file = os.path.join(self.workdir, "cookies.txt")
        home = os.path.join(self.workdir, "home")
        # Files of the kiosk user: in the home, its cache and configuration.
        secrets = [cookie_file] + [os.path.join(home, *parts) for parts in (
            ("secret",), (".cache", "other-program", "secret"), (".config", "secret"))]
        for path in secrets:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="ascii") as out:
                out.write("")
        url = self.http.page("/", harness.solid_page(BACKGROUND, body="""<script>
            console.log('from the sandbox');
            document.addEventListener('keydown', e => fetch('/key?k=' + e.key));
            </script>"""))
        kiosk = self.start_kiosk({"url": url, "enableToolbar": "false", "cacheCookies": "true",
                                  "cookieFile": cookie_file})
        kiosk.wait_for_line(PAGE_LOADED, timeout=30)
        # The web-process extension is in the sandbox: the console still reaches the log.
        kiosk.wait_for_line(rf"^>> from the sandbox \(Source: {re.escape(url)}, Line: \d+\)$")
        self.assertFalse([line for line in kiosk.lines("stderr") if line.startswith(UNAVAILABLE)],
                         kiosk.describe())

        renderer = renderer_of(kiosk)
        for kind in ("pid", "mnt", "net"):
            self.assertNotEqual(namespace(kiosk.pid, kind), namespace(renderer.pid, kind), kind)
        # What the kiosk reads and writes is not in the renderer's view.
        root = f"/proc/{renderer.pid}/root"
        self.assertTrue(os.path.isdir(root + "/usr/lib"))
        for private in [kiosk.config_path] + secrets:
            self.assertTrue(os.path.exists(private))
            self.assertFalse(os.path.lexists(root + private), private)

        # Keys still reach the page.
        host = self.x.find_host_window()
        engine = self.x.geometry(self.x.kiosk_windows(host)["engine"])
        self.x.wait_for_colour((engine.abs_x + 20, engine.abs_y + 20, 40, 40), BACKGROUND)
        click_at(self.x, engine.abs_x + 50, engine.abs_y + 50)
        typed = time.monotonic()
        self.x.xdotool("key", "q")
        self.assertEqual(self.http.wait_for_request("/key", after=typed).path, "/key?k=q")

        # A crashed renderer comes back, in the sandbox again.
        loads = len([line for line in kiosk.lines() if re.search(PAGE_LOADED, line)])
        os.kill(renderer.pid, signal.SIGKILL)
        kiosk.wait_for_line(rf"^Renderer process crashed: reloading {re.escape(url)} in 0 ms$",
                            stream="stderr")
        wait_until(lambda: len([line for line in kiosk.lines()
                                if re.search(PAGE_LOADED, line)]) > loads, 20,
                   what="the page loaded again")
        fresh = renderer_of(kiosk, other_than={renderer.pid})
        self.assertNotEqual(namespace(kiosk.pid, "pid"), namespace(fresh.pid, "pid"))
        self.assertTrue(kiosk.alive())

    def run_without(self, program=BWRAP, **config):
        """Starts the kiosk with an empty file over program, in a mount
        namespace of its own; returns it."""
        reason = PrivateSystemFiles.unavailable_reason()
        if reason:
            self.skipTest(reason)
        if not os.path.exists(program):
            self.skipTest(f"{program} is not installed")
        empty = os.path.join(self.workdir, "empty")
        open(empty, "w").close()
        wrapper = os.path.join(self.workdir, "without-program")
        with open(wrapper, "w", encoding="utf-8") as out:
            out.write("#!/bin/sh\n"
                      "exec unshare --mount --propagation private -- /bin/sh -c '\n"
                      '  mount --bind "$1" "$2" || exit 97\n'
                      '  shift 2\n'
                      f'  exec "$@"\' without-program {shlex.quote(empty)} {program} '
                      f'{shlex.quote(os.path.abspath(harness.kiosk_binary()))} "$@"\n')
        os.chmod(wrapper, 0o755)
        url = self.http.page("/plain", harness.solid_page(BACKGROUND))
        kiosk = harness.Kiosk(self.workdir, self.display, dict(url=url, **config),
                              binary=wrapper)
        self.addCleanup(kiosk.stop)
        return kiosk

    def test_unusable_bwrap_or_proxy_is_reported_and_the_page_shown(self):
        # Either way the engine would abort the kiosk at its first page.
        for program, reason in ((BWRAP, f"{BWRAP} cannot run: Permission denied"),
                                (DBUS_PROXY, f"bwrap: execvp {DBUS_PROXY}: Permission denied")):
            with self.subTest(program=program):
                kiosk = self.run_without(program)
                line = kiosk.wait_for_line(rf"^{UNAVAILABLE}", stream="stderr", timeout=20)
                self.assertEqual(line.text, UNAVAILABLE + reason)
                kiosk.wait_for_line(PAGE_LOADED, timeout=30)
                renderer = renderer_of(kiosk)
                self.assertEqual(namespace(kiosk.pid, "pid"), namespace(renderer.pid, "pid"))
                self.assertTrue(kiosk.alive())
                self.assertEqual([text for text in kiosk.lines("stderr")
                                  if text.startswith(UNAVAILABLE)], [line.text])
                kiosk.stop()

    def test_required_sandbox_that_cannot_start_ends_the_kiosk(self):
        kiosk = self.run_without(requireSandbox="true")
        self.assertEqual(kiosk.wait_exit(20), 255, kiosk.describe())
        self.assertEqual([text for text in kiosk.lines("stderr") if text.startswith(UNAVAILABLE)],
                         [f"{UNAVAILABLE}{BWRAP} cannot run: Permission denied"])
        self.assertFalse([text for text in kiosk.lines() if text.startswith("Page loaded")])

    def test_form_controls_keep_one_managed_window(self):
        bin_dir, dbus_record = stand_in_dbus_launch(self.workdir)
        kiosk = self.start_kiosk(
            {"url": self.http.page("/controls", controls_page()), "enableToolbar": "false",
             "width": "1000", "height": "400"},
            env={"PATH": bin_dir + os.pathsep + os.environ["PATH"]})
        host = self.x.find_host_window()
        kiosk.wait_for_line(PAGE_LOADED, timeout=30)
        engine = self.x.geometry(self.x.kiosk_windows(host)["engine"])
        self.x.wait_for_colour((engine.abs_x + 5, engine.abs_y + 300, 200, 40), BACKGROUND)
        managed = self.managed_windows()
        self.assertEqual(len(managed), 1, managed)

        refused = {"color": "Color chooser refused", "file": "File chooser refused"}
        for kind, (left, top) in CONTROLS.items():
            with self.subTest(control=kind):
                err = len(kiosk.lines("stderr"))
                click_at(self.x, engine.abs_x + left + CONTROL_SIZE[0] // 2,
                         engine.abs_y + top + CONTROL_SIZE[1] // 2)
                if kind in refused:
                    kiosk.wait_for_line(rf"^{refused[kind]}$", stream="stderr", start=err)
                # Time for a dialog to be mapped and managed.
                time.sleep(1.5)
                self.assertEqual(self.managed_windows(), managed)
                # Whatever shows inside the page (a menu, a calendar) goes away.
                self.x.xdotool("key", "Escape")
                time.sleep(0.3)
        self.assertEqual(self.managed_windows(), managed)
        self.assertFalse(os.path.exists(dbus_record), "dbus-launch was started")
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "home", ".config", "dconf")))
        self.assertTrue(kiosk.alive())


if __name__ == "__main__":
    harness.main()
