"""Harness for the kiosk's integration tests.

Runs the real vkxbrowser binary under Xvfb (optionally with a window
manager), serves it pages from a local HTTP server that records every
request, and looks at the result through the X tools (xwininfo, xprop,
xdotool, import) and the small Xlib helper built beside the tests.

Python standard library only. Every wait has a timeout, and everything a
test starts is stopped by PID: a test ends its own processes and nothing else.

Environment:
  VKX_BINARY   the kiosk binary (CTest sets it to the vkxbrowser target)
  VKX_XHELPER  the Xlib helper (CTest sets it to the xhelper target)
"""

import atexit
import ctypes
import http.server
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from dataclasses import dataclass, field

DEFAULT_TIMEOUT = 15.0
SCREEN_WIDTH = 1280
SCREEN_HEIGHT = 1024

# Window-manager hints flags (Xutil.h).
ICON_PIXMAP_HINT = 4
ICON_MASK_HINT = 32


class WaitTimeout(AssertionError):
    """A wait ran out of time: the awaited thing did not happen."""


def wait_until(predicate, timeout, interval=0.05, what="condition"):
    """Polls predicate until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise WaitTimeout(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


# --------------------------------------------------------------------------
# Processes


_PR_SET_CHILD_SUBREAPER = 36
_subreaper = None


def become_subreaper():
    """Makes this process the reaper of its orphaned descendants.

    The kiosk's engine helpers then become our children when the kiosk dies,
    so a test can see how they ended (killed by a signal or exited on their
    own) and can end any that are left, by PID. True when it worked.
    """
    global _subreaper
    if _subreaper is None:
        try:
            libc = ctypes.CDLL(None, use_errno=True)
            _subreaper = libc.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0
        except (OSError, AttributeError):
            _subreaper = False
    return _subreaper


def _death_signal_prefix():
    # A child that outlives a killed test run (CTest's timeout) would hold its
    # display or port: setpriv makes the kernel kill it with its parent.
    setpriv = shutil.which("setpriv")
    return [setpriv, "--pdeathsig", "KILL", "--"] if setpriv else []


@dataclass
class ProcInfo:
    pid: int
    ppid: int
    state: str  # "Z" for a zombie
    comm: str
    start: int  # start time in clock ticks after boot: with pid, names one process


def read_proc(pid):
    """The /proc view of one process, or None when there is none."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            text = stat.read().decode(errors="replace")
    except OSError:
        return None
    open_paren, close_paren = text.find("("), text.rfind(")")
    rest = text[close_paren + 2:].split()
    return ProcInfo(pid, int(rest[1]), rest[0], text[open_paren + 1:close_paren], int(rest[19]))


