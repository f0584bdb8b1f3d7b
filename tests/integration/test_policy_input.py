"""The kiosk's input policy: which keys reach the page, the end-session
chord, and the ways out of the page it refuses (context menu, new tabs,
drag and drop, file chooser, print, downloads, the clipboard of other
programs, notifications, HTTP authentication, the inspector)."""

import json
import os
import re
import time

import vkxtest
from vkxtest import KioskTestCase, Response

OK = Response(body=b"ok", content_type="text/plain")


def click(x, window, left, top, button=1, modifier=None):
    """Clicks page point (left, top) of window (no toolbar: the page starts
    at the host window's corner), with a modifier key held when given. No
    --sync on the move: it waits forever when the pointer is already there."""
    geometry = x.geometry(window)
    args = ["mousemove", geometry.abs_x + left, geometry.abs_y + top]
    if modifier:
        args += ["keydown", modifier, "click", button, "keyup", modifier]
    else:
        args += ["click", button]
    x.xdotool(*args)


def describe_windows(x, windows):
    """What a test failure should say about windows: geometry, override
    redirect, name and class."""
    text = []
    for window in sorted(windows):
        info = x.run(["xwininfo", "-id", hex(window)], check=False)
        props = x.run(["xprop", "-id", hex(window), "WM_CLASS", "WM_NAME",
                       "_NET_WM_WINDOW_TYPE"], check=False)
        wanted = [line.strip() for line in info.splitlines() if re.search(
            r"Absolute|Width|Height|Map State|Override", line)]
        text.append(f"{hex(window)}: {'; '.join(wanted)}; {' '.join(props.split())}")
    return "\n".join(text)


# --------------------------------------------------------------------------
# Keys

# The page reports each keydown it gets with the list of all so far.
KEY_PAGE = """<!DOCTYPE html><html><body style="margin:0;height:100%">
<script>
var seen = [];
window.addEventListener('keydown', function(e) {
  seen.push(e.key);
  if (e.key === 'q') e.preventDefault();  // the page handles q itself
  if (e.key === 'm') {  // and takes its time over m
    var begin = performance.now();
    while (performance.now() - begin < 300) {}
  }
  fetch('/key', {method: 'POST', body: JSON.stringify(seen)});
}, true);
var poll = setInterval(function() {
  if (document.hasFocus()) { clearInterval(poll); fetch('/focus'); }
}, 50);
</script></body></html>"""

MODIFIERS = {"shift": 16, "ctrl": 17, "alt": 18}
NAMED_KEYS = {"Return": 13, "Tab": 9, "Down": 40}
PAGE_KEY_NAMES = {"Return": "Enter", "Down": "ArrowDown"}
F_KEYS = [f"F{n}" for n in range(1, 13)]


def key_code(name):
    """The Windows key code the kiosk logs for an xdotool key name."""
    if name in NAMED_KEYS:
        return NAMED_KEYS[name]
    if re.fullmatch(r"F\d+", name):
        return 111 + int(name[1:])
    return ord(name.upper())


def pre_key_lines(combo, shortcuts_disabled):
    """The OnPreKeyEvent lines of one xdotool combo such as "ctrl+alt+x":
    one a key press, modifiers first, each with the modifiers held before it."""
    *modifiers, key = combo.split("+")
    ctrl = alt = False
    lines = []
    for modifier in modifiers:
        lines.append(f"OnPreKeyEvent - Ctrl: {int(ctrl)}, Alt:{int(alt)}, K:{MODIFIERS[modifier]}")
        ctrl |= modifier == "ctrl"
        alt |= modifier == "alt"
    lines.append(f"OnPreKeyEvent - Ctrl: {int(ctrl)}, Alt:{int(alt)}, K:{key_code(key)}")
    if shortcuts_disabled and key in F_KEYS:
        lines.append(f"OnPreKeyEvent - {key} key pressed")
    return lines


def page_key(combo):
    """The KeyboardEvent.key the page sees for a combo's last key."""
    *modifiers, key = combo.split("+")
    key = PAGE_KEY_NAMES.get(key, key)
    return key.upper() if "shift" in modifiers and len(key) == 1 else key


