"""The browser client: sign-in fields filled from the environment, new
windows (loaded in place or handed to the launcher), HTML full screen, the
page title on the host window and the page's console messages."""

import json
import os
import re
import stat
import time
import unittest
import urllib.parse

import vkxtest
from vkxtest import KioskTestCase, Response

REPORT_JS = """
function report(name, data) {
  fetch('/report/' + name, {method: 'POST', body: JSON.stringify(data || {})});
}
"""


def page(body):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'>"
            f"<script>{REPORT_JS}</script></head>"
            "<body style='margin:0;height:100%;background:#9bd'>" + body + "</body></html>")


def box(element_id, top, text, tag="a", attrs=""):
    """An element at a fixed place in the page (no toolbar: page (x, y) is
    host window (x, y)), so the test knows where to click it."""
    return (f"<{tag} id='{element_id}' {attrs} style='position:absolute;left:20px;top:{top}px;"
            f"width:220px;height:50px;display:block;background:#eee'>{text}</{tag}>")


def click(x, window, left, top):
    """Clicks page point (left, top) of window. No --sync on the move: it
    waits forever when the pointer is already there."""
    geometry = x.geometry(window)
    x.xdotool("mousemove", geometry.abs_x + left, geometry.abs_y + top, "click", 1)


class ReportingTestCase(KioskTestCase):
    """Pages report to the test by POSTing JSON to /report/NAME."""

    def serve_reports(self, *names):
        for name in names:
            self.http.route(f"/report/{name}", Response(body=b"ok", content_type="text/plain"))

    def wait_report(self, name, timeout=vkxtest.DEFAULT_TIMEOUT, after=0.0):
        return json.loads(self.http.wait_for_request(f"/report/{name}", timeout, after).body)


# --------------------------------------------------------------------------
# Auto-login

# Values that break a script they are pasted into unescaped.
USERNAME = "J\u00fcrgen \"J\" \\ </script> \u2029 'x'"
PASSWORD = "p\"w\\d\nL\u2028S</script>'e ${x}"

# Sign-in form: a plain input for the user and, for the password, an input
# managed the way React does it: the element's own "value" property records
# what the framework wrote, and an input event whose value differs from that
# record is a change by the user, which updates the component's state. A
# value written through the element's own setter would leave the state empty.
LOGIN_PAGE = page("""
<input id="username-field" type="text">
<input id="login-user-password" type="password">
<script>
var user = document.getElementById('username-field');
var pass = document.getElementById('login-user-password');
var native = Object.getOwnPropertyDescriptor(HTMLInputElement.prototype, 'value');
var tracked = '', state = '', userInputs = 0;
Object.defineProperty(pass, 'value', {
  configurable: true,
  get: function() { return native.get.call(this); },
  set: function(v) { tracked = String(v); native.set.call(this, v); }
});
pass.addEventListener('input', function() {
  var now = native.get.call(pass);
  if (now !== tracked) { tracked = now; state = now; }
});
user.addEventListener('input', function() { userInputs++; });
var phase = 0, clearedAt = 0;
setInterval(function() {
  if (phase === 0 && user.value && pass.value) {
    phase = 1;
    report('filled', {user: user.value, pass: pass.value, state: state, userInputs: userInputs});
    user.value = '';
    clearedAt = performance.now();
  } else if (phase === 1 && user.value) {
    phase = 2;
    report('refilled', {user: user.value, after: performance.now() - clearedAt});
    setTimeout(function() { location.href = '/textarea'; }, 100);
  }
}, 50);
</script>""")

# Text areas keep line breaks, which an input strips from its value.
TEXTAREA_PAGE = page("""
<textarea id="username-field"></textarea>
<textarea id="login-user-password"></textarea>
<script>
var done = false;
setInterval(function() {
  var user = document.getElementById('username-field');
  var pass = document.getElementById('login-user-password');
  if (!done && user.value && pass.value) {
    done = true;
    report('textarea', {user: user.value, pass: pass.value});
    setTimeout(function() { location.href = '/missing'; }, 100);
  }
}, 50);
</script>""")