def children_of(pid):
    """Live processes whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            info = read_proc(int(entry))
            if info and info.ppid == pid and info.state != "Z":
                found.append(info)
    return found


def descendants_of(pid):
    """Live processes below pid (a sandboxed web process is two bwraps down)."""
    found = children_of(pid)
    for child in list(found):
        found.extend(descendants_of(child.pid))
    return found


@dataclass
class Line:
    t: float  # time.monotonic() when the line was read
    text: str
    index: int  # position in its stream
    match: object = None


class ManagedProcess:
    """A child process whose stdout and stderr are read line by line.

    Lines carry a monotonic time stamp. Waits fail with WaitTimeout, and as
    soon as the process has ended and the awaited line cannot come any more.
    """

    _live = set()

    def __init__(self, argv, env=None, name=None, cwd=None, stdin=subprocess.DEVNULL):
        self.argv = [str(a) for a in argv]
        self.name = name or os.path.basename(self.argv[0])
        self._cond = threading.Condition()
        self._lines = {"stdout": [], "stderr": []}
        self._open = {"stdout": True, "stderr": True}
        self.start_time = time.monotonic()
        self.proc = subprocess.Popen(
            _death_signal_prefix() + self.argv, env=env, cwd=cwd, stdin=stdin,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.pid = self.proc.pid
        ManagedProcess._live.add(self)
        self._readers = [
            threading.Thread(target=self._read, args=(stream, getattr(self.proc, stream)),
                             name=f"{self.name}-{stream}", daemon=True)
            for stream in ("stdout", "stderr")]
        for reader in self._readers:
            reader.start()

    def _read(self, stream, pipe):
        for raw in iter(pipe.readline, b""):
            text = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            with self._cond:
                lines = self._lines[stream]
                lines.append(Line(time.monotonic(), text, len(lines)))
                self._cond.notify_all()
        pipe.close()
        with self._cond:
            self._open[stream] = False
            self._cond.notify_all()

    def lines(self, stream="stdout"):
        """The lines read so far, as text."""
        with self._cond:
            return [line.text for line in self._lines[stream]]

    def timed_lines(self, stream="stdout"):
        with self._cond:
            return list(self._lines[stream])

    def wait_for_line(self, pattern, timeout=DEFAULT_TIMEOUT, stream="stdout", start=0):
        """The first line at or after index start that pattern (re.search) matches."""
        regex = re.compile(pattern) if isinstance(pattern, str) else pattern
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for line in self._lines[stream][start:]:
                    match = regex.search(line.text)
                    if match:
                        return Line(line.t, line.text, line.index, match)
                start = max(start, len(self._lines[stream]))
                left = deadline - time.monotonic()
                if not self._open[stream]:
                    raise WaitTimeout(f"{self.name} closed its {stream} without a line "
                                      f"matching {regex.pattern!r}\n{self.describe()}")
                if left <= 0:
                    raise WaitTimeout(f"no line matching {regex.pattern!r} on {self.name}'s "
                                      f"{stream} within {timeout:.1f} s\n{self.describe()}")
                self._cond.wait(min(left, 0.5))

    def wait_for_more(self, count, deadline, stream="stdout"):
        """Waits until the stream has more than count lines: False when the
        deadline (on time.monotonic()) passed or the stream ended first."""
        with self._cond:
            while len(self._lines[stream]) <= count:
                left = deadline - time.monotonic()
                if left <= 0 or not self._open[stream]:
                    return False
                self._cond.wait(min(left, 0.5))
            return True

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        """The return code (negative: killed by that signal); the output is read to the end."""
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise WaitTimeout(f"{self.name} (pid {self.pid}) still runs after "
                              f"{timeout:.1f} s\n{self.describe()}") from None
        for reader in self._readers:
            reader.join(timeout=5)
        ManagedProcess._live.discard(self)
        return code

    @property
    def returncode(self):
        return self.proc.poll()

    def alive(self):
        return self.proc.poll() is None

    def signal(self, signum):
        if self.alive():
            self.proc.send_signal(signum)

    def stop(self, grace=3.0):
        """SIGTERM, then SIGKILL after grace seconds; returns the return code."""
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                pass
        return self.kill()

    def kill(self):
        """SIGKILL if still running; returns the return code."""
        if self.alive():
            self.proc.kill()
        try:
            return self.wait_exit(timeout=10)
        except WaitTimeout:
            return None  # unkillable (uninterruptible sleep): left to the kernel

    def describe(self, tail=40):
        out = "\n".join(self.lines("stdout")[-tail:])
        err = "\n".join(self.lines("stderr")[-tail:])
        state = "running" if self.alive() else f"ended with {self.returncode}"
        return (f"--- {self.name} (pid {self.pid}, {state}) stdout:\n{out}\n"
                f"--- {self.name} stderr:\n{err}\n---")

    @classmethod
    def stop_all(cls):
        for process in list(cls._live):
            process.kill()


def _cleanup_at_exit():
    ManagedProcess.stop_all()
    for server in list(Xvfb._live):
        server.stop()
    reap_orphans()


atexit.register(_cleanup_at_exit)


def _exit_on_sigterm(signum, frame):
    # CTest and a developer's Ctrl-C end the run: children go with it.
    raise SystemExit(128 + signum)


if threading.current_thread() is threading.main_thread():
    signal.signal(signal.SIGTERM, _exit_on_sigterm)


def reap_orphans(pids=None):
    """Kills and reaps processes that were re-parented to this (subreaper)
    process, by PID; limited to pids when given. Returns their PIDs."""
    ours = {p.pid for p in ManagedProcess._live} | {x.pid for x in Xvfb._live}
    ended = []
    for info in children_of(os.getpid()):
        if info.pid in ours or (pids is not None and info.pid not in pids):
            continue
        try:
            os.kill(info.pid, signal.SIGKILL)
            os.waitpid(info.pid, 0)
            ended.append(info.pid)
        except (ProcessLookupError, ChildProcessError):
            pass
    return ended


def wait_orphans(pids, timeout=5.0):
    """How each of pids ended, once they were re-parented to this process:
    {pid: ("signal", n) | ("exit", code) | ("unknown", None)}; "unknown" when
    it is not our child (no subreaper) or did not end in time."""
    results = {}
    deadline = time.monotonic() + timeout
    for pid in pids:
        while True:
            try:
                done, status = os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                results[pid] = ("unknown", None)
                break
            if done:
                if os.WIFSIGNALED(status):
                    results[pid] = ("signal", os.WTERMSIG(status))
                else:
                    results[pid] = ("exit", os.WEXITSTATUS(status))
                break
            if time.monotonic() >= deadline:
                results[pid] = ("unknown", None)
                break
            time.sleep(0.02)
    return results


def unkilled_helpers(helpers):
    """{pid: end} of the helpers (ProcInfo) not seen to end by SIGKILL once
    the kiosk has ended (see wait_orphans). A sandbox's bwrap that the kiosk
    killed may also have been reaped by it: then it is only seen gone."""
    ends = wait_orphans([h.pid for h in helpers])
    return {h.pid: ends[h.pid] for h in helpers if ends[h.pid] != ("signal", signal.SIGKILL)
            and not (h.comm == "bwrap" and read_proc(h.pid) is None)}


# --------------------------------------------------------------------------
# X server and window manager


class Xvfb:
    """An Xvfb server on a display number it picks itself (-displayfd)."""

    _live = set()

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT, depth=24, timeout=10.0):
        read_fd, write_fd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                _death_signal_prefix() + [
                    "Xvfb", "-displayfd", str(write_fd),
                    "-screen", "0", f"{width}x{height}x{depth}",
                    "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            os.close(write_fd)
        try:
            number = self._read_display_number(read_fd, timeout)
        except Exception:
            self.stop()
            raise
        finally:
            os.close(read_fd)
        self.display = f":{number}"
        self.width, self.height = width, height
        Xvfb._live.add(self)

    def _read_display_number(self, fd, timeout):
        data = b""
        deadline = time.monotonic() + timeout
        while not data.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or self.proc.poll() is not None:
                raise RuntimeError("Xvfb did not report its display")
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 64)
                if not chunk:
                    raise RuntimeError("Xvfb closed -displayfd without a display")
                data += chunk
        return int(data.strip())

    @property
    def pid(self):
        return self.proc.pid

    def stop(self):
        Xvfb._live.discard(self)
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=5)


class WindowManager(ManagedProcess):
    """A window manager (openbox by default) on a display; ready once it has
    announced itself on the root window."""

    def __init__(self, x, argv=("openbox", "--sm-disable"), timeout=10.0):
        self.home = tempfile.mkdtemp(prefix="vkx-wm-")
        env = clean_environment(x.display, self.home)
        super().__init__(list(argv), env=env, name=os.path.basename(argv[0]))
        try:
            wait_until(lambda: not self.alive() or x.root_property_values(
                "_NET_SUPPORTING_WM_CHECK", "32x"), timeout, what="the window manager")
            if not self.alive():
                raise RuntimeError(f"the window manager ended\n{self.describe()}")
        except Exception:
            self.stop()
            raise

    def stop(self, grace=3.0):
        code = super().stop(grace)
        shutil.rmtree(self.home, ignore_errors=True)
        return code


def clean_environment(display, home, extra=None):
    """The environment for a program under test: the caller's, less what
    would reach outside the test (display, session bus, proxies, the user's
    files), with display and a private home."""
    env = {k: v for k, v in os.environ.items()
           if not (k.startswith("VKX_") or k in (
               "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS",
               "SESSION_MANAGER") or k.lower().endswith("_proxy"))}
    for sub in ("", "/.cache", "/.config", "/.local/share", "/runtime"):
        os.makedirs(home + sub, mode=0o700, exist_ok=True)
    env.update({
        "HOME": home,
        "XDG_CACHE_HOME": home + "/.cache",
        "XDG_CONFIG_HOME": home + "/.config",
        "XDG_DATA_HOME": home + "/.local/share",
        "XDG_RUNTIME_DIR": home + "/runtime",
        "NO_AT_BRIDGE": "1",
        "GDK_BACKEND": "x11",
        "no_proxy": "*",
        "LANG": "C.UTF-8",
    })
    if display is not None:
        env["DISPLAY"] = display
    env.update(extra or {})
    return env


# --------------------------------------------------------------------------
# Looking at and driving the X display


@dataclass
class WindowNode:
    id: int
    name: str  # WM_NAME as xwininfo shows it, "" when none
    x: int  # relative to the parent
    y: int
    width: int
    height: int
    abs_x: int
    abs_y: int
    children: list = field(default_factory=list)

    def walk(self, depth=0):
        yield self, depth
        for child in self.children:
            yield from child.walk(depth + 1)

    def find(self, window_id):
        for node, _ in self.walk():
            if node.id == window_id:
                return node
        return None


@dataclass
class Geometry:
    x: int  # relative to the parent, as XGetGeometry tells it
    y: int
    width: int
    height: int
    border: int
    abs_x: int  # upper-left corner on the screen, border included
    abs_y: int
    map_state: str

    @property
    def size(self):
        return (self.width, self.height)


_TREE_LINE = re.compile(
    r"^(\s*)(0x[0-9a-f]+) (.*?)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)\s*$")


class Image:
    """A screenshot: pixel() gives (r, g, b)."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    @classmethod
    def from_ppm(cls, data):
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos)
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError("not an 8-bit binary PPM")
        width, height = int(fields[1]), int(fields[2])
        return cls(width, height, data[pos + 1:pos + 1 + width * height * 3])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def matches(self, x, y, colour, tolerance=3):
        return all(abs(a - b) <= tolerance for a, b in zip(self.pixel(x, y), colour))

    def fraction(self, rect, colour, tolerance=3, step=4):
        """Share of the sampled pixels in rect (x, y, w, h) that have colour."""
        x0, y0, w, h = rect
        hits = total = 0
        for y in range(max(y0, 0), min(y0 + h, self.height), step):
            for x in range(max(x0, 0), min(x0 + w, self.width), step):
                total += 1
                hits += self.matches(x, y, colour, tolerance)
        return hits / total if total else 0.0

    def save_png(self, path):
        """Writes the image as PNG (for looking at a failure)."""
        import struct
        import zlib
        rows = b"".join(b"\0" + self.rgb[y * self.width * 3:(y + 1) * self.width * 3]
                        for y in range(self.height))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height,
                                                 8, 2, 0, 0, 0)))
            out.write(chunk(b"IDAT", zlib.compress(rows, 6)))
            out.write(chunk(b"IEND", b""))


