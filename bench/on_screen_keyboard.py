#!/usr/bin/env python3
"""How fast the on-screen keyboard comes for a tap on a field, and what it
costs in memory.

The kiosk runs full screen under openbox on a private 1280x800 Xvfb with
onScreenKeyboard=true, on a page with a field at its bottom. Each run taps
on the field, then beside it (the keyboard goes): the time from the tap
(xdotool's click started, the pointer already there) to the keyboard's strip mapped (an Xlib
watch on it), and to the first screenshot that shows its keys drawn (an
upper bound: a screenshot takes a few tens of milliseconds). Memory: the
keyboard program's own PSS and RSS, and the whole kiosk tree's physical
pages against the same kiosk with the key off. Every process is ended by
PID.
"""

import os
import sys
import time

import benchlib as bl
from vkxtest.kiosk import Kiosk  # noqa: E402
from vkxtest.waiting import wait_until  # noqa: E402
from vkxtest.xdisplay import XDisplay  # noqa: E402
from vkxtest.xhelper import XHelper  # noqa: E402

SIZE = (1280, 800)
FIELD = b"""<!doctype html><body style="margin:0;height:100vh">
<input style="position:absolute;bottom:8px;left:20px;width:300px;height:30px"></body>"""
# The keys' face colour of the program's default theme, and a place on a key.
KEY_FACE = (229, 216, 178)


def key_drawn(x, strip):
    image = x.screenshot()
    spot = (strip.x + int(strip.width * 0.46), strip.y + int(strip.height * 0.9), 8, 4)
    return image.fraction(spot, KEY_FACE, step=1) > 0.5


def start(display, server, scratch, label, keyboard):
    workdir = os.path.join(scratch, label)
    os.makedirs(workdir)
    config = {"url": server.url("/"), "displayMode": "fullscreen", "enableToolbar": "false",
              "onScreenKeyboard": "true" if keyboard else "false"}
    kiosk = Kiosk(workdir, display, config,
                  binary=os.path.join(os.path.abspath(ARGS.build_dir), "vkxbrowser"))
    kiosk.wait_for_line("^Page loaded", timeout=30)
    return kiosk


def settled_memory(kiosk):
    time.sleep(3)
    return bl.tree_memory(bl.Tree(kiosk.pid))


def main():
    os.environ.setdefault("VKX_XHELPER", os.path.join(os.path.abspath(ARGS.build_dir),
                                                      "tests", "integration", "xhelper"))
    with bl.private_display(size=SIZE, window_manager=True) as (scratch, xvfb, server):
        server.route("/", bl.Response(body=FIELD))
        x = XDisplay(xvfb.display)
        kiosk = start(xvfb.display, server, scratch, "on", True)
        try:
            host = x.find_host_window()
            x.wait_for_geometry(host, lambda g: (g.width, g.height) == SIZE)
            strip_id = wait_until(lambda: x.kiosk_windows(host)["keyboard"], 30)
            watch = XHelper(x).watch(strip_id, 600)
            mapped, drawn = [], []
            for _ in range(ARGS.runs):
                time.sleep(0.5)
                x.move_pointer(40, SIZE[1] - 20)
                tapped = time.monotonic()
                x.xdotool("click", 1)
                shown = watch.wait_for_event(
                    lambda e: e["event"] == "MapNotify" and e["t"] > tapped, timeout=10)
                mapped.append(shown["t"] - tapped)
                strip = x.geometry(strip_id)
                wait_until(lambda: key_drawn(x, strip), 10, interval=0.0)
                drawn.append(time.monotonic() - tapped)
                away = time.monotonic()
                x.click(600, 200)
                watch.wait_for_event(lambda e: e["event"] == "UnmapNotify" and e["t"] > away,
                                     timeout=10)
            x.click(40, SIZE[1] - 20)
            with_keyboard = settled_memory(kiosk)
            watch.stop()
        finally:
            kiosk.stop()
        kiosk = start(xvfb.display, server, scratch, "off", False)
        try:
            without = settled_memory(kiosk)
        finally:
            kiosk.stop()

    def ms(values):
        return (f"median {bl.median(values) * 1000:.0f} ms "
                f"({min(values) * 1000:.0f}..{max(values) * 1000:.0f} ms, {len(values)} runs)")
    print(f"tap to keyboard mapped: {ms(mapped)}")
    print(f"tap to keys on screen:  {ms(drawn)}")
    program = with_keyboard["per_process"].get("onboard", 0.0)
    print(f"keyboard program PSS: {program:.1f} MiB")
    print(f"kiosk tree, physical pages: {with_keyboard['unique']:.0f} MiB with the keyboard, "
          f"{without['unique']:.0f} MiB without (+{with_keyboard['unique'] - without['unique']:.0f})")
    return 0 if bl.median(drawn) < 1.0 else 1


if __name__ == "__main__":
    ARGS = bl.kiosk_bench_args(__doc__, runs=10)
    bl.become_subreaper()
    sys.exit(main())