def spaced(*combos):
    """xdotool commands that type combos one key press at a time, with a
    pause after each: every key is back from the page before the next one
    is pressed, so these checks do not depend on how the kiosk matches keys
    that overlap (a check of its own, with a busy page)."""
    commands = []
    for combo in combos:
        *modifiers, key = combo.split("+")
        for modifier in modifiers:
            commands += ["keydown", modifier, "sleep", "0.05"]
        commands += ["key", key, "sleep", "0.05"]
        for modifier in reversed(modifiers):
            commands += ["keyup", modifier]
    return commands


def policy_lines(lines):
    return [line for line in lines if line.startswith("OnPreKeyEvent - ")]


def key_event_lines(lines):
    return [(i, line) for i, line in enumerate(lines) if line.startswith("OnKeyEvent - ")]


class KeyPolicyTest(KioskTestCase):

    def start(self, **config):
        self.http.route("/key", OK)
        self.http.route("/focus", OK)
        kiosk = self.start_kiosk_with_page(KEY_PAGE, enableToolbar="false", **config)
        host = self.x.find_host_window()
        # Keys reach the page once the browser has the focus.
        self.http.wait_for_request("/focus", timeout=20, after=kiosk.start_time)
        # Keys go to the window under the pointer when it is inside the focus
        # window: keep the pointer off the kiosk.
        self.x.xdotool("mousemove", 5, 5)
        return kiosk, host

    def type_keys(self, kiosk, combos):
        """Types combos, then "z" as the last one; returns (index of the
        first stdout line after the keys began, keys the page got, without
        modifier keys)."""
        start = len(kiosk.lines())
        sent = time.monotonic()
        self.x.xdotool(*spaced(*combos, "z"))

        def last_report():
            for request in self.http.requests("/key"):
                keys = json.loads(request.body) if request.t >= sent else None
                if keys and keys[-1] == "z":
                    return keys
            return None
        keys = vkxtest.wait_until(last_report, 10, what="the page to get the last key")
        kiosk.wait_for_line(r"^OnKeyEvent - Ctrl: 0, Alt:0, K:90$", start=start)
        return start, [key for key in keys if key not in ("Shift", "Control", "Alt")]

    def assert_ends_on(self, kiosk, combo):
        helpers = kiosk.helpers()
        start = len(kiosk.lines())
        self.x.xdotool(*spaced(combo))
        chord = kiosk.wait_for_line(r"^OnPreKeyEvent - Ctrl: 1, Alt:1, K:67$", start=start)
        after = [line for line in kiosk.lines()[chord.index + 1:]
                 if not line.startswith("OnKeyEvent - ")]
        self.assertEqual(after[:1], ["Ctrl+Alt+C detected. Terminating client..."])
        kiosk.wait_for_line(r"^force shutdown\.\.\.$", start=chord.index + 2)
        self.assertEqual(kiosk.wait_exit(10), -9, kiosk.describe())
        self.assertEqual(policy_lines(kiosk.lines()[start:]), pre_key_lines(combo, False))
        if vkxtest.become_subreaper():
            self.assertEqual(vkxtest.unkilled_helpers(helpers), {}, f"helpers: {helpers}")

    def test_shortcuts_disabled(self):
        kiosk, _ = self.start(endSessionKey="CtrlAltC")
        passed = ["a", "5", "Return", "Tab", "Down", "shift+k", "q"]
        blocked = F_KEYS + ["ctrl+b", "ctrl+r", "alt+d", "alt+c", "ctrl+c", "ctrl+alt+x",
                            "ctrl+shift+i"]
        combos = passed[:3] + blocked[:6] + passed[3:] + blocked[6:]
        start, page_keys = self.type_keys(kiosk, combos)
        lines = kiosk.lines()[start:]

        self.assertEqual(page_keys, [page_key(c) for c in passed] + ["z"])
        # One line a key press (never one for a release), F keys named.
        expected = [line for combo in combos + ["z"] for line in pre_key_lines(combo, True)]
        self.assertEqual(policy_lines(lines), expected)
        for key in F_KEYS:
            at = lines.index(pre_key_lines(key, False)[0])
            self.assertEqual(lines[at + 1], f"OnPreKeyEvent - {key} key pressed")

        # The page left these to the browser; it handled q itself; the
        # blocked keys never got to it.
        handed_back = key_event_lines(lines)
        for combo in ["a", "5", "Return", "shift+k", "z"]:
            pressed = lines.index(pre_key_lines(combo, True)[-1])
            code = key_code(combo.split("+")[-1])
            found = [i for i, line in handed_back
                     if line == f"OnKeyEvent - Ctrl: 0, Alt:0, K:{code}"]
            self.assertEqual(len(found), 1, f"{combo}: {handed_back}")
            self.assertGreater(found[0], pressed, combo)
        never = {key_code(c.split("+")[-1]) for c in blocked} | {key_code("q")}
        self.assertEqual([line for _, line in handed_back
                          if int(line.rsplit(":", 1)[1]) in never], [])

        with self.subTest("keys typed while the page is busy"):
            # Keys come back from the page unhandled after it was busy with m.
            start = len(kiosk.lines())
            sent = time.monotonic()
            self.x.xdotool("key", "--delay", "40", "m", "n", "o", "p")
            vkxtest.wait_until(lambda: any(r.t >= sent and json.loads(r.body)[-1] == "p"
                                           for r in self.http.requests("/key")),
                               10, what="the page to get p")
            time.sleep(1.0)
            lines = kiosk.lines()[start:]
            self.assertEqual(policy_lines(lines),
                             [line for key in "mnop" for line in pre_key_lines(key, True)])
            self.assertEqual([line for _, line in key_event_lines(lines)],
                             [f"OnKeyEvent - Ctrl: 0, Alt:0, K:{key_code(key)}"
                              for key in "mnop"])

        # Ctrl+C and Alt+C alone are not the chord.
        self.assertTrue(kiosk.alive())
        self.assertNotIn("Ctrl+Alt+C detected. Terminating client...", kiosk.lines())
        self.assert_ends_on(kiosk, "ctrl+alt+c")

    def test_shortcuts_enabled(self):
        kiosk, _ = self.start(disableKbdShortcuts="false", endSessionKey="CtrlAltC")
        shown = self.x.shown_windows()
        combos = F_KEYS + ["ctrl+b", "alt+d", "ctrl+c", "ctrl+alt+x", "ctrl+shift+i", "a"]
        start, page_keys = self.type_keys(kiosk, combos)
        lines = kiosk.lines()[start:]

        expected = [line for combo in combos + ["z"] for line in pre_key_lines(combo, False)]
        self.assertEqual(policy_lines(lines), expected)
        self.assertEqual(page_keys, ["F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9",
                                     "F10", "F11", "F12", "b", "d", "c", "x", "I", "a", "z"])
        # F12 and Ctrl+Shift+I got to the engine: still no inspector.
        self.assertEqual(self.x.shown_windows(), shown)
        self.assert_ends_on(kiosk, "ctrl+alt+shift+c")