class XDisplay:
    """The X tools pointed at one display."""

    def __init__(self, display):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display, LANG="C.UTF-8")
        self.env.pop("XAUTHORITY", None)

    def run(self, argv, timeout=10.0, check=True):
        """Runs an X client to completion; its stdout as text."""
        try:
            result = subprocess.run([str(a) for a in argv], env=self.env, timeout=timeout,
                                    stdin=subprocess.DEVNULL, capture_output=True)
        except subprocess.TimeoutExpired:
            raise WaitTimeout(f"{argv[0]} took more than {timeout} s") from None
        if check and result.returncode != 0:
            raise RuntimeError(f"{' '.join(map(str, argv))} failed with {result.returncode}: "
                               f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode("utf-8", errors="replace")

    # Window tree and geometry

    def _xwininfo_retrying(self, argv, attempts=5):
        # xwininfo gives up when a window vanishes while it walks the tree,
        # which other clients' short-lived windows do at any time.
        for attempt in range(attempts):
            try:
                return self.run(argv)
            except RuntimeError:
                if attempt == attempts - 1:
                    raise
                time.sleep(0.05)

    def tree(self):
        """The whole window tree (xwininfo -root -tree)."""
        return self._parse_tree(self._xwininfo_retrying(["xwininfo", "-root", "-tree"]))

    def children(self, window):
        """The direct children of window, top of the stack first."""
        text = self._xwininfo_retrying(["xwininfo", "-children", "-id", hex(window)])
        return self._parse_tree(text, root_id=window).children

    @staticmethod
    def _parse_tree(text, root_id=None):
        root = None
        stack = []  # (indent, node)
        for raw in text.splitlines():
            if root is None:
                match = re.search(r"(?:Root window id|Window id): (0x[0-9a-f]+)", raw)
                if match and (root_id is None or int(match.group(1), 16) == root_id):
                    root = WindowNode(int(match.group(1), 16), "", 0, 0, 0, 0, 0, 0)
                    stack = [(-1, root)]
                continue
            match = _TREE_LINE.match(raw)
            if not match:
                continue
            indent = len(match.group(1))
            label = match.group(3)
            name_match = re.match(r'"(.*)"', label)
            node = WindowNode(int(match.group(2), 16), name_match.group(1) if name_match else "",
                              *(int(match.group(i)) for i in range(4, 10)))
            while stack and stack[-1][0] >= indent:
                stack.pop()
            stack[-1][1].children.append(node)
            stack.append((indent, node))
        if root is None:
            raise RuntimeError("xwininfo printed no window")
        return root

    def geometry(self, window):
        """Geometry and map state of window; None when it does not exist."""
        try:
            text = self.run(["xwininfo", "-id", hex(window)])
        except RuntimeError:
            return None

        def number(label):
            return int(re.search(rf"{label}:\s+(-?\d+)", text).group(1))
        return Geometry(number("Relative upper-left X"), number("Relative upper-left Y"),
                        number("Width"), number("Height"), number("Border width"),
                        number("Absolute upper-left X"), number("Absolute upper-left Y"),
                        re.search(r"Map State:\s+(\w+)", text).group(1))

    def wait_for_geometry(self, window, predicate, timeout=DEFAULT_TIMEOUT, what=None):
        """Polls the geometry of window until predicate(geometry) holds."""
        last = [None]

        def check():
            last[0] = self.geometry(window)
            return last[0] if last[0] is not None and predicate(last[0]) else None
        try:
            return wait_until(check, timeout, interval=0.05,
                              what=what or f"the geometry of {hex(window)}")
        except WaitTimeout as error:
            raise WaitTimeout(f"{error}; last seen: {last[0]}") from None

    # Properties

    def property(self, window, name):
        """(type, value text) of a property as xprop prints it, or None."""
        argv = ["xprop"] + (["-root"] if window is None else ["-id", hex(window)]) + [name]
        text = self.run(argv, check=False)
        match = re.match(rf"^{re.escape(name)}\(([^)]*)\) = (.*)$", text.strip(), re.S)
        return (match.group(1), match.group(2)) if match else None

    def property_values(self, window, name, fmt="32i"):
        """A property's items formatted by xprop's format letter (32i numbers,
        32a atom names, 32x hex, 8u text...): a list of strings, or None."""
        argv = ["xprop"] + (["-root"] if window is None else ["-id", hex(window)])
        text = self.run(argv + ["-notype", "-f", name, fmt, "=$0+\\n", name],
                        check=False).strip()
        prefix = name + "="
        if not text.startswith(prefix):
            return None
        return [item.strip() for item in text[len(prefix):].split(",")]

    def root_property_values(self, name, fmt="32i"):
        return self.property_values(None, name, fmt)

    def text_property(self, window, name):
        """(type, text) of a string property, unquoted; None when unset."""
        found = self.property(window, name)
        if found is None:
            return None
        kind, value = found
        match = re.fullmatch(r'"(.*)"', value, re.S)
        if not match:
            return kind, value
        text = re.sub(r'\\(["\\])', r"\1", match.group(1))
        return kind, text

    # The kiosk's windows

    def host_window_candidates(self):
        """Windows that look like the kiosk's host window: a top-level window
        (a child of the root, or of a window manager's frame) that closes
        through WM_DELETE_WINDOW and carries an icon pixmap and mask."""
        found = []
        for node, depth in self.tree().walk():
            if depth not in (1, 2) or node.width * node.height <= 1:
                continue
            protocols = self.property_values(node.id, "WM_PROTOCOLS", "32a") or []
            if "WM_DELETE_WINDOW" not in protocols:
                continue
            hints = self.property_values(node.id, "WM_HINTS", "32i")
            if not hints or int(hints[0]) & (ICON_PIXMAP_HINT | ICON_MASK_HINT) != \
                    ICON_PIXMAP_HINT | ICON_MASK_HINT:
                continue
            found.append(node.id)
        return found

    def find_host_window(self, timeout=DEFAULT_TIMEOUT):
        """The kiosk's host window, once it is there and mapped."""
        def look():
            for window in self.host_window_candidates():
                geometry = self.geometry(window)
                if geometry and geometry.map_state == "IsViewable":
                    return window
            return None
        return wait_until(look, timeout, interval=0.1, what="the kiosk's host window")

    def kiosk_windows(self, host):
        """The kiosk's X windows inside the host window: "toolbar" (the top
        strip, None without a toolbar), "browser" (the window the engine is
        embedded in) and "engine" (the engine's own window, None before it
        is embedded). The browser window is the larger child of the host."""
        children = self.children(host)
        if not children:
            return {"toolbar": None, "browser": None, "engine": None}
        children.sort(key=lambda node: node.width * node.height, reverse=True)
        browser = children[0]
        inside = self.children(browser.id)
        return {"browser": browser.id,
                "toolbar": children[1].id if len(children) > 1 else None,
                "engine": inside[0].id if inside else None}

    # Screenshots

    def screenshot(self):
        """The whole screen, as ImageMagick's import grabs it."""
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                              env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=20, check=True).stdout
        return Image.from_ppm(data)

    def wait_for_colour(self, rect, colour, share=0.99, timeout=10.0):
        """Takes screenshots until at least share of rect (x, y, w, h on the
        screen) has colour; returns that screenshot."""
        last = [0.0]

        def look():
            image = self.screenshot()
            last[0] = image.fraction(rect, colour, step=2)
            return image if last[0] >= share else None
        try:
            return wait_until(look, timeout, interval=0.2, what=f"rgb{tuple(colour)} in {rect}")
        except WaitTimeout as error:
            raise WaitTimeout(f"{error}; last share {last[0]:.2f}") from None

    # Input (xdotool)

    def shown_windows(self):
        """Top-level windows that are mapped and show at least a few pixels of
        the screen (GTK's hidden helper windows are 1x1 and off screen), less
        tooltips (the page's own, such as a file input's)."""
        shown = set()
        for node in self.tree().children:
            geometry = self.geometry(node.id)
            if (geometry and geometry.map_state == "IsViewable" and geometry.width > 1 and
                    geometry.height > 1 and geometry.abs_x < SCREEN_WIDTH and
                    geometry.abs_y < SCREEN_HEIGHT and
                    geometry.abs_x + geometry.width > 0 and geometry.abs_y + geometry.height > 0 and
                    "_NET_WM_WINDOW_TYPE_TOOLTIP" not in
                    (self.property_values(node.id, "_NET_WM_WINDOW_TYPE", "32a") or [])):
                shown.add(node.id)
        return shown

    def xdotool(self, *args):
        return self.run(["xdotool"] + [str(a) for a in args])

    def move_pointer(self, x, y):
        self.xdotool("mousemove", "--sync", x, y)

    def click(self, x, y, button=1):
        self.move_pointer(x, y)
        self.xdotool("click", button)

    def key(self, *keys, window=None):
        """Types keys (e.g. "ctrl+c") to the focus, or sent to window."""
        self.xdotool("key", *(["--window", hex(window)] if window else []), *keys)

    def resize(self, window, width, height):
        self.xdotool("windowsize", hex(window), width, height)

    def focus(self, window):
        self.xdotool("windowfocus", hex(window))

    def focused_window(self):
        return int(self.xdotool("getwindowfocus").strip())