MISSING_PAGE = page("""
<input id="username-field" type="text">
<input id="login-user-password" type="password">
<script>
setTimeout(function() {
  report('missing', {user: document.getElementById('username-field').value,
                     pass: document.getElementById('login-user-password').value});
}, 2500);
</script>""")


class AutoLoginTest(ReportingTestCase):

    def test_fills_sign_in_fields_on_200_only(self):
        self.serve_reports("filled", "refilled", "textarea", "missing")
        login_url = self.http.page("/login", LOGIN_PAGE)
        textarea_url = self.http.page("/textarea", TEXTAREA_PAGE)
        missing_url = self.http.url("/missing")
        self.http.route("/missing", Response(404, MISSING_PAGE.encode()))
        kiosk = self.start_kiosk({"url": login_url, "enableToolbar": "false"},
                                 env={"VKX_BRELLIK_USERNAME": USERNAME,
                                      "VKX_BRELLIK_PASSWORD": PASSWORD})

        filled = self.wait_report("filled")
        self.assertEqual(filled["user"], USERNAME)
        # An input strips line breaks from any value it is given.
        self.assertEqual(filled["pass"], PASSWORD.replace("\n", ""))
        self.assertEqual(filled["state"], PASSWORD.replace("\n", ""),
                         "the React-style input's own setter was used: no change seen")
        self.assertGreaterEqual(filled["userInputs"], 1, "no input event on the plain input")

        refilled = self.wait_report("refilled", timeout=5)
        self.assertEqual(refilled["user"], USERNAME)
        # Within the second of the fill timer, and slack for a loaded machine.
        self.assertLessEqual(refilled["after"], 2000, "emptied field filled again too late")

        textarea = self.wait_report("textarea")
        self.assertEqual(textarea, {"user": USERNAME, "pass": PASSWORD})

        loaded = kiosk.wait_for_line(r"^Page loaded, status code: 404$")
        self.assertEqual(kiosk.wait_for_line(".", start=loaded.index + 1).text,
                         f"URL: {missing_url}")
        self.assertEqual(self.wait_report("missing", timeout=10), {"user": "", "pass": ""})

        def fills(field, url):
            pattern = re.compile(rf"^>> {field} value set by Vkxbrowser "
                                 rf"\(Source: {re.escape(url)}, Line: [1-9]\d*\)$")
            return [line for line in kiosk.lines() if pattern.match(line)]
        self.assertEqual(len(fills("username-field", login_url)), 2, kiosk.describe())
        self.assertEqual(len(fills("login-user-password", login_url)), 1, kiosk.describe())
        self.assertEqual(len(fills("username-field", textarea_url)), 1, kiosk.describe())
        self.assertEqual(len(fills("login-user-password", textarea_url)), 1, kiosk.describe())
        self.assertEqual([line for line in kiosk.lines() if "value set by Vkxbrowser" in line and
                          missing_url in line], [])


# A two-step sign-in of another kind of portal: the user name on one page,
# the password on the next, each form submitted by the kiosk.
USER_STEP = page("""<form action="/password" method="post">
<input name="user" autocomplete="username"><button id="next">Next</button></form>""")
PASSWORD_STEP = page("""<form action="/done" method="post">
<input name="pass" type="password"><button type="submit">Sign in</button></form>""")
# A password that an input keeps as it is (no line breaks).
STEP_PASSWORD = "p\"w\\d</script>\u00e9'x ${y}"
SELECTORS = {"loginUserField": "input[autocomplete=username]",
             "loginPasswordField": "form input[type=password]",
             "loginSubmit": "#next, button[type=submit]"}


