"""A page cannot leave the web: every way out a hostile page tries is
refused with one line, and the page stays alive.

The page is a column of rows; clicking a row runs that row's script with a
person's gesture. Each vector is one row of a table."""

import glob
import os
import re
import shutil
import signal
import subprocess
import time

import vkxtest
from vkxtest import Kiosk, KioskTestCase, Response, click_at
from test_client import LAUNCHER, kiosk_test_binary
from test_navigation import stand_in_opener

ROW = 24
TITLE = "lockdown"
SECRET_USER = "kiosk-user-7f3a"
SECRET_PASSWORD = "pw-c0ffee-9d2e"
SECRETS = {"VKX_BRELLIK_USERNAME": SECRET_USER, "VKX_BRELLIK_PASSWORD": SECRET_PASSWORD,
           "VKX_CLIENT_CERT_PIN": "pin-4711-c3rt"}
BUS = "unix:path=/nonexistent/vkx-test-bus"

# (script run on a click, the URL refused). The first row runs first:
# window.close() is honoured by the engine only while the history has one entry.
FULLSCREEN_VECTORS = [
    ("window.open('file:///etc/passwd')", "file:///etc/passwd"),
    ("window.open('file:///proc/self/environ')", "file:///proc/self/environ"),
    ("window.open('file:///')", "file:///"),
    ("window.open('webkit://gpu')", "webkit://gpu"),
    ("window.open('view-source:' + location.href)", "view-source:{base}/"),
    ("window.open('data:text/html,hi')", "data:text/html,hi"),
    ("location.href = '/to-file'", "{base}/to-file"),
    ("location.href = '/to-script'", "javascript:document.title='X'"),
    ("location.href = 'mailto:a@b.test'", "mailto:a@b.test"),
    ("location.href = 'tel:+123'", "tel:+123"),
    ("location.href = 'sms:+123'", "sms:+123"),
    ("location.href = 'smb://share.test/x'", "smb://share.test/x"),
    ("location.href = 'ssh://host.test'", "ssh://host.test"),
    ("location.href = 'ftp://127.0.0.1/x'", "ftp://127.0.0.1/x"),
    ("location.href = 'unknownscheme:x'", "unknownscheme:x"),
    ("location.href = 'about:gpu'", "about:gpu"),
    ("location.href = 'inspector://x'", "inspector://x"),
    ("location.href = 'view-source:' + location.href", "view-source:{base}/"),
]
WINDOW_VECTORS = [
    ("window.open('file:///etc/passwd')", "file:///etc/passwd"),
    ("window.open('webkit://gpu')", "webkit://gpu"),
    ("window.open('view-source:' + location.href)", "view-source:{base}/"),
    ("window.open('data:text/html,hi')", "data:text/html,hi"),
]


def rows_page(scripts, head="", body=""):
    rows = "".join(
        f"<div onclick=\"{script.replace(chr(34), '&quot;')}\" style='height:{ROW}px;"
        f"background:hsl({i * 37 % 360},60%,70%)'>{i}</div>"
        for i, script in enumerate(scripts))
    return (f"<!DOCTYPE html><html><head><title>{TITLE}</title>{head}</head>"
            f"<body style='margin:0'>{rows}{body}</body></html>")


def environments(pids):
    """{pid: environ bytes} of the processes still there."""
    found = {}
    for pid in pids:
        try:
            with open(f"/proc/{pid}/environ", "rb") as env:
                found[pid] = env.read()
        except OSError:
            pass
    return found