# --------------------------------------------------------------------------
# The Xlib helper


def xhelper_path():
    path = os.environ.get("VKX_XHELPER")
    if not path:
        raise unittest.SkipTest("VKX_XHELPER is not set (run the tests through CTest)")
    return path


class XHelper:
    """The Xlib helper program (xhelper.cc) on one display."""

    def __init__(self, x):
        self.x = x
        self.path = xhelper_path()

    def record_wm(self, seconds=60.0):
        """Starts playing the window manager; see WmRecorder."""
        return WmRecorder(self, seconds)

    def watch(self, window, seconds=60.0):
        """Starts reporting the geometry changes of window; see GeometryWatch."""
        return GeometryWatch(self, window, seconds)

    def close(self, window):
        """Sends window a WM_DELETE_WINDOW message, as a close button does."""
        self.x.run([self.path, "close", hex(window)])

    def message(self, window, type_name, *data):
        """Sends a format-32 client message of type_name with up to five
        longs (numbers or atom names); window None: to the root window, as
        requests to the window manager go."""
        target = "root" if window is None else hex(window)
        self.x.run([self.path, "message", target, type_name, *map(str, data)])

    def focus_keys(self, window, *combos):
        """Focuses window and types the key combinations (e.g. "ctrl+c")
        before any other client can move the focus; returns the window that
        had the focus as the keys were typed."""
        text = self.x.run([self.path, "focus-keys", hex(window), *combos])
        return int(json.loads(text.strip().splitlines()[-1])["focus"], 16)