class SignInTest(ReportingTestCase):

    def form_values(self, path, count=1):
        requests = vkxtest.wait_until(
            lambda: len(self.http.requests(path)) >= count and self.http.requests(path), 20,
            what=f"{count} POST {path}")
        return [urllib.parse.parse_qs(r.body.decode()) for r in requests]

    def test_two_steps_with_selectors_and_only_on_the_given_hosts(self):
        self.serve_reports("other")
        other = f"http://localhost:{self.http.url('/').split(':')[2].split('/')[0]}/other"
        self.http.page("/user", USER_STEP)
        self.http.page("/password", PASSWORD_STEP)
        self.http.page("/done", page(f"<script>setTimeout(() => location.href = '{other}', 300)"
                                     "</script>"))
        # Fields both the selectors and the default ids find.
        self.http.page("/other", MISSING_PAGE.replace("'missing'", "'other'").replace(
            'type="text"', 'autocomplete="username"').replace(
            '<input id="login-user-password"', '<form><input id="login-user-password"'))
        self.start_kiosk(dict(SELECTORS, url=self.http.url("/user"), enableToolbar="false",
                              loginHosts="127.0.0.1"),
                         env={"VKX_BRELLIK_USERNAME": USERNAME,
                              "VKX_BRELLIK_PASSWORD": STEP_PASSWORD})
        self.assertEqual(self.form_values("/password"), [{"user": [USERNAME]}])
        self.assertEqual(self.form_values("/done"), [{"pass": [STEP_PASSWORD]}])
        # Another host's page with the default fields gets nothing.
        self.assertEqual(self.wait_report("other", timeout=15), {"user": "", "pass": ""})
        self.assertEqual(len(self.http.requests("/password")), 1)

    def test_a_sign_in_that_keeps_failing_stops_after_three_submissions(self):
        self.http.page("/fail", page("""<form action="/fail" method="post">
<input name="pass" type="password"><button type="submit">Sign in</button></form>"""))
        kiosk = self.start_kiosk(dict(SELECTORS, url=self.http.url("/fail"), enableToolbar="false"),
                                 env={"VKX_BRELLIK_PASSWORD": "wrong"})
        kiosk.wait_for_line(r"^Sign-in stopped: ", stream="stderr", timeout=30)
        time.sleep(3)
        posts = [r for r in self.http.requests("/fail") if r.method == "POST"]
        self.assertEqual(len(posts), 3, kiosk.describe())
        self.assertEqual(len([l for l in kiosk.lines("stderr") if l.startswith("Sign-in stopped")]),
                         1)
        self.assertFalse([l for l in kiosk.lines() + kiosk.lines("stderr") if "wrong" in l])


# --------------------------------------------------------------------------
# New windows

def kiosk_test_binary():
    path = os.environ.get("VKX_TEST_BINARY")
    if not path:
        raise unittest.SkipTest("VKX_TEST_BINARY is not set (run the tests through CTest)")
    return path


POPUP_PAGE = page(
    box("blank", 20, "new tab", attrs="href='/target-blank' target='_blank'") +
    box("open", 100, "window.open", tag="button",
        attrs="onclick=\"window.open('/target-open?from=script&n=2')\""))
BLANK_LINK = (60, 45)
OPEN_BUTTON = (60, 125)

LAUNCHER = """#!/bin/sh
# Stands in for the launcher: records its arguments, one a line.
{{ echo "$#"; for arg; do echo "$arg"; done; }} > "{out}.$$.tmp" && mv "{out}.$$.tmp" "{out}.$$"
"""


