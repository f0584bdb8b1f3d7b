#!/usr/bin/env python3
"""How long the idle return takes with clearSessionOnIdle: from the kiosk's
"Idle timeout: returning to the start page" line to the start page loaded,
the session wiped in between, against the same return without the key.

Each run starts the kiosk on a private Xvfb with idleTimeout=3 on a start
page that sends it on to a visitor's page once; the visitor's page leaves a
cookie, both storages, an IndexedDB record, a Cache API entry and a service
worker. The time is read from the kiosk's own lines (their arrival in this
script). Every process is ended by PID.
"""

import os
import sys

import benchlib as bl
from vkxtest.kiosk import Kiosk  # noqa: E402
from vkxtest.web import Response  # noqa: E402

VISIT = b"""<script>
document.cookie = 'visitor=1; max-age=3600';
localStorage.setItem('k', 'v'); sessionStorage.setItem('s', 'v');
const open = indexedDB.open('db', 1);
open.onupgradeneeded = () => open.result.createObjectStore('st', {keyPath: 'id'});
open.onsuccess = () => open.result.transaction('st', 'readwrite').objectStore('st').put({id: 1});
caches.open('c').then(c => c.put('/entry', new Response('x')));
navigator.serviceWorker && navigator.serviceWorker.register('/sw.js');
</script>visitor"""


def one_run(display, server, scratch, wipe, run):
    starts = []
    server.route("/", lambda request: (starts.append(request), Response(
        body=b"start" if len(starts) > 1 else b"<script>location.href = '/visit'</script>"))[1])
    workdir = os.path.join(scratch, f"run{run}")
    os.makedirs(workdir)
    config = {"url": server.url("/"), "enableToolbar": "false", "idleTimeout": "3",
              "clearSessionOnIdle": "true" if wipe else "false"}
    kiosk = Kiosk(workdir, display, config, binary=os.path.join(os.path.abspath(ARGS.build_dir), "vkxbrowser"))
    try:
        returned = kiosk.wait_for_line(r"^Idle timeout: returning to the start page$", timeout=30)
        loaded = kiosk.wait_for_line(r"^Page loaded, status code: 200$", start=returned.index,
                                     timeout=30)
        return loaded.t - returned.t
    finally:
        kiosk.stop()


def main():
    with bl.private_display() as (scratch, xvfb, server):
        server.route("/visit", Response(body=VISIT))
        server.route("/sw.js", Response(body=b"", content_type="text/javascript"))
        times = {True: [], False: []}
        for run in range(ARGS.runs):
            for wipe in (True, False):
                times[wipe].append(one_run(xvfb.display, server, scratch, wipe,
                                           f"{run}-{int(wipe)}"))
    for wipe, label in ((True, "clearSessionOnIdle=true"), (False, "clearSessionOnIdle=false")):
        values = times[wipe]
        print(f"{label:<26} idle line to start page loaded: median {bl.median(values) * 1000:.0f} ms"
              f" ({min(values) * 1000:.0f}..{max(values) * 1000:.0f} ms, {len(values)} runs)")
    return 0 if bl.median(times[True]) < 2.0 else 1


if __name__ == "__main__":
    ARGS = bl.kiosk_bench_args(__doc__, runs=5)
    bl.become_subreaper()
    sys.exit(main())