class LockdownTest(KioskTestCase):

    def start(self, scripts, extra_env=None, binary=None, head="", body="", **config):
        self.http.route("/to-file", Response(302, headers={"Location": "file:///etc/passwd"}))
        self.http.route("/to-script",
                        Response(302, headers={"Location": "javascript:document.title='X'"}))
        config = dict(url=self.http.page("/", rows_page(scripts, head, body)), enableToolbar="false",
                      **config)
        kiosk = Kiosk(self.workdir, self.display, config, dict(SECRETS, **(extra_env or {})),
                      binary=binary)
        self.addCleanup(kiosk.stop)
        self.host = self.x.find_host_window()
        kiosk.wait_for_line(r"^Page loaded, status code: 200$")
        self.wait_title(TITLE)
        return kiosk

    def title(self):
        found = self.x.text_property(self.host, "_NET_WM_NAME")
        return found and found[1]

    def wait_title(self, title, timeout=10):
        vkxtest.wait_until(lambda: self.title() == title, timeout, what=f"the title {title!r}")

    def click_row(self, index):
        geometry = self.x.geometry(self.host)
        click_at(self.x, geometry.x + 200, geometry.y + index * ROW + ROW // 2)

    def assert_refused_and_alive(self, kiosk, vectors, first_row=0):
        """Clicks each vector's row; each is refused with its line, no page
        loads, and the page is the same page afterwards."""
        base = self.http.url("/").rstrip("/")
        for row, (script, url) in enumerate(vectors, first_row):
            url = url.format(base=base)
            with self.subTest(script=script):
                out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
                self.click_row(row)
                kiosk.wait_for_line("^" + re.escape(f"URL not allowed: {url}") + "$",
                                    stream="stderr", start=err, timeout=10)
                time.sleep(0.3)
                self.assertEqual([l for l in kiosk.lines()[out:] if l.startswith("Page loaded")],
                                 [], kiosk.describe())
                self.assertEqual([l for l in kiosk.lines("stderr")[err:]
                                  if re.match(r"^(Renderer|Load of|INI)", l)], [])
                self.assertEqual(self.title(), TITLE)
        self.assertTrue(kiosk.alive(), kiosk.describe())

    def assert_no_secret_in(self, environs, where, names_wiped=()):
        """No credential in any environment; their names are gone too, but
        for the processes in names_wiped (the kiosk itself, whose start
        environment keeps the names with the values overwritten)."""
        for pid, env in environs.items():
            for name, value in SECRETS.items():
                if pid not in names_wiped:
                    self.assertNotIn(name.encode(), env, f"{where} {pid}")
                self.assertNotIn(value.encode(), env, f"{where} {pid}")

    def test_full_screen_page_reaches_only_the_web(self):
        alive = "document.title = 'alive'"
        scripts = ["window.close()"] + [s for s, _ in FULLSCREEN_VECTORS] + [alive]
        kiosk = self.start(scripts, displayMode="fullscreen")
        # The page cannot close the kiosk.
        err = len(kiosk.lines("stderr"))
        self.click_row(0)
        kiosk.wait_for_line(r"^Page asked to close the window: ignored$", stream="stderr",
                            start=err, timeout=10)
        # A redirect to a local file: the engine ends the renderer for it once,
        # and the page is back; from then on that navigation is refused.
        to_file = 1 + [s for s, _ in FULLSCREEN_VECTORS].index("location.href = '/to-file'")
        out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
        self.click_row(to_file)
        kiosk.wait_for_line("^" + re.escape(f"URL not allowed: {self.http.url('/to-file')}") + "$",
                            stream="stderr", start=err, timeout=10)
        kiosk.wait_for_line(r"^Page loaded, status code: 200$", start=out)
        self.wait_title(TITLE)
        self.assert_refused_and_alive(kiosk, FULLSCREEN_VECTORS, first_row=1)
        # Still the same live page, its renderer restarted that once only.
        self.click_row(len(scripts) - 1)
        self.wait_title("alive")
        self.assertEqual(kiosk.lines("stdout").count("Page loaded, status code: 200"), 2)
        # No process of the kiosk's tree holds the credentials.
        tree = [kiosk.pid] + [p.pid for p in vkxtest.descendants_of(kiosk.pid)]
        self.assertGreaterEqual(len(tree), 3)
        self.assert_no_secret_in(environments(tree), "process", names_wiped=(kiosk.pid,))

    def test_window_mode_launches_nothing_but_the_web(self):
        out = os.path.join(self.workdir, "launched")
        launcher = os.path.join(self.workdir, "launcher.sh")
        with open(launcher, "w") as script:
            script.write(LAUNCHER.format(out=out).replace(
                'mv "{out}.$$.tmp" "{out}.$$"'.format(out=out),
                'env -0 > "{out}.env.$$" && mv "{out}.$$.tmp" "{out}.$$"'.format(out=out)))
        os.chmod(launcher, 0o755)
        allowed = self.http.url("/allowed")
        scripts = [s for s, _ in WINDOW_VECTORS] + [f"window.open('{allowed}')"]
        kiosk = self.start(scripts, {"VKX_TEST_LAUNCHER": launcher,
                                     "DBUS_SESSION_BUS_ADDRESS": BUS},
                           binary=kiosk_test_binary(), displayMode="window")
        self.addCleanup(lambda: [os.unlink(l[len("INI written to: "):]) for l in kiosk.lines()
                                 if l.startswith("INI written to: ")])
        self.assert_refused_and_alive(kiosk, WINDOW_VECTORS)
        self.assertFalse(glob.glob(out + ".*"))
        # The web still goes to the launcher, in the environment the kiosk
        # was started with: its bus address, none of its own settings, no
        # credentials.
        self.click_row(len(WINDOW_VECTORS))
        runs = vkxtest.wait_until(lambda: glob.glob(out + ".[0-9]*"), 10, what="the launcher")
        self.assertEqual(len(runs), 1)
        with open(glob.glob(out + ".env.*")[0], "rb") as env:
            variables = dict(v.split(b"=", 1) for v in env.read().split(b"\0") if b"=" in v)
        self.assert_no_secret_in({0: b"\0".join(k + b"=" + v for k, v in variables.items())},
                                 "launcher")
        self.assertEqual(variables.get(b"DBUS_SESSION_BUS_ADDRESS"), BUS.encode())
        for own in (b"GTK_OVERLAY_SCROLLING", b"GSETTINGS_BACKEND"):
            self.assertNotIn(own, variables)

    def test_script_dialogs_are_no_hang_and_a_flood_ends(self):
        flood = self.http.page("/flood", rows_page([]).replace(
            "</head>", "<script>onload = () => { for (let i = 0; i < 400; ++i) alert(i);"
                       " document.title = 'done'; }</script></head>"))
        head = ("<script>onload = () => setTimeout(() => { alert('left open');"
                " document.title = 'answered';"
                f" setTimeout(() => location.href = '{flood}', 500); }}, 300)</script>")
        kiosk = self.start([], head=head)
        # Left open for 25 s: a person may take their time; no renderer is ended.
        time.sleep(25)
        self.assertEqual([l for l in kiosk.lines("stderr") if l.startswith("Renderer")], [])
        shot = self.x.screenshot()
        self.save_screenshot(shot, "alert")
        self.x.key("Return")
        self.wait_title("answered")
        # Hundreds in a row: a few are shown, then the page is usable again.
        deadline = time.monotonic() + 20
        while self.title() != "done":
            self.assertLess(time.monotonic(), deadline, kiosk.describe())
            self.x.key("Return")
            time.sleep(0.5)
        self.assertEqual(len([l for l in kiosk.lines("stderr")
                              if l.startswith("Too many script dialogs")]), 1, kiosk.describe())
        self.assertEqual([l for l in kiosk.lines("stderr") if l.startswith("Renderer")], [])
        self.assertTrue(kiosk.alive())

    def test_outside_programs_at_most_three_in_ten_seconds(self):
        bin_dir, calls = stand_in_opener(self.workdir, environment=True)
        timer = ("let n = 0; const t = setInterval(() => {"
                 " location.href = 'vmware-view://broker.test/' + n++;"
                 " if (n == 60) clearInterval(t); }, 50)")
        kiosk = self.start([timer], {"PATH": bin_dir + os.pathsep + os.environ["PATH"],
                                     "DBUS_SESSION_BUS_ADDRESS": BUS})
        self.click_row(0)
        kiosk.wait_for_line(r"^Default handler launch dropped", stream="stderr", timeout=10)
        time.sleep(4)
        records = vkxtest.wait_until(lambda: len(os.listdir(calls)) >= 3 and os.listdir(calls), 5,
                                     what="three openers")
        self.assertEqual(len(records), 3, records)
        self.assertGreaterEqual(len([l for l in kiosk.lines("stderr")
                                     if l.startswith("Default handler launch dropped")]), 50)
        for name in records:
            with open(os.path.join(calls, name), "rb") as record:
                argv, env = record.read().split(b"\n", 1)
            self.assert_no_secret_in({int(name): env}, "opener")
            self.assertIn(b"DBUS_SESSION_BUS_ADDRESS=" + BUS.encode() + b"\0", env)
        self.assertTrue(kiosk.alive())

    def test_pages_never_write_the_clipboard(self):
        if not shutil.which("xclip"):
            self.skipTest("xclip is not installed")
        select = ("const r = document.createRange(); r.selectNodeContents(document.getElementById"
                  "('{}')); getSelection().removeAllRanges(); getSelection().addRange(r);")
        copy_handler = ("<script>addEventListener('copy', e => { e.clipboardData.setData("
                        "'text/plain', 'page-handler'); e.preventDefault(); });</script>")
        scripts = [
            "navigator.clipboard.writeText('page-write-text').catch(() => {});"
            " document.title = String(document.execCommand('copy'));",
            select.format("mine") + " document.execCommand('copy');"
            " document.execCommand('cut');",
            select.format("person"),
        ]
        kiosk = self.start(scripts, head=copy_handler, disableKbdShortcuts="false",
                           body="<p id=mine>page text</p><p id=person>person text</p>")

        def clipboard():
            result = subprocess.run(["xclip", "-o", "-selection", "clipboard"],
                                    env=dict(os.environ, DISPLAY=self.display),
                                    capture_output=True, timeout=5)
            return result.stdout.decode(errors="replace")

        self.click_row(0)
        self.wait_title("false")
        self.click_row(1)
        time.sleep(1)
        self.assertNotIn("page", clipboard())
        # A person's own copy still works, whatever the page's handler says.
        self.click_row(2)
        self.x.key("ctrl+c")
        vkxtest.wait_until(lambda: clipboard() == "person text", 5, what="the person's copy")
        self.assertTrue(kiosk.alive())

    def test_nothing_left_behind_per_start(self):
        home = os.path.join(self.workdir, "home")
        before_tmp = set(glob.glob("/tmp/vkx-??????"))

        def cycle():
            kiosk = Kiosk(self.workdir, self.display, {"url": self.http.page("/", TITLE)})
            self.addCleanup(kiosk.stop)
            kiosk.wait_for_line(r"^Page loaded, status code: 200$")
            kiosk.wait_for_helpers(2)
            kiosk.signal(signal.SIGTERM)
            kiosk.wait_exit(10)
            kiosk.stop()

        def files():
            return sorted(os.path.join(d, f) for d, _, fs in os.walk(home) for f in fs + _)

        cycle()
        after_one = files()
        for _ in range(7):
            cycle()
        self.assertEqual(files(), after_one)
        self.assertEqual(set(glob.glob("/tmp/vkx-??????")) - before_tmp, set())