class LaunchTest(KioskTestCase):
    """displayMode maximized or window: new windows go to the launcher
    through a launch file; the kiosk's own page stays."""

    def start_test_kiosk(self, display_mode):
        out = os.path.join(self.workdir, "launched")
        launcher = os.path.join(self.workdir, "launcher.sh")
        with open(launcher, "w") as script:
            script.write(LAUNCHER.format(out=out))
        os.chmod(launcher, 0o755)
        kiosk = vkxtest.Kiosk(self.workdir, self.display,
                              {"url": self.http.page("/", POPUP_PAGE),
                               "displayMode": display_mode, "enableToolbar": "false"},
                              {"VKX_TEST_LAUNCHER": launcher}, binary=kiosk_test_binary())
        self.addCleanup(self.remove_launch_files, kiosk)
        self.addCleanup(kiosk.stop)
        return kiosk

    @staticmethod
    def remove_launch_files(kiosk):
        for line in kiosk.lines():
            if line.startswith("INI written to: /tmp/brellik_ini_"):
                try:
                    os.unlink(line[len("INI written to: "):])
                except FileNotFoundError:
                    pass

    def launched(self, count):
        """The argument lists of the first count launcher runs."""
        def look():
            found = [name for name in os.listdir(self.workdir)
                     if re.fullmatch(r"launched\.\d+", name)]
            return found if len(found) >= count else None
        runs = []
        for name in vkxtest.wait_until(look, 10, what=f"{count} launcher runs"):
            with open(os.path.join(self.workdir, name)) as record:
                lines = record.read().splitlines()
            runs.append(lines[1:1 + int(lines[0])])
        return runs

    def check_launches(self, display_mode):
        kiosk = self.start_test_kiosk(display_mode)
        host = self.x.find_host_window()
        loaded = kiosk.wait_for_line("^Page loaded")
        shown = self.x.shown_windows()
        targets = [self.http.url("/target-blank"),
                   self.http.url("/target-open?from=script&n=2")]
        paths = []
        for (left, top), target in zip((BLANK_LINK, OPEN_BUTTON), targets):
            start = len(kiosk.lines())
            click(self.x, host, left, top)
            announced = kiosk.wait_for_line(r"^Client new target: $", start=start)
            self.assertEqual(kiosk.wait_for_line(".", start=announced.index + 1).text, target)
            written = kiosk.wait_for_line(r"^INI written to: (.*)$", start=start)
            path = written.match.group(1)
            self.assertRegex(path, r"^/tmp/brellik_ini_[A-Za-z0-9]{6}$")
            paths.append(path)
            with open(path, encoding="utf-8") as launch_file:
                self.assertEqual(launch_file.read(),
                                 f"url={target}\ndisplayMode={display_mode}\n")
            info = os.stat(path)
            self.assertEqual(stat.S_IMODE(info.st_mode), 0o600, path)
            self.assertEqual(info.st_uid, os.getuid())
        self.assertEqual(sorted(self.launched(2)), sorted([path] for path in paths))

        # The page stays: nothing loaded, no second window.
        time.sleep(1.0)
        self.assertEqual(self.http.requests("/target-blank"), [])
        self.assertEqual(self.http.requests("/target-open"), [])
        self.assertEqual([line for line in kiosk.lines()[loaded.index:]
                          if line.startswith("Page loaded")], [loaded.text])
        self.assertEqual(len([line for line in kiosk.lines() if line == "Client new target: "]), 2)
        self.assertEqual(self.x.shown_windows(), shown)
        self.assertTrue(kiosk.alive(), kiosk.describe())

    def test_maximized(self):
        self.check_launches("maximized")

    def test_window(self):
        self.check_launches("window")


# --------------------------------------------------------------------------
# HTML full screen, and new windows in full-screen mode

FULLSCREEN_PAGE = page(
    box("fs", 20, "full screen", tag="button") +
    box("blank", 100, "new tab", attrs="href='/target-blank' target='_blank'") + """
<script>
document.getElementById('fs').onclick = function() {
  if (document.fullscreenElement) {
    document.exitFullscreen();
  } else {
    document.documentElement.requestFullscreen().catch(function(e) {
      report('fullscreen-error', {error: String(e)});
    });
  }
};
document.addEventListener('fullscreenchange', function() {
  report('fullscreen', {on: !!document.fullscreenElement});
});
</script>""")
FULLSCREEN_BUTTON = (60, 45)
FULLSCREEN_BLANK_LINK = (60, 125)
TARGET_BLANK_PAGE = page(box("open", 20, "window.open", tag="button",
                             attrs="onclick=\"window.open('/target-open?from=script')\""))