# --------------------------------------------------------------------------
# Ways out of the page

def box(element_id, top, text, tag="a", attrs=""):
    return (f"<{tag} id='{element_id}' {attrs} style='position:absolute;left:20px;top:{top}px;"
            f"width:220px;height:40px;display:block;margin:0;background:#eee'>{text}</{tag}>")


def escape_page(drag_text_url):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'></head>"
            "<body style='margin:0;height:100%;background:#cde'>" +
            box("tab", 20, "new tab", attrs="href='/tab-target'") +
            box("drag", 80, "drag me", attrs="href='/drag-target'") +
            box("text", 140, drag_text_url, tag="p") +
            "<input id='file' type='file' style='position:absolute;left:20px;top:200px;"
            "width:220px;height:40px'>" +
            box("print", 260, "print", tag="button", attrs="onclick='window.print()'") +
            box("attach", 320, "attachment", attrs="href='/attach'") +
            box("blob", 380, "binary", attrs="href='/blob'") +
            box("download", 440, "download", attrs="href='/file.bin' download='vkx-saved.bin'") +
            box("auth", 500, "sign in", attrs="href='/auth'") +
            box("paste", 20, "", tag="textarea", attrs="onclick='tryClipboard()'").replace(
                "left:20px", "left:300px") +
            """<script>
setInterval(function() { fetch('/alive'); }, 200);
document.addEventListener('dragstart', function() { fetch('/dragstart'); });
document.addEventListener('drop', function() { fetch('/drop'); });
function report(name, value) {
  fetch('/report/' + name, {method: 'POST', body: String(value)});
}
function tryClipboard() {
  var area = document.getElementById('paste');
  report('paste', document.execCommand('paste') + ' ' + JSON.stringify(area.value));
  navigator.clipboard.readText().then(function(text) { report('read', 'read ' + text); },
                                      function(error) { report('read', error.name); });
  Notification.requestPermission().then(function(p) { report('notification', p); });
}
</script></body></html>""")


