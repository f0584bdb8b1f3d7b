"""The Xlib helper program (xhelper.cc) on one display: a window manager
that records what clients ask of it, window-manager style messages, keys
typed under a server grab, geometry watches, and another X client that owns
a selection or drags data onto a window."""

import json
import os
import time
import unittest

from .processes import ManagedProcess
from .waiting import DEFAULT_TIMEOUT, WaitTimeout


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

    def own_selection(self, selection, offered, seconds=60.0):
        """Starts another program's client that owns selection (such as
        CLIPBOARD) and hands out {type name: bytes} to whoever asks; see
        SelectionOwner."""
        return SelectionOwner(self, selection, offered, seconds)

    def cursor_alpha(self):
        """The sum of the alpha of the pointer's image as the server shows
        it now: 0 when nothing of it is visible."""
        text = self.x.run([self.path, "cursor"])
        return json.loads(text.strip().splitlines()[-1])["alpha"]

    def drop(self, window, x, y, offered):
        """Another program's client drags {type name: bytes} onto window at
        root point (x, y) and drops it there even when the window does not
        accept it, as a careless source might. Returns (the window's
        XdndStatus data, its XdndFinished data), each None when it did not
        come."""
        text = self.x.run([self.path, "drop", hex(window), x, y, *_offer_arguments(offered)],
                          timeout=15)
        report = json.loads(text.strip().splitlines()[-1])
        return report["status"], report["finished"]


def _offer_arguments(offered):
    return [item for name, data in offered.items() for item in (name, data.decode())]


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



class SelectionOwner(JsonLines):
    """xhelper own: owns a selection and serves its data, reporting each
    type it handed the data out in."""

    def __init__(self, helper, selection, offered, seconds):
        super().__init__([helper.path, "own", selection, seconds, *_offer_arguments(offered)],
                         env=helper.x.env, name="xhelper own")
        self.wait_for_line('"ready"', timeout=10)

    def served(self):
        """The type names the data was handed out in so far."""
        return [event["target"] for event in self.events("served")]
