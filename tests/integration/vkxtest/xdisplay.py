"""The X side: an Xvfb server, a window manager on it, and XDisplay, the X
command-line tools (xwininfo, xprop, xdotool, ImageMagick's import) pointed
at one display."""

import os
import re
import select
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

from .processes import ManagedProcess, death_signal_prefix, clean_environment, track, untrack
from .waiting import DEFAULT_TIMEOUT, WaitTimeout, wait_until

SCREEN_WIDTH = 1280
SCREEN_HEIGHT = 1024

# Window-manager hints flags (Xutil.h).
ICON_PIXMAP_HINT = 4
ICON_MASK_HINT = 32


class Xvfb:
    """An Xvfb server on a display number it picks itself (-displayfd)."""

    def __init__(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT, depth=24, timeout=10.0):
        read_fd, write_fd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                death_signal_prefix() + [
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
        track(self)

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
        untrack(self)
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=5)

    kill = stop


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
        is embedded), and "keyboard" (the on-screen keyboard's strip, None
        without one). The browser window is the larger child of the host."""
        children = self.children(host)
        keyboard = next((node.id for node in children if node.name == "vkx-keyboard"), None)
        children = [node for node in children if node.id != keyboard]
        if not children:
            return {"toolbar": None, "browser": None, "engine": None, "keyboard": keyboard}
        children.sort(key=lambda node: node.width * node.height, reverse=True)
        browser = children[0]
        inside = self.children(browser.id)
        return {"browser": browser.id,
                "toolbar": children[1].id if len(children) > 1 else None,
                "engine": inside[0].id if inside else None, "keyboard": keyboard}

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
        # --sync waits for the pointer to move: forever when it is there already.
        if self.xdotool("getmouselocation").split()[:2] != [f"x:{x}", f"y:{y}"]:
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


def click_at(x, px, py, button=1):
    """Clicks at (px, py) on display x. xdotool's mousemove --sync waits for
    a motion that never comes when the pointer is already there: no move then."""
    where = dict(item.split(":", 1) for item in x.xdotool("getmouselocation").split())
    if (int(where["x"]), int(where["y"])) != (px, py):
        x.move_pointer(px, py)
    x.xdotool("click", button)
