"""Processes the tests start: read line by line with time stamps, ended by
PID (never by name), and whatever they leave behind reaped.

Everything started here is tracked until it has ended; at exit, or on
SIGTERM (CTest's timeout, a developer's Ctrl-C), what is left is killed.
"""

import atexit
import ctypes
import os
import re
import shutil
import signal
import subprocess
import threading
import time
from dataclasses import dataclass, field

from .waiting import DEFAULT_TIMEOUT, WaitTimeout

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


def death_signal_prefix():
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
    # The fields of /proc/PID/stat from the state on: field N is fields[N - 3].
    fields: list = field(default_factory=list, repr=False)


def read_proc(pid):
    """The /proc view of one process, or None when there is none."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            text = stat.read().decode(errors="replace")
    except OSError:
        return None
    open_paren, close_paren = text.find("("), text.rfind(")")
    rest = text[close_paren + 2:].split()
    return ProcInfo(pid, int(rest[1]), rest[0], text[open_paren + 1:close_paren], int(rest[19]),
                    rest)


def process_table():
    """Every process on the machine, zombies included: {pid: ProcInfo}."""
    table = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            info = read_proc(int(entry))
            if info:
                table[info.pid] = info
    return table


def children_of(pid):
    """Live processes whose parent is pid."""
    return [info for info in process_table().values() if info.ppid == pid and info.state != "Z"]


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

    def __init__(self, argv, env=None, name=None, cwd=None, stdin=subprocess.DEVNULL):
        self.argv = [str(a) for a in argv]
        self.name = name or os.path.basename(self.argv[0])
        self._cond = threading.Condition()
        self._lines = {"stdout": [], "stderr": []}
        self._open = {"stdout": True, "stderr": True}
        self.start_time = time.monotonic()
        self.proc = subprocess.Popen(
            death_signal_prefix() + self.argv, env=env, cwd=cwd, stdin=stdin,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.pid = self.proc.pid
        track(self)
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
        untrack(self)
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


# What was started here and has not ended yet, oldest first; each has pid
# and kill().
_live = {}


def track(process):
    _live[process] = None


def untrack(process):
    _live.pop(process, None)


def _cleanup_at_exit():
    # The newest first: a kiosk before the X server it runs on.
    for process in reversed(list(_live)):
        process.kill()
    reap_orphans()


atexit.register(_cleanup_at_exit)


def _exit_on_sigterm(signum, frame):
    # CTest and a developer's Ctrl-C end the run: children go with it.
    raise SystemExit(128 + signum)


if threading.current_thread() is threading.main_thread():
    signal.signal(signal.SIGTERM, _exit_on_sigterm)


def descendants_of(pid):
    """Live processes below pid (a sandboxed web process is two bwraps down)."""
    found = children_of(pid)
    for child in list(found):
        found.extend(descendants_of(child.pid))
    return found


def reap_orphans(pids=None):
    """Kills and reaps processes that were re-parented to this (subreaper)
    process, by PID; limited to pids when given. Returns their PIDs."""
    ours = {p.pid for p in _live}
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


def clean_environment(display, home, extra=None):
    """The environment for a program under test: the caller's, less what
    would reach outside the test (display, session bus, proxies, the user's
    files), with display and a private home. A variable of extra that is
    None is left out."""
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
    for name, value in (extra or {}).items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


def unkilled_helpers(helpers):
    """{pid: end} of the helpers (ProcInfo) not seen to end by SIGKILL once
    the kiosk has ended (see wait_orphans). A helper that the kiosk killed
    may also have been reaped by it (its toolkit watches its children)
    before the kiosk itself ended: then it is only seen gone. A helper left
    to notice on its own ends after the kiosk, as our orphan, and is seen."""
    ends = wait_orphans([h.pid for h in helpers])
    return {h.pid: ends[h.pid] for h in helpers if ends[h.pid] != ("signal", signal.SIGKILL)
            and not (ends[h.pid] == ("unknown", None) and read_proc(h.pid) is None)}