class JsonLines(ManagedProcess):
    """A helper process that reports one JSON object a line."""

    @staticmethod
    def _parse(lines, kind=None):
        events = []
        for line in lines:
            try:
                event = json.loads(line)
            except ValueError:
                continue
            if kind is None or event.get("event") == kind:
                events.append(event)
        return events

    def events(self, kind=None):
        """The events reported so far; only those of kind when given."""
        return self._parse(self.lines(), kind)

    def wait_for_event(self, predicate, timeout=DEFAULT_TIMEOUT):
        """The first event (of all so far and to come) that predicate accepts."""
        deadline = time.monotonic() + timeout
        seen = 0
        while True:
            lines = self.lines()
            for event in self._parse(lines[seen:]):
                if predicate(event):
                    return event
            seen = len(lines)
            if not self.wait_for_more(seen, deadline):
                raise WaitTimeout(f"no awaited event from {self.name} within {timeout:.1f} s"
                                  f"\n{self.describe()}")


class WmRecorder(JsonLines):
    """xhelper wm-record: grants windows what they ask and records each
    MapRequest, ConfigureRequest and ClientMessage to the root, with "t"
    on time.monotonic()'s clock. A ClientMessage has "window", "type" (atom
    name), "format", "data" (five numbers) and "atoms" (each number's atom
    name, or None)."""

    def __init__(self, helper, seconds):
        self.helper = helper
        self._marks = 0
        super().__init__([helper.path, "wm-record", seconds], env=helper.x.env,
                         name="xhelper wm-record")
        self.wait_for_line('"ready"', timeout=10)

    def sync(self, timeout=10.0):
        """Returns once the recorder has reported everything that happened
        on the display before this call: it waits for a marker message."""
        self._marks += 1
        self.helper.message(None, "VKX_TEST_MARK", self._marks)
        self.wait_for_event(lambda e: e["event"] == "ClientMessage" and
                            e["type"] == "VKX_TEST_MARK" and e["data"][0] == self._marks,
                            timeout)

    def client_messages(self, type_name=None, window=None):
        return [e for e in self.events("ClientMessage")
                if (type_name is None or e["type"] == type_name)
                and (window is None or int(e["window"], 16) == window)]

    def map_requests(self):
        return self.events("MapRequest")