TARGET_OPEN_BUTTON = (60, 45)
SCREEN = (0, 0, vkxtest.SCREEN_WIDTH, vkxtest.SCREEN_HEIGHT)


def placement(geometry):
    return (geometry.abs_x, geometry.abs_y, geometry.width, geometry.height)


class FullscreenTest(ReportingTestCase):

    window_manager = ("openbox", "--sm-disable")

    def toggle_fullscreen(self, host, on):
        after = time.monotonic()
        click(self.x, host, *FULLSCREEN_BUTTON)
        while True:
            report = self.wait_report("fullscreen", after=after, timeout=10)
            if report["on"] == on:
                return
            after = time.monotonic()

    def host_state(self, host):
        return self.x.property_values(host, "_NET_WM_STATE", "32a") or []

    def test_window_mode(self):
        self.serve_reports("fullscreen", "fullscreen-error")
        kiosk = self.start_kiosk_with_page(FULLSCREEN_PAGE, displayMode="window",
                                           enableToolbar="false")
        host = self.x.find_host_window()
        kiosk.wait_for_line("^Page loaded")
        vkxtest.wait_until(lambda: self.x.property_values(host, "_NET_FRAME_EXTENTS", "32c"),
                           10, what="openbox to frame the host window")
        before = placement(self.x.geometry(host))
        self.assertNotEqual(before, SCREEN)

        self.toggle_fullscreen(host, True)
        self.x.wait_for_geometry(host, lambda g: placement(g) == SCREEN,
                                 what="the host window to cover the screen")
        self.assertIn("_NET_WM_STATE_FULLSCREEN", self.host_state(host))
        windows = self.x.kiosk_windows(host)
        for name in ("browser", "engine"):
            self.x.wait_for_geometry(windows[name], lambda g: g.size == SCREEN[2:],
                                     what=f"the {name} window to fill the screen")

        self.toggle_fullscreen(host, False)
        self.x.wait_for_geometry(host, lambda g: placement(g) == before,
                                 what=f"the host window back at {before}")
        self.assertNotIn("_NET_WM_STATE_FULLSCREEN", self.host_state(host))
        self.x.wait_for_geometry(windows["engine"], lambda g: g.size == before[2:],
                                 what="the engine window back at the window's size")
        self.assertEqual(self.http.requests("/report/fullscreen-error"), [])

    def test_fullscreen_mode(self):
        self.serve_reports("fullscreen", "fullscreen-error")
        self.http.page("/target-blank", TARGET_BLANK_PAGE)
        self.http.page("/target-open", page("<p>opened</p>"))
        kiosk = self.start_kiosk_with_page(FULLSCREEN_PAGE, displayMode="fullscreen",
                                           enableToolbar="false")
        host = self.x.find_host_window()
        kiosk.wait_for_line("^SetFullscreen$", timeout=10)
        self.x.wait_for_geometry(host, lambda g: placement(g) == SCREEN,
                                 what="the host window to cover the screen")
        watch = self.watch(host)
        shown = self.x.shown_windows()

        # The kiosk already covers the screen: HTML full screen changes
        # nothing, and leaving it must not leave the kiosk's full screen.
        self.toggle_fullscreen(host, True)
        self.toggle_fullscreen(host, False)
        time.sleep(1.0)
        self.assertEqual([e for e in watch.changes()
                          if (e["x"], e["y"], e["width"], e["height"]) != SCREEN], [])
        self.assertEqual(placement(self.x.geometry(host)), SCREEN)
        self.assertIn("_NET_WM_STATE_FULLSCREEN", self.host_state(host))

        # A target=_blank link and window.open both load in place.
        for path, query, button in (("/target-blank", "", FULLSCREEN_BLANK_LINK),
                                    ("/target-open", "?from=script", TARGET_OPEN_BUTTON)):
            target = self.http.url(path + query)
            start = len(kiosk.lines())
            clicked = time.monotonic()
            click(self.x, host, *button)
            announced = kiosk.wait_for_line(r"^Client new target: $", start=start)
            self.assertEqual(kiosk.wait_for_line(".", start=announced.index + 1).text, target)
            self.http.wait_for_request(path, after=clicked)
            loaded = kiosk.wait_for_line(r"^Page loaded, status code: 200$", start=start)
            self.assertEqual(kiosk.wait_for_line(".", start=loaded.index + 1).text,
                             f"URL: {target}")

        self.assertEqual(self.x.root_property_values("_NET_CLIENT_LIST", "32x"), [hex(host)])
        self.assertEqual(self.x.shown_windows(), shown)
        self.assertEqual(len([line for line in kiosk.lines() if line == "Client new target: "]), 2)
        self.assertFalse([line for line in kiosk.lines() if line.startswith("INI written to:")])
        self.assertEqual(self.http.requests("/report/fullscreen-error"), [])