SPOTS = {name: (60, top + 20) for name, top in
         (("tab", 20), ("drag", 80), ("text", 140), ("file", 200), ("print", 260),
          ("attach", 320), ("blob", 380), ("download", 440), ("auth", 500))}
SPOTS["paste"] = (340, 40)
NAVIGATION_TARGETS = ("/tab-target", "/drag-target", "/drag-text", "/drop-link", "/drop-text")
SAVED_NAMES = ("vkx-attach", "vkx-saved", "blob", "file.bin")
START_LINES = ["'credentials_enable_service' set to false successfully.",
               "Notifications are now blocked by default.",
               "Clipboard access is now blocked by default."]


class EscapeTest(KioskTestCase):

    def setUp(self):
        super().setUp()
        for path in ("/alive", "/dragstart", "/drop", "/report/paste", "/report/read",
                     "/report/notification"):
            self.http.route(path, OK)
        for path in NAVIGATION_TARGETS:
            self.http.page(path, "<p>navigated</p>")
        self.http.route("/attach", Response(body=b"attached", content_type="text/plain", headers={
            "Content-Disposition": 'attachment; filename="vkx-attach.txt"'}))
        self.http.route("/blob", Response(body=b"\0\1\2", content_type="application/octet-stream"))
        self.http.route("/file.bin", Response(body=b"\0\1\2",
                                              content_type="application/octet-stream"))
        self.http.route("/auth", Response(401, b"sign in first", "text/plain",
                                          {"WWW-Authenticate": 'Basic realm="vkx"'}))

    def drag(self, host, start, end, select_first=False):
        geometry = self.x.geometry(host)
        x0, y0 = geometry.abs_x + start[0], geometry.abs_y + start[1]
        x1, y1 = geometry.abs_x + end[0], geometry.abs_y + end[1]
        if select_first:
            self.x.xdotool("mousemove", x0, y0, "click", "--repeat", "3", "--delay", "80", 1)
            # Past the double-click time, so the press below is not a fourth click.
            time.sleep(0.7)
        self.x.xdotool("mousemove", x0, y0, "mousedown", 1)
        time.sleep(0.2)
        for step in range(1, 11):
            self.x.xdotool("mousemove", x0 + (x1 - x0) * step // 10, y0 + (y1 - y0) * step // 10)
            time.sleep(0.05)
        self.x.xdotool("mouseup", 1)

    def saved_files(self):
        found = []
        for folder, _, files in os.walk(self.workdir):
            found += [os.path.join(folder, name) for name in files
                      if name.endswith(".wkdownload") or any(n in name for n in SAVED_NAMES)]
        return found

    def wait_report(self, name, after):
        def look():
            found = [r for r in self.http.requests(f"/report/{name}") if r.t >= after]
            return found[0].body.decode() if found else None
        return vkxtest.wait_until(look, 15, what=f"the page's {name} report")

    def test_refusals(self):
        drag_text_url = self.http.url("/drag-text")
        kiosk = self.start_kiosk_with_page(escape_page(drag_text_url), enableToolbar="false")
        host = self.x.find_host_window()
        loaded = kiosk.wait_for_line(r"^Page loaded")
        page_url = kiosk.wait_for_line(r"^URL: ", start=loaded.index).text[len("URL: "):]
        first = kiosk.lines().index(START_LINES[0])
        self.assertEqual(kiosk.lines()[first:first + 3], START_LINES)
        self.assertLess(first, loaded.index)
        shown = self.x.shown_windows()
        geometry = self.x.geometry(host)

        def refused(name, action, stderr_line=None):
            """Runs action and checks that it opened no window, left the page
            where it was and, when given, logged stderr_line."""
            with self.subTest(name):
                out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
                action()
                # Off every element, so no tooltip covers the next one.
                self.x.xdotool("mousemove", geometry.abs_x + 600, geometry.abs_y + 560)
                if stderr_line:
                    kiosk.wait_for_line(f"^{re.escape(stderr_line)}$", stream="stderr",
                                        start=err, timeout=5)
                time.sleep(0.5)
                # The page's own timer still reports: it is the same document.
                self.http.wait_for_request("/alive", after=time.monotonic(), timeout=5)
                appeared = self.x.shown_windows() - shown
                self.assertFalse(appeared, describe_windows(self.x, appeared))
                for path in NAVIGATION_TARGETS:
                    self.assertEqual(self.http.requests(path), [], path)
                reported = [line for line in kiosk.lines()[out:]
                            if line.startswith(("Page loaded", "URL: "))]
                self.assertEqual(reported, [], "a page load reported, yet none finished")

        tab_url = self.http.url("/tab-target")
        refused("right click", lambda: click(self.x, host, 500, 300, button=3),
                "Context menu refused")
        refused("menu key", lambda: self.x.key("Menu"), "Context menu refused")
        refused("shift+F10", lambda: self.x.key("shift+F10"))
        refused("middle click", lambda: click(self.x, host, *SPOTS["tab"], button=2),
                f"Open in new tab refused: {tab_url}")
        refused("ctrl click", lambda: click(self.x, host, *SPOTS["tab"], modifier="ctrl"),
                f"Open in new tab refused: {tab_url}")
        refused("shift click", lambda: click(self.x, host, *SPOTS["tab"], modifier="shift"),
                f"Open in new tab refused: {tab_url}")

        # Drags the page starts (the engine itself never opens those).
        dragged = time.monotonic()
        refused("drag link", lambda: self.drag(host, SPOTS["drag"], (500, 300)))
        self.http.wait_for_request("/dragstart", after=dragged, timeout=2)
        dragged = time.monotonic()
        refused("drag text", lambda: self.drag(host, SPOTS["text"], (500, 400), select_first=True))
        self.http.wait_for_request("/dragstart", after=dragged, timeout=2)
        self.assertEqual(self.http.requests("/drop"), [])

        refused("file chooser", lambda: click(self.x, host, *SPOTS["file"]),
                "File chooser refused")
        refused("print", lambda: click(self.x, host, *SPOTS["print"]), "Print refused")
        for name, spot, path in (("attachment", "attach", "/attach"), ("binary", "blob", "/blob"),
                                 ("download attribute", "download", "/file.bin")):
            refused(name, lambda: click(self.x, host, *SPOTS[spot]),
                    f"Download refused: {self.http.url(path)}")
        self.assertEqual(self.saved_files(), [])
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "home", "Downloads")))

        refused("F12", lambda: self.x.key("F12"))
        refused("ctrl+shift+i", lambda: self.x.key("ctrl+shift+i"))

        other = self.xhelper()
        with self.subTest("clipboard and notifications"):
            # Another program's clipboard is not the page's to read.
            owner = other.own_selection(
                "CLIPBOARD", {"UTF8_STRING": b"secret", "text/plain;charset=utf-8": b"secret"})
            self.addCleanup(owner.stop)
            clicked = time.monotonic()
            refused("clipboard", lambda: (click(self.x, host, *SPOTS["paste"]),
                                          self.wait_report("notification", clicked)))
            self.assertEqual(self.wait_report("paste", clicked), 'false ""')
            self.assertEqual(self.wait_report("read", clicked), "NotAllowedError")
            self.assertEqual(owner.served(), [])
            self.assertEqual(self.wait_report("notification", clicked), "denied")

        # Drags from another program: the engine would open what is dropped.
        engine = self.x.kiosk_windows(host)["engine"]
        for name, offered in (
                ("drop link", {"text/uri-list": f"{self.http.url('/drop-link')}\r\n".encode()}),
                ("drop text", {kind: self.http.url("/drop-text").encode() for kind in
                               ("text/plain;charset=utf-8", "UTF8_STRING", "text/plain")})):
            replies = []
            refused(name, lambda: replies.extend(other.drop(
                engine, geometry.abs_x + 500, geometry.abs_y + 300, offered)))
            self.assertIsNotNone(replies[0], "the engine's window never answered the drag")

        # Last: the page's document may not survive the 401.
        with self.subTest("http authentication"):
            err = len(kiosk.lines("stderr"))
            click(self.x, host, *SPOTS["auth"])
            self.http.wait_for_request("/auth")
            line = kiosk.wait_for_line("^HTTP authentication refused: ", stream="stderr",
                                       start=err, timeout=5)
            time.sleep(0.5)
            appeared = self.x.shown_windows() - shown
            self.assertFalse(appeared, describe_windows(self.x, appeared))
            self.assertEqual(line.text, f"HTTP authentication refused: {self.http.url('/auth')}",
                             f"(the page was {page_url})")

        self.assertTrue(kiosk.alive(), kiosk.describe())


if __name__ == "__main__":
    vkxtest.main()