class GeometryWatch(JsonLines):
    """xhelper watch: the window's geometry at start, then every change."""

    def __init__(self, helper, window, seconds):
        super().__init__([helper.path, "watch", hex(window), seconds], env=helper.x.env,
                         name="xhelper watch")
        self.wait_for_line('"geometry"', timeout=10)

    def changes(self):
        return [e for e in self.events() if e["event"] in ("geometry", "ConfigureNotify")]

    def wait_for(self, predicate, timeout=DEFAULT_TIMEOUT):
        return self.wait_for_event(
            lambda e: e["event"] in ("geometry", "ConfigureNotify") and predicate(e), timeout)


# --------------------------------------------------------------------------
# Local HTTP server


@dataclass
class Request:
    t: float
    method: str
    path: str  # with the query string
    headers: dict  # lower-cased names
    body: bytes


@dataclass
class Response:
    status: int = 200
    body: bytes = b""
    content_type: str = "text/html; charset=utf-8"
    headers: dict = field(default_factory=dict)


class HttpServer:
    """A threaded HTTP server on 127.0.0.1 and a free port. Routes map a path
    (without query) to a Response or to a function of the Request returning
    one; anything else is a 404. Every request is recorded."""

    def __init__(self):
        self._routes = {}
        self._requests = []
        self._cond = threading.Condition()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def _serve(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                request = Request(time.monotonic(), self.command, self.path,
                                  {k.lower(): v for k, v in self.headers.items()}, body)
                with server._cond:
                    server._requests.append(request)
                    server._cond.notify_all()
                route = server._routes.get(self.path.split("?", 1)[0])
                response = route(request) if callable(route) else route
                if response is None:
                    response = Response(404, b"not found", "text/plain")
                self.send_response(response.status)
                self.send_header("Content-Type", response.content_type)
                self.send_header("Content-Length", str(len(response.body)))
                self.send_header("Cache-Control", "no-store")
                for name, value in response.headers.items():
                    self.send_header(name, value)
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(response.body)

            do_GET = do_POST = do_HEAD = do_PUT = do_DELETE = _serve

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self._thread = threading.Thread(target=self.server.serve_forever,
                                         kwargs={"poll_interval": 0.1},
                                         name="http-server", daemon=True)
        self._thread.start()

    def url(self, path="/"):
        return f"http://127.0.0.1:{self.port}{path}"

    def route(self, path, response):
        """Serves response (a Response, or a function of the Request) at path."""
        self._routes[path] = response

    def page(self, path, html):
        self.route(path, Response(body=html.encode("utf-8")))
        return self.url(path)

    def requests(self, path=None):
        with self._cond:
            return [r for r in self._requests
                    if path is None or r.path.split("?", 1)[0] == path]

    def wait_for_request(self, path, timeout=DEFAULT_TIMEOUT, after=0.0):
        """The first request for path (without query) made at or after time after."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for request in self._requests:
                    if request.path.split("?", 1)[0] == path and request.t >= after:
                        return request
                left = deadline - time.monotonic()
                if left <= 0:
                    seen = [r.path for r in self._requests]
                    raise WaitTimeout(f"no request for {path} within {timeout:.1f} s "
                                      f"(requests: {seen})")
                self._cond.wait(min(left, 0.5))

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self._thread.join(timeout=5)


def solid_page(rgb, title=None, body=""):
    """HTML for a page that is one colour edge to edge."""
    head = f"<title>{title}</title>" if title else ""
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'>" + head +
            "<style>html,body{margin:0;height:100%;overflow:hidden;"
            f"background:rgb{tuple(rgb)}}}</style></head><body>{body}</body></html>")


# --------------------------------------------------------------------------
# The kiosk


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


# --------------------------------------------------------------------------
# Test case base


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


def main():
    unittest.main(verbosity=2)


if __name__ == "__main__":
    sys.exit("harness.py is a library; run the test_*.py files")


# --------------------------------------------------------------------------
# HTTPS, a private certificate authority and private system files


import shlex  # noqa: E402  (kept with the code that needs them)
import ssl  # noqa: E402


class HttpsServer(HttpServer):
    """HttpServer over TLS: chain_file holds the server certificate first,
    then any intermediates (PEM). It listens on host and port (0: a free
    one); url() names the server by hostname. The handshake runs in the
    connection's own thread, and each one that fails is kept in
    handshake_failures, so a test can tell a client that refused the
    certificate from one that never came."""

    def __init__(self, chain_file, key_file, hostname="localhost", host="127.0.0.1", port=0):
        super().__init__()
        # Only the plain server's request handler is kept.
        handler = self.server.RequestHandlerClass
        super().stop()
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(chain_file, key_file)
        self.hostname = hostname
        self.handshake_failures = []
        outer = self

        class TlsHandler(handler):
            def setup(self):
                self.request.settimeout(DEFAULT_TIMEOUT)
                try:
                    self.request.do_handshake()
                except (ssl.SSLError, OSError) as error:
                    with outer._cond:
                        outer.handshake_failures.append(str(error))
                        outer._cond.notify_all()
                    raise
                super().setup()

        class TlsServer(http.server.ThreadingHTTPServer):
            daemon_threads = True

            def get_request(self):
                sock, address = self.socket.accept()
                return (context.wrap_socket(sock, server_side=True,
                                            do_handshake_on_connect=False), address)

            def handle_error(self, request, client_address):
                # A refused handshake is what some tests want to see.
                if not isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError,
                                                      TimeoutError)):
                    super().handle_error(request, client_address)

        self.server = TlsServer((host, port), TlsHandler)
        self.port = self.server.server_address[1]
        self._thread = threading.Thread(target=self.server.serve_forever,
                                         kwargs={"poll_interval": 0.1},
                                         name="https-server", daemon=True)
        self._thread.start()

    def url(self, path="/"):
        port = "" if self.port == 443 else f":{self.port}"
        return f"https://{self.hostname}{port}{path}"

    def wait_for_handshake_failure(self, timeout=DEFAULT_TIMEOUT):
        """The first failed handshake's error text."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while not self.handshake_failures:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise WaitTimeout(f"no failed TLS handshake on port {self.port} "
                                      f"within {timeout:.1f} s")
                self._cond.wait(min(left, 0.5))
            return self.handshake_failures[0]


