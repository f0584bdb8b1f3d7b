"""The page's renderer in the engine's sandbox, and one managed window only."""

import os
import shlex
import time

import vkxtest
from vkxtest import KioskTestCase, PrivateSystemFiles, click_at, descendants_of, wait_until

LOADED = r"^Page loaded, status code: 200$"
UNAVAILABLE = "Renderer sandbox unavailable: "
BLUE = (40, 120, 200)
# Each control whose default opens a chooser; laid out three to a row.
CONTROLS = ["color", "date", "time", "datetime-local", "month", "week", "select", "file"]


def renderer_of(kiosk, other_than=()):
    def look():
        found = [p for p in descendants_of(kiosk.pid)
                 if p.comm.startswith("WebKitWebProc") and p.pid not in other_than]
        return found[0] if len(found) == 1 else None
    return wait_until(look, 20, what="the kiosk's web process")


def ns(pid, kind):
    return os.readlink(f"/proc/{pid}/ns/{kind}")


class SandboxTest(KioskTestCase):

    window_manager = ("openbox", "--sm-disable")

    def test_renderer_is_confined(self):
        # Loads, keys, console and crash recovery: the other suites, sandboxed by default.
        secrets = [self.workdir + name for name in ("/cookies", "/home/a", "/home/.cache/b/c")]
        for path in secrets:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "w").close()
        kiosk = self.start_kiosk({"url": self.http.page("/", vkxtest.solid_page(BLUE)),
                                  "cacheCookies": "true", "cookieFile": secrets[0]})
        kiosk.wait_for_line(LOADED, timeout=30)
        renderer = renderer_of(kiosk)
        for kind in ("pid", "mnt", "net"):
            self.assertNotEqual(ns(kiosk.pid, kind), ns(renderer.pid, kind), kind)
        for path in [kiosk.config_path] + secrets:
            self.assertFalse(os.path.lexists(f"/proc/{renderer.pid}/root{path}"), path)
        self.assertFalse([line for line in kiosk.lines("stderr") if line.startswith(UNAVAILABLE)])

    def run_without(self, program, **config):
        """The kiosk with an empty file mounted over program."""
        reason = PrivateSystemFiles.unavailable_reason()
        if reason:
            self.skipTest(reason)
        empty, wrapper = os.path.join(self.workdir, "empty"), os.path.join(self.workdir, "wrap")
        open(empty, "w").close()
        with open(wrapper, "w", encoding="utf-8") as out:
            out.write("#!/bin/sh\nexec unshare --mount --propagation private -- /bin/sh -c "
                      f"'mount --bind {shlex.quote(empty)} {program} && exec \"$0\"' "
                      f"{shlex.quote(os.path.abspath(vkxtest.kiosk_binary()))}\n")
        os.chmod(wrapper, 0o755)
        kiosk = vkxtest.Kiosk(self.workdir, self.display,
                              dict(url=self.http.page("/", vkxtest.solid_page(BLUE)), **config),
                              binary=wrapper)
        self.addCleanup(kiosk.stop)
        return kiosk

    def test_unusable_sandbox_is_reported_and_may_be_required(self):
        for program, reason in (("/usr/bin/bwrap", "/usr/bin/bwrap cannot run: Permission denied"),
                                ("/usr/bin/xdg-dbus-proxy",
                                 "bwrap: execvp /usr/bin/xdg-dbus-proxy: Permission denied")):
            with self.subTest(program=program):
                kiosk = self.run_without(program)
                kiosk.wait_for_line(LOADED, timeout=30)
                self.assertEqual(ns(kiosk.pid, "pid"), ns(renderer_of(kiosk).pid, "pid"))
                self.assertEqual([line for line in kiosk.lines("stderr")
                                  if line.startswith(UNAVAILABLE)], [UNAVAILABLE + reason])
                kiosk.stop()
        kiosk = self.run_without("/usr/bin/bwrap", requireSandbox="true")
        self.assertEqual(kiosk.wait_exit(20), 255, kiosk.describe())
        self.assertIn(UNAVAILABLE + "/usr/bin/bwrap cannot run: Permission denied",
                      kiosk.lines("stderr"))
        self.assertNotIn("Page loaded", "\n".join(kiosk.lines()))

    def test_form_controls_keep_one_managed_window(self):
        ran = self.workdir + "/dbus-launch-ran"
        with open(self.workdir + "/dbus-launch", "w", encoding="utf-8") as out:
            out.write(f"#!/bin/sh\ntouch {shlex.quote(ran)}\nexit 1\n")
        os.chmod(self.workdir + "/dbus-launch", 0o755)
        html = "".join(
            f"<{'select' if kind == 'select' else 'input'} type='{kind}' style='position:absolute;"
            f"width:300px;height:60px;left:{10 + i % 3 * 320}px;top:{10 + i // 3 * 100}px'>"
            + ("<option>a<option>b</select>" if kind == "select" else "")
            for i, kind in enumerate(CONTROLS))
        kiosk = self.start_kiosk({"url": self.http.page("/", vkxtest.solid_page(BLUE, body=html)),
                                  "enableToolbar": "false", "width": "1000", "height": "400"},
                                 env={"PATH": self.workdir + os.pathsep + os.environ["PATH"]})
        kiosk.wait_for_line(LOADED, timeout=30)
        engine = self.x.geometry(self.x.kiosk_windows(self.x.find_host_window())["engine"])
        self.x.wait_for_colour((engine.abs_x + 5, engine.abs_y + 300, 200, 40), BLUE)
        managed = self.x.root_property_values("_NET_CLIENT_LIST", "32x")
        self.assertEqual(len(managed), 1)
        for i, kind in enumerate(CONTROLS):
            with self.subTest(control=kind):
                err = len(kiosk.lines("stderr"))
                click_at(self.x, engine.abs_x + 160 + i % 3 * 320, engine.abs_y + 40 + i // 3 * 100)
                if kind in ("color", "file"):
                    kiosk.wait_for_line(rf"^{kind.capitalize()} chooser refused$",
                                        stream="stderr", start=err)
                time.sleep(1.5)  # time for a dialog to be mapped and managed
                self.assertEqual(self.x.root_property_values("_NET_CLIENT_LIST", "32x"), managed)
                self.x.xdotool("key", "Escape")  # what opened over the page closes
        self.assertFalse(os.path.exists(ran), "dbus-launch was started")
        self.assertTrue(kiosk.alive())


if __name__ == "__main__":
    vkxtest.main()