# --------------------------------------------------------------------------
# Title and console

TITLE = "Gr\u00fc\u00dfe \u2013 \u03a9"
SECOND_TITLE = "Zweiter Titel \u2713 \u65e5\u672c"

# Line numbers matter below: the console lines report them.
CONSOLE_PAGE = f"""<!DOCTYPE html>
<html onclick="document.title = '{SECOND_TITLE}'"><head><meta charset="utf-8"><title>{TITLE}</title>
<script src="/app.js"></script>
</head><body>
<script>
var inline = 1;
console.log('inline first');
console.warn('inline second ' + inline);
</script>
</body></html>
"""

APP_JS = """var calls = 0;
function note(text) {
  calls++;
  console.log(text + ' ' + calls);
}
console.log('external top');
note('external call');
note('external again');
"""


class TitleAndConsoleTest(KioskTestCase):

    def title_bytes(self, host, name):
        values = self.x.property_values(host, name, "8x")
        return bytes(int(v, 16) for v in values) if values else None

    def wait_title(self, host, title):
        for name in ("_NET_WM_NAME", "WM_NAME"):
            expected = title.encode("utf-8")
            try:
                vkxtest.wait_until(lambda: self.title_bytes(host, name) == expected, 5,
                                   what=f"{name} = {title!r}")
            except vkxtest.WaitTimeout as error:
                raise AssertionError(f"{error}; last: {self.title_bytes(host, name)!r}") from None
        self.assertEqual(self.x.property(host, "_NET_WM_NAME")[0], "UTF8_STRING")

    def test_title_and_console(self):
        self.http.route("/app.js", Response(body=APP_JS.encode(),
                                            content_type="text/javascript"))
        url = self.http.page("/", CONSOLE_PAGE)
        script = self.http.url("/app.js")
        kiosk = self.start_kiosk({"url": url, "enableToolbar": "false"})
        host = self.x.find_host_window()
        kiosk.wait_for_line("^Page loaded")

        expected = [
            f">> external top (Source: {script}, Line: 6)",
            f">> external call 1 (Source: {script}, Line: 4)",
            f">> external again 2 (Source: {script}, Line: 4)",
            f">> inline first (Source: {url}, Line: 7)",
            f">> inline second 1 (Source: {url}, Line: 8)",
        ]
        kiosk.wait_for_line(r"^>> inline second")
        self.assertEqual([line for line in kiosk.lines() if line.startswith(">> ")], expected)

        self.wait_title(host, TITLE)
        click(self.x, host, 400, 300)
        self.wait_title(host, SECOND_TITLE)


if __name__ == "__main__":
    vkxtest.main()