def _openssl(*args):
    result = subprocess.run(["openssl", *map(str, args)], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=30)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(map(str, args))} failed: "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result.stdout.decode()


class CertificateAuthority:
    """Certificates for tests, made with the openssl command line in folder:
    a root of its own (a subject no other test shares), intermediates, and
    server certificates. Keys are P-256: quick to make."""

    _CA = ("basicConstraints = critical,CA:TRUE\n"
           "keyUsage = critical,keyCertSign,cRLSign\n"
           "subjectKeyIdentifier = hash\n")
    _SERVER = ("basicConstraints = critical,CA:FALSE\n"
               "keyUsage = critical,digitalSignature\n"
               "extendedKeyUsage = serverAuth\n"
               "subjectAltName = {san}\n")

    def __init__(self, folder):
        self.folder = folder
        self.tag = os.urandom(4).hex()
        self._names = 0
        self.root, self.root_key = self._self_signed(f"vkx test root {self.tag}", self._CA)

    def _path(self, label, suffix):
        return os.path.join(self.folder, f"{label}.{suffix}")

    def _key(self, label):
        key = self._path(label, "key")
        _openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                 "-out", key)
        return key

    def _config(self, label, extensions):
        path = self._path(label, "cnf")
        with open(path, "w", encoding="ascii") as out:
            out.write("[req]\ndistinguished_name = dn\n[dn]\n[ext]\n" + extensions)
        return path

    def _label(self, common_name):
        self._names += 1
        return f"{self._names:02d}-" + re.sub(r"[^A-Za-z0-9.-]", "_", common_name)

    def _self_signed(self, common_name, extensions):
        label = self._label(common_name)
        key, cert = self._key(label), self._path(label, "pem")
        _openssl("req", "-x509", "-new", "-key", key, "-subj", f"/CN={common_name}",
                 "-days", 2, "-config", self._config(label, extensions), "-extensions", "ext",
                 "-out", cert)
        return cert, key

    def _signed(self, common_name, extensions, issuer):
        issuer_cert, issuer_key = issuer or (self.root, self.root_key)
        label = self._label(common_name)
        key, csr, cert = self._key(label), self._path(label, "csr"), self._path(label, "pem")
        _openssl("req", "-new", "-key", key, "-subj", f"/CN={common_name}", "-out", csr)
        _openssl("x509", "-req", "-in", csr, "-CA", issuer_cert, "-CAkey", issuer_key,
                 "-set_serial", "0x" + os.urandom(8).hex(), "-days", 2,
                 "-extfile", self._config(label, extensions), "-extensions", "ext",
                 "-out", cert)
        return cert, key

    @staticmethod
    def _san(dns_names):
        return ",".join(f"DNS:{name}" for name in dns_names)

    def intermediate(self, issuer=None):
        """(certificate, key) of a CA signed by issuer (the root when None)."""
        return self._signed(f"vkx test intermediate {self.tag}", self._CA, issuer)

    def server(self, *dns_names, issuer=None):
        """(chain file, key) for a server certificate signed by issuer (a
        (certificate, key) pair; the root when None); the chain file holds
        the issuer after the certificate unless the issuer is the root."""
        cert, key = self._signed(dns_names[0], self._SERVER.format(san=self._san(dns_names)),
                                 issuer)
        if issuer is None:
            return cert, key
        chain = cert[:-len(".pem")] + ".chain.pem"
        with open(chain, "w", encoding="ascii") as out:
            for part in (cert, issuer[0]):
                with open(part, encoding="ascii") as pem:
                    out.write(pem.read())
        return chain, key

    def self_signed_server(self, *dns_names):
        """(certificate, key) of a server certificate that signs itself."""
        return self._self_signed(dns_names[0], self._SERVER.format(san=self._san(dns_names)))


