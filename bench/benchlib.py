"""Shared pieces of the benchmark scripts: the local test page server,
process trees read from /proc, their memory and CPU time, and ending every
process a script started, by PID. The private Xvfb, the HTTP server and the
/proc readings come from the integration tests' package, vkxtest."""

import argparse
import contextlib
import ctypes
import os
import re
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tests" / "integration"))

from vkxtest.processes import become_subreaper, process_table, read_proc  # noqa: E402
from vkxtest.waiting import WaitTimeout  # noqa: E402
from vkxtest.web import HttpServer, Response  # noqa: E402
from vkxtest.xdisplay import WindowManager, XDisplay, Xvfb  # noqa: E402
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")
CLK_TCK = os.sysconf("SC_CLK_TCK")

# The kiosk's window in every run; its browser area is this less the toolbar.
WIDTH, HEIGHT, TOOLBAR = 1024, 768, 40


def reap():
    """Collects every child that has ended (helpers re-parented to us)."""
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


# --- processes ---------------------------------------------------------------

class Tree:
    """A process and all its descendants, each known by (pid, starttime) so
    that a recycled PID is never taken for one of ours."""

    def __init__(self, root):
        self.root = root
        self.members = {}  # pid -> (comm, starttime)

    def refresh(self):
        table = process_table()
        if self.root not in table:
            return self
        wanted = [self.root]
        while wanted:
            parent = table[wanted.pop()]
            self.members.setdefault(parent.pid, (parent.comm, parent.start))
            wanted.extend(pid for pid, info in table.items() if info.ppid == parent.pid)
        return self

    def live(self):
        """Members still running as the same process."""
        result = []
        for pid, (_, start) in self.members.items():
            info = read_proc(pid)
            if info is not None and info.start == start and info.state != "Z":
                result.append(pid)
        return result

    def comm(self, pid):
        return self.members[pid][0]


