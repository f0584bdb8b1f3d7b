#!/usr/bin/env python3
"""What it costs to keep the cookie file in step with the store.

A page sets a cookie every 100 ms (a new value each time) for --seconds
(default 60). The kiosk runs with cacheCookies=true, so every change leads
to a save within two seconds; the same run with cacheCookies=false is the
baseline. Reported per run: CPU seconds of the kiosk's own process (where
the saves run) and of its process tree, the bytes the kiosk process wrote
to storage (/proc/PID/io write_bytes, which counts what reaches the page
cache for the disk; wchar, every write() call, is shown too) and how many
times the cookie file was replaced.
"""

import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

import benchlib as bl

PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8"><title>cookies</title></head>
<body style="margin:0;background:rgb(40,80,40)"><script>
let n = 0;
setInterval(() => { document.cookie = "tick=" + (++n) + "; max-age=3600; path=/"; }, 100);
addEventListener("load", () => fetch("/loaded"));
</script></body></html>
"""


def io_counters(pid):
    fields = dict(line.split(": ") for line in Path(f"/proc/{pid}/io").read_text().splitlines())
    return int(fields["write_bytes"]), int(fields["wchar"])


def own_ticks(pid):
    fields = bl.read_proc(pid).fields
    return int(fields[14 - 3]) + int(fields[15 - 3])


def run(args, cache_cookies, display, server, scratch):
    """One kiosk on the page for --seconds after its load: the figures."""
    rundir = Path(scratch) / f"cache{cache_cookies:d}"
    (rundir / "home").mkdir(parents=True)
    cookie_file = rundir / "cookies.txt"
    config = rundir / "vkxbrowser.conf"
    config.write_text(f"url={server.url('/cookies')}\nenableToolbar=false\n"
                      f"cacheCookies={'true' if cache_cookies else 'false'}\n"
                      f"cookieFile={cookie_file}\n")
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": display,
           "HOME": str(rundir / "home"), "VKX_CONFIG_PATH": str(config)}
    started = time.monotonic()
    with open(rundir / "kiosk.log", "wb") as log:
        popen = subprocess.Popen([str(Path(args.build_dir) / "vkxbrowser")], env=env,
                                 stdout=log, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, start_new_session=True)
    tree = bl.Tree(popen.pid)
    try:
        try:
            server.wait_for_request("/loaded", args.timeout, after=started,
                                    alive=lambda: popen.poll() is None)
        except bl.WaitTimeout:
            raise SystemExit("the page did not load")
        time.sleep(2)
        tree.refresh()
        cpu0, own0, io0 = bl.tree_cpu(tree), own_ticks(popen.pid), io_counters(popen.pid)
        inodes, last = 0, None
        deadline = time.monotonic() + args.seconds
        while time.monotonic() < deadline:
            # Each replacement is a new inode: counted by looking twice a second.
            try:
                inode = cookie_file.stat().st_ino
            except FileNotFoundError:
                inode = None
            if inode != last:
                inodes += last is not None
                last = inode
            time.sleep(0.5)
        cpu1, own1, io1 = bl.tree_cpu(tree), own_ticks(popen.pid), io_counters(popen.pid)
        tree_cpu = sum(d[0] for d in bl.cpu_delta(cpu0, cpu1).values())
        return {"own": (own1 - own0) / bl.CLK_TCK, "tree": tree_cpu,
                "write_bytes": io1[0] - io0[0], "wchar": io1[1] - io0[1], "replaced": inodes}
    finally:
        bl.end_tree(popen, tree)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(bl.REPO / "build"))
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--timeout", type=float, default=30.0)
    args = parser.parse_args()
    bl.become_subreaper()
    with bl.private_display() as (scratch, xvfb, server):
        server.page("/cookies", PAGE)
        results = {flag: run(args, flag, xvfb.display, server, scratch) for flag in (False, True)}
    per_minute = 60.0 / args.seconds
    print(f"{'cacheCookies':<14}{'kiosk CPU s':>12}{'tree CPU s':>12}"
          f"{'written B/min':>15}{'wchar B/min':>13}{'saves/min':>11}")
    for flag, r in results.items():
        print(f"{str(flag).lower():<14}{r['own'] * per_minute:>12.3f}{r['tree'] * per_minute:>12.3f}"
              f"{r['write_bytes'] * per_minute:>15.0f}{r['wchar'] * per_minute:>13.0f}"
              f"{r['replaced'] * per_minute:>11.1f}")
    cost = results[True]["own"] - results[False]["own"]
    print(f"cost of the saves: {cost * per_minute:.3f} s of kiosk CPU per minute")
    return 0


if __name__ == "__main__":
    sys.exit(main())