class PrivateSystemFiles:
    """Copies of /etc/ssl/certs and /etc/hosts that a program started
    through wrap() sees in place of the real ones: bind mounts in a mount
    namespace of its own (unshare -m, needs root), so the machine's files
    are never touched. trust_in_directory() puts a certificate only where
    OpenSSL looks it up by subject hash; trust_in_bundle() adds it to
    ca-certificates.crt, which GnuTLS (and so WebKit) reads."""

    _available = None

    def __init__(self, folder):
        self.folder = folder
        self.certs = os.path.join(folder, "certs")
        shutil.copytree("/etc/ssl/certs", self.certs, symlinks=True)
        bundle = os.path.join(self.certs, "ca-certificates.crt")
        if os.path.islink(bundle):
            target = os.path.realpath(bundle)
            os.unlink(bundle)
            shutil.copyfile(target, bundle)
        self.hosts = None

    @classmethod
    def unavailable_reason(cls):
        """None when private mounts work here, else why not."""
        if cls._available is None:
            folder = tempfile.mkdtemp(prefix="vkx-ns-")
            try:
                marker = os.path.join(folder, "vkx-marker")
                open(marker, "w").close()
                result = subprocess.run(
                    ["unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
                     'mount --bind "$1" /etc/ssl/certs && test -e /etc/ssl/certs/vkx-marker',
                     "sh", folder],
                    stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
                cls._available = "" if result.returncode == 0 else (
                    "a private mount namespace (unshare -m, bind mount over /etc/ssl/certs) "
                    f"does not work here: {result.stderr.decode(errors='replace').strip()}")
            except (OSError, subprocess.TimeoutExpired) as error:
                cls._available = f"unshare cannot run: {error}"
            finally:
                shutil.rmtree(folder, ignore_errors=True)
        return cls._available or None

    def trust_in_directory(self, cert):
        """Adds cert as <subject hash>.N; returns that path."""
        digest = _openssl("x509", "-hash", "-noout", "-in", cert).strip()
        for n in range(100):
            path = os.path.join(self.certs, f"{digest}.{n}")
            if not os.path.lexists(path):
                shutil.copyfile(cert, path)
                return path
        raise RuntimeError(f"no free hash name for {cert}")

    def trust_in_bundle(self, cert):
        with open(cert, encoding="ascii") as pem, \
                open(os.path.join(self.certs, "ca-certificates.crt"), "a", encoding="ascii") as out:
            out.write(pem.read())

    def map_host(self, address, *names):
        """Makes names resolve to address (a line added to the hosts copy)."""
        if self.hosts is None:
            self.hosts = os.path.join(self.folder, "hosts")
            shutil.copyfile("/etc/hosts", self.hosts)
        with open(self.hosts, "a", encoding="ascii") as out:
            out.write(f"\n{address} {' '.join(names)}\n")

    def wrap(self, program):
        """A script that runs program (same PID: every step execs) with the
        copies mounted over the real files."""
        path = os.path.join(self.folder, "with-private-files")
        program = os.path.abspath(program)
        with open(path, "w", encoding="utf-8") as out:
            out.write(
                "#!/bin/sh\n"
                "exec unshare --mount --propagation private -- /bin/sh -c '\n"
                '  mount --bind "$1" /etc/ssl/certs || exit 97\n'
                '  if [ -n "$2" ]; then mount --bind "$2" /etc/hosts || exit 97; fi\n'
                '  shift 2\n'
                '  exec "$@"\' with-private-files '
                f"{shlex.quote(self.certs)} {shlex.quote(self.hosts or '')} "
                f"{shlex.quote(program)} \"$@\"\n")
        os.chmod(path, 0o755)
        return path


def click_at(x, px, py, button=1):
    """Clicks at (px, py) on display x. xdotool's mousemove --sync waits for
    a motion that never comes when the pointer is already there: no move then."""
    where = dict(item.split(":", 1) for item in x.xdotool("getmouselocation").split())
    if (int(where["x"]), int(where["y"])) != (px, py):
        x.move_pointer(px, py)
    x.xdotool("click", button)


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