def end_tree(popen, tree, grace=3.0):
    """SIGTERM to the root, then SIGKILL to every member of the tree still
    running after `grace` seconds; all by PID."""
    tree.refresh()
    if popen.poll() is None:
        try:
            os.kill(popen.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            popen.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass
    killed = False
    deadline = time.monotonic() + grace
    while True:
        remaining = tree.live()
        if not remaining:
            break
        if time.monotonic() >= deadline:
            if killed:
                print(f"warning: still running after SIGKILL: {remaining}", file=sys.stderr)
                break
            for pid in remaining:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            killed = True
            deadline = time.monotonic() + grace
        reap()
        time.sleep(0.05)
    if popen.poll() is None:
        try:
            popen.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass
    reap()


# --- memory ------------------------------------------------------------------

PFN_MASK = (1 << 55) - 1
PRESENT = 1 << 63
SWAPPED = 1 << 62
CHUNK = 8192  # pagemap entries per read


def smaps_rollup(pid):
    """kB figures of /proc/PID/smaps_rollup (Rss, Pss, Private_*, ...)."""
    values = {}
    try:
        for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
            m = re.match(r"^(\w+):\s+(\d+) kB", line)
            if m:
                values[m.group(1)] = int(m.group(2))
    except (FileNotFoundError, ProcessLookupError):
        pass
    return values


def resident_ranges(pid):
    """Address ranges of the mappings that have resident pages (from smaps),
    so that pagemap is read only where something can be found."""
    ranges, current = [], None
    try:
        text = Path(f"/proc/{pid}/smaps").read_text()
    except (FileNotFoundError, ProcessLookupError):
        return ranges
    for line in text.splitlines():
        m = re.match(r"^([0-9a-f]+)-([0-9a-f]+) ", line)
        if m:
            current = (int(m.group(1), 16), int(m.group(2), 16))
        elif line.startswith("Rss:") and current and int(line.split()[1]) > 0:
            ranges.append(current)
    return ranges


def physical_pages(pid, pfns):
    """Adds the page frame numbers resident in PID to `pfns`; returns the
    number of its pages that are swapped out. Needs CAP_SYS_ADMIN: without it
    the kernel reports every PFN as 0."""
    swapped = 0
    zero = bytes(CHUNK * 8)
    try:
        with open(f"/proc/{pid}/pagemap", "rb", buffering=0) as pagemap:
            for start, end in resident_ranges(pid):
                page = start // PAGE_SIZE
                last = end // PAGE_SIZE
                while page < last:
                    count = min(CHUNK, last - page)
                    pagemap.seek(page * 8)
                    data = pagemap.read(count * 8)
                    page += count
                    if not data or data == zero[:len(data)]:
                        continue
                    for (entry,) in struct.iter_unpack("Q", data):
                        if entry & PRESENT:
                            pfns.add(entry & PFN_MASK)
                        elif entry & SWAPPED:
                            swapped += 1
    except (FileNotFoundError, ProcessLookupError):
        pass
    return swapped


def pagemap_usable():
    """True when pagemap shows page frame numbers to this process."""
    probe = ctypes.create_string_buffer(b"x" * 64)
    with open("/proc/self/pagemap", "rb") as pagemap:
        pagemap.seek(ctypes.addressof(probe) // PAGE_SIZE * 8)
        entry = struct.unpack("Q", pagemap.read(8))[0]
    return bool(entry & PRESENT) and (entry & PFN_MASK) != 0


def tree_memory(tree):
    """Memory of a process tree, in MiB:
    pss    - summed PSS (shares of pages used by other processes, including
             unrelated WebKit processes, are split off; moves with them);
    unique - every physical page resident in any member counted once (union
             of page frame numbers from /proc/PID/pagemap), plus swap;
    rss    - summed RSS (pages shared between members counted repeatedly);
    uss    - summed private pages."""
    pids = tree.refresh().live()
    pss = rss = uss = 0
    pfns, swapped = set(), 0
    per_process = {}
    for pid in pids:
        rollup = smaps_rollup(pid)
        pss += rollup.get("Pss", 0)
        rss += rollup.get("Rss", 0)
        private = rollup.get("Private_Clean", 0) + rollup.get("Private_Dirty", 0)
        uss += private
        # By program: the kiosk and the bare window are both "main" here.
        name = tree.comm(pid) if pid != tree.root else "main"
        per_process[name] = per_process.get(name, 0) + rollup.get("Pss", 0) / 1024
        swapped += physical_pages(pid, pfns)
    return {
        "pss": pss / 1024,
        "unique": (len(pfns) + swapped) * PAGE_SIZE / 2**20,
        "rss": rss / 1024,
        "uss": uss / 1024,
        "processes": len(pids),
        "per_process": per_process,
    }


# --- CPU time ----------------------------------------------------------------

def tree_cpu(tree):
    """{pid: (utime+stime+cutime+cstime in clock ticks, {tid: (run time in
    seconds from schedstat, voluntary context switches)})} for the live
    members. The c* fields carry the time of children already reaped; the
    per-thread figures are exact but end with their thread."""
    result = {}
    for pid in tree.refresh().live():
        info = read_proc(pid)
        if info is None:
            continue
        ticks = sum(int(info.fields[i - 3]) for i in (14, 15, 16, 17))
        threads = {}
        try:
            tids = os.listdir(f"/proc/{pid}/task")
        except (FileNotFoundError, ProcessLookupError):
            tids = []
        for tid in tids:
            try:
                runtime_ns = int(Path(f"/proc/{pid}/task/{tid}/schedstat").read_text().split()[0])
                status = Path(f"/proc/{pid}/task/{tid}/status").read_text()
            except (FileNotFoundError, ProcessLookupError):
                continue
            switches = int(re.search(r"^voluntary_ctxt_switches:\s+(\d+)", status, re.M).group(1))
            threads[int(tid)] = (runtime_ns / 1e9, switches)
        result[pid] = (ticks, threads)
    return result


def cpu_delta(before, after):
    """{pid: [CPU seconds (stat), run time seconds, voluntary switches]} over
    the interval. Threads and processes new in `after` count from zero;
    threads that ended during it are missing from the last two figures.
    A member that ended during it is reaped by its parent, whose cutime and
    cstime then grow by the member's whole life: what it had used before
    the interval is taken off again (under the pseudo-PID 0)."""
    result = {}
    ended = [pid for pid in before if pid not in after]
    if ended:
        result[0] = [-sum(before[pid][0] for pid in ended) / CLK_TCK, 0.0, 0]
    for pid, (ticks, threads) in after.items():
        old_ticks, old_threads = before.get(pid, (0, {}))
        runtime = switches = 0
        for tid, (run, sw) in threads.items():
            old_run, old_sw = old_threads.get(tid, (0.0, 0))
            runtime += run - old_run
            switches += sw - old_sw
        result[pid] = [(ticks - old_ticks) / CLK_TCK, runtime, switches]
    return result


# --- the test page -----------------------------------------------------------

PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>bench</title>
<style>body{margin:0;height:100vh;display:flex;align-items:center;justify-content:center;
background:rgb(22,48,92);color:white;font-family:sans-serif}</style>
<script>
addEventListener("load", () => fetch("/loaded" + location.search));
</script></head>
<body><h1>Benchmark page</h1></body></html>
"""


class PageServer(HttpServer):
    """Serves the page and notes when /loaded?run=ID arrives. Each run has
    its own ID, so a late request of an earlier run never counts for the
    current one."""

    def __init__(self):
        super().__init__()
        self.route("/", Response(body=PAGE.encode()))
        self.route("/loaded", Response(body=b"ok", content_type="text/plain"))

    def run_url(self, run_id):
        return self.url(f"/?run={run_id}")

    def wait_loaded(self, run_id, timeout, alive=lambda: True):
        """Time the page of run_id reported its load event, or None on timeout
        or when `alive` says the browser has ended. Sleeps on a condition."""
        try:
            return self.wait_for_request(f"/loaded?run={run_id}", timeout, alive=alive).t
        except WaitTimeout:
            return None


# --- the browsers under test -------------------------------------------------

def write_kiosk_config(path, url, toolbar, auto_hide, fullscreen=False):
    """The bundled example's settings, on the given URL."""
    Path(path).write_text(
        f"url={url}\n"
        f"displayMode={'fullscreen' if fullscreen else 'window'}\n"
        f"width={WIDTH}\n"
        f"height={HEIGHT}\n"
        f"enableToolbar={'true' if toolbar else 'false'}\n"
        f"enableAutoHide={'true' if auto_hide else 'false'}\n"
        "disableKbdShortcuts=true\n"
        "disableContextMenu=true\n"
        "endSessionKey=CtrlAltC\n")


class Variant:
    """One browser set-up. The kiosk's renderer runs in the engine's sandbox
    unless `sandbox` is false; the bare window's only when it is "on".
    `software` and `ephemeral` are what the kiosk always has; for the bare
    window they are options, as is `fullscreen` (the kiosk's displayMode)."""

    def __init__(self, name, kind, toolbar=False, auto_hide=False, software=False,
                 sandbox=True, fullscreen=False, ephemeral=False, build_dir=None):
        self.name, self.kind = name, kind
        self.toolbar, self.auto_hide = toolbar, auto_hide
        self.software = software
        self.sandbox = sandbox
        self.fullscreen = fullscreen
        self.ephemeral = ephemeral
        self.build_dir = build_dir  # a build of its own, for before/after comparisons

    @property
    def tag(self):
        """Short name for directories and run IDs."""
        return (f"{self.kind}-toolbar{self.toolbar:d}{self.auto_hide:d}"
                f"{'-software' if self.software else ''}"
                f"{'-ephemeral' if self.ephemeral else ''}"
                f"{'-fullscreen' if self.fullscreen else ''}"
                f"{'-sandbox' if self.sandbox == 'on' else ''}"
                f"{'' if self.sandbox else '-nosandbox'}"
                f"{'-other' if self.build_dir else ''}")


KIOSK_TOOLBAR = Variant("kiosk (toolbar+auto-hide)", "kiosk", True, True)
KIOSK_PLAIN = Variant("kiosk (no toolbar)", "kiosk", False, False)
# The toolbar without auto-hide: tells the toolbar's cost from auto-hide's.
KIOSK_TOOLBAR_FIXED = Variant("kiosk (toolbar, no auto-hide)", "kiosk", True, False)
# The renderer outside the engine's sandbox (the engine's own switch; the
# kiosk then says "Renderer sandbox unavailable"): what the sandbox costs.
KIOSK_NO_SANDBOX = Variant("kiosk (toolbar, no sandbox)", "kiosk", True, True, sandbox=False)
BARE = Variant("bare WebKitGTK", "bare")
# The bare window with hardware acceleration off, as the kiosk has it.
BARE_SOFTWARE = Variant("bare WebKitGTK (software)", "bare", software=True)
# Full screen under a window manager: the kiosk as the example configures it
# (toolbar with auto-hide) but full screen, and the bare window with the
# kiosk's settings (no compositing, ephemeral data, full screen), with and
# without the renderer sandbox that the kiosk has by default.
KIOSK_FULLSCREEN = Variant("kiosk (full screen)", "kiosk", True, True, fullscreen=True)
KIOSK_FULLSCREEN_NO_SANDBOX = Variant("kiosk (full screen, no sandbox)", "kiosk", True, True,
                                      sandbox=False, fullscreen=True)
BARE_SAME = Variant("bare (kiosk's settings)", "bare", software=True, sandbox=False,
                    fullscreen=True, ephemeral=True)
BARE_SAME_SANDBOX = Variant("bare (kiosk's settings+sandbox)", "bare", software=True,
                            sandbox="on", fullscreen=True, ephemeral=True)


def launch(variant, build_dir, url, display, rundir, home=None):
    """Starts one browser and returns its Popen. Its home (and with it the
    XDG cache, data and config directories) is `home`, or a fresh one in
    `rundir`; the user's own are never touched."""
    rundir = Path(rundir)
    build_dir = variant.build_dir or build_dir
    home = Path(home) if home is not None else rundir / "home"
    home.mkdir(parents=True, exist_ok=True)
    runtime = rundir / "runtime"
    runtime.mkdir(mode=0o700, exist_ok=True)
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "DISPLAY": display,
        "HOME": str(home),
        "XDG_CACHE_HOME": str(home / ".cache"),
        "XDG_DATA_HOME": str(home / ".local/share"),
        "XDG_CONFIG_HOME": str(home / ".config"),
        "XDG_RUNTIME_DIR": str(runtime),
        "LANG": os.environ.get("LANG", "C.UTF-8"),
    }
    for name in ("VKX_BENCH_EXTRA_ENV",):
        # NAME=VALUE[,NAME=VALUE...] given to the browsers, for investigations.
        for item in filter(None, os.environ.get(name, "").split(",")):
            key, _, value = item.partition("=")
            env[key] = value
    if not variant.sandbox:
        env["WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"] = "1"
    if variant.kind == "kiosk":
        config = rundir / "vkxbrowser.conf"
        write_kiosk_config(config, url, variant.toolbar, variant.auto_hide, variant.fullscreen)
        env["VKX_CONFIG_PATH"] = str(config)
        argv = [str(Path(build_dir) / "vkxbrowser")]
    else:
        argv = [str(Path(build_dir) / "bench" / "bare_webkit")]
        argv += ["--software"] if variant.software else []
        argv += ["--ephemeral"] if variant.ephemeral else []
        argv += ["--fullscreen"] if variant.fullscreen else []
        argv += ["--sandbox"] if variant.sandbox == "on" else []
        argv += [url, str(WIDTH), str(HEIGHT - TOOLBAR)]
    log = open(rundir / "browser.log", "wb")
    try:
        return subprocess.Popen(argv, env=env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
    finally:
        log.close()


def check_binaries(build_dir):
    for path in (Path(build_dir) / "vkxbrowser", Path(build_dir) / "bench" / "bare_webkit"):
        if not os.access(path, os.X_OK):
            raise SystemExit(f"{path} is missing: build with "
                             f"VKX_BUILD_DIR={build_dir} scripts/build")


def load_average():
    """The 1, 5 and 15 minute load averages: other work on the machine skews
    every figure here."""
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def machine_ticks():
    """(busy, total) clock ticks of all CPUs so far, from /proc/stat."""
    fields = [int(v) for v in Path("/proc/stat").read_text().split("\n", 1)[0].split()[1:]]
    idle = fields[3] + fields[4]  # idle + iowait
    total = sum(fields[:8])  # guest time is already inside user
    return total - idle, total


def tree_ticks(pids):
    """utime+stime clock ticks of the given processes (children excluded)."""
    total = 0
    for pid in pids:
        info = read_proc(pid)
        if info is not None:
            total += int(info.fields[11]) + int(info.fields[12])
    return total


def wait_for_quiet(below, max_wait, sample=1.0):
    """Sleeps until the machine's busy share of all CPUs, sampled over
    `sample` seconds, is below `below`, or `max_wait` seconds have passed.
    Returns the last share seen. Other jobs on a shared machine would
    otherwise decide the figures."""
    deadline = time.monotonic() + max_wait
    while True:
        busy0, total0 = machine_ticks()
        time.sleep(sample)
        busy1, total1 = machine_ticks()
        share = (busy1 - busy0) / max(1, total1 - total0)
        if below <= 0 or share < below or time.monotonic() >= deadline:
            return share
        time.sleep(2.0)


def median(values):
    return statistics.median(values) if values else float("nan")


@contextlib.contextmanager
def private_display(size=None, window_manager=False):
    """(scratch directory, Xvfb, PageServer) for a script's runs; `size`
    (width, height) of the screen, and openbox on it with
    `window_manager`. The server, the window manager and the X server are
    ended, the directory removed and every child that ended reaped when the
    block is left."""
    with tempfile.TemporaryDirectory(prefix="vkx-bench-") as scratch:
        xvfb = Xvfb(*size) if size else Xvfb()
        wm = None
        server = PageServer()
        try:
            if window_manager:
                wm = WindowManager(XDisplay(xvfb.display))
            yield scratch, xvfb, server
        finally:
            server.stop()
            if wm is not None:
                wm.stop()
            xvfb.stop()
            reap()


def kiosk_bench_args(doc, runs):
    """The options of a benchmark that starts the kiosk: --runs (default
    `runs`) and --build-dir (VKX_BUILD_DIR, else build)."""
    parser = argparse.ArgumentParser(description=doc.split("\n")[0])
    parser.add_argument("--runs", type=int, default=runs)
    parser.add_argument("--build-dir", default=os.environ.get("VKX_BUILD_DIR", "build"))
    return parser.parse_args()
