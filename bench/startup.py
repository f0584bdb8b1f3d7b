#!/usr/bin/env python3
"""Start-up time and memory of the kiosk against a bare WebKitGTK window.

Each run starts one browser on a private Xvfb, pointed at a page served from
127.0.0.1 whose load handler fetches /loaded. Start-up time is from just
before exec to the server receiving /loaded. Once loaded (plus --settle
seconds) the memory of the browser's process tree (the browser and all its
descendants: WebKitWebProcess, WebKitNetworkProcess) is read, then the tree
is ended by PID. The variants alternate, their order rotating from round to
round, so drift on the machine falls on all alike. Each variant keeps one
home directory (XDG cache and data) from run to run, as an installed browser
would, so the Mesa shader cache and the engine's databases are warm after the
warm-up round; --fresh-home gives every run an empty one instead.

--fullscreen: a 1920x1080 screen under openbox; the kiosk full screen with
the example's toolbar and auto-hide against the bare window with the
kiosk's settings (no compositing, ephemeral data, full screen). Start-up is
then judged on the median of the kiosk/bare ratios of the runs of each round
(run pairs), against 1.00.
"""

import argparse
import json
import sys
import time
from pathlib import Path

import benchlib as bl

TARGET = 1.10
FULLSCREEN_TARGET = 1.00


def run_once(variant, run_id, args, xvfb, server, scratch):
    rundir = Path(scratch) / run_id
    rundir.mkdir()
    url = server.run_url(run_id)
    quiet = bl.wait_for_quiet(args.quiet_below, args.quiet_wait)
    busy0, _ = bl.machine_ticks()
    xvfb0 = bl.tree_ticks([xvfb.proc.pid])
    start = time.monotonic()
    home = None if args.fresh_home else Path(scratch) / f"home-{variant.tag}"
    popen = bl.launch(variant, args.build_dir, url, xvfb.display, rundir, home)
    tree = bl.Tree(popen.pid)
    try:
        loaded = server.wait_loaded(run_id, args.timeout, alive=lambda: popen.poll() is None)
        busy1, _ = bl.machine_ticks()
        # CPUs kept busy meanwhile by anything but this browser and the X
        # server: other work on the machine, in cores.
        ours = bl.tree_ticks(tree.refresh().live()) + bl.tree_ticks([xvfb.proc.pid]) - xvfb0
        elapsed = time.monotonic() - start
        others = max(0.0, (busy1 - busy0 - ours) / bl.CLK_TCK / elapsed)
        if loaded is None:
            log = (rundir / "browser.log").read_text(errors="replace")[-2000:]
            return {"variant": variant.name, "error": "no /loaded", "log": log}
        time.sleep(args.settle)
        before = time.monotonic()
        memory = bl.tree_memory(tree)
        return {"variant": variant.name, "startup": loaded - start,
                "memory_read_s": time.monotonic() - before, "others": others,
                "quiet_before": quiet, **memory}
    finally:
        bl.end_tree(popen, tree)


def pair_ratios(results, kiosk, bare):
    """Kiosk/bare start-up of the runs of the same round."""
    by_round = {}
    for r in results:
        if "error" not in r:
            by_round.setdefault(r["round"], {})[r["variant"]] = r["startup"]
    return [runs[kiosk.name] / runs[bare.name] for runs in by_round.values()
            if kiosk.name in runs and bare.name in runs]


def summarise(results, variants, unique_ok, target=TARGET):
    by_name = {v.name: [r for r in results if r["variant"] == v.name and "error" not in r]
               for v in variants}
    kept = sum(1 for r in results if r.get("disturbed"))
    if kept:
        print(f"\nnote: {kept} run(s) disturbed by other work on the machine were kept "
              "after every retry")
    keys = [("startup", "start-up s", 1.0), ("pss", "PSS MiB", 1.0),
            ("unique", "unique MiB", 1.0), ("rss", "RSS MiB", 1.0), ("uss", "USS MiB", 1.0)]
    medians = {name: {k: bl.median([r[k] for r in rows]) for k, _, _ in keys}
               for name, rows in by_name.items()}
    print()
    print(f"{'variant':28} {'n':>3} " + " ".join(f"{label:>11}" for _, label, _ in keys))
    for name, rows in by_name.items():
        print(f"{name:28} {len(rows):>3} " +
              " ".join(f"{medians[name][k]:>11.3f}" if k == "startup" else
                       f"{medians[name][k]:>11.1f}" for k, _, _ in keys))
    print("\nspread (min..max):")
    for name, rows in by_name.items():
        if rows:
            st = [r["startup"] for r in rows]
            pss = [r["pss"] for r in rows]
            un = [r["unique"] for r in rows]
            print(f"  {name:28} start-up {min(st):.3f}..{max(st):.3f} s, "
                  f"PSS {min(pss):.1f}..{max(pss):.1f}, unique {min(un):.1f}..{max(un):.1f} MiB")
    print("\nmedian PSS by process (MiB):")
    for name, rows in by_name.items():
        programs = sorted({p for r in rows for p in r["per_process"]})
        parts = [f"{p} {bl.median([r['per_process'].get(p, 0) for r in rows]):.1f}"
                 for p in programs]
        print(f"  {name:28} " + ", ".join(parts))

    memory_key = "unique" if unique_ok else "rss"
    if bl.KIOSK_NO_SANDBOX in variants and by_name[bl.KIOSK_NO_SANDBOX.name]:
        with_, without = medians[bl.KIOSK_TOOLBAR.name], medians[bl.KIOSK_NO_SANDBOX.name]
        print("\nrenderer sandbox, kiosk with / without:")
        for key, label, _ in keys:
            print(f"  {label:11} {with_[key]:9.3f} / {without[key]:9.3f} = "
                  f"{with_[key] / without[key]:.3f} ({with_[key] - without[key]:+.3f})")
    verdict = True
    judged = bl.BARE_SAME if bl.BARE_SAME in variants else bl.BARE
    for base in (v for v in variants if v.kind == "bare"):
        bare = medians[base.name]
        print(f"\nratio kiosk / {base.name} (target <= {target:.2f}):")
        for v in variants:
            if v.kind != "kiosk":
                continue
            k = medians[v.name]
            ratios = {key: k[key] / bare[key] for key, _, _ in keys}
            pairs = pair_ratios(results, v, base)
            if pairs:
                # Judged on the run pairs: drift on the machine cancels out.
                ratios["startup"] = bl.median(pairs)
                print(f"  {v.name:28} run pairs: median {bl.median(pairs):.3f}, "
                      f"{min(pairs):.3f}..{max(pairs):.3f} ({len(pairs)} pairs)")
            ok_time = ratios["startup"] <= target
            ok_mem = ratios[memory_key] <= TARGET
            if base is judged and v in (bl.KIOSK_TOOLBAR, bl.KIOSK_FULLSCREEN):
                verdict = verdict and ok_time and ok_mem
            print(f"  {v.name:28} start-up {ratios['startup']:.3f} "
                  f"[{'ok' if ok_time else 'MISSED'}]  "
                  f"memory ({memory_key}) {ratios[memory_key]:.3f} "
                  f"[{'ok' if ok_mem else 'MISSED'}]  "
                  f"PSS {ratios['pss']:.3f}  RSS {ratios['rss']:.3f}  USS {ratios['uss']:.3f}")
    return medians, verdict


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=10, help="measured runs per variant")
    parser.add_argument("--warmup", type=int, default=1,
                        help="unmeasured rounds first (page cache, font cache)")
    parser.add_argument("--build-dir", default=str(bl.REPO / "build-bench"))
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds a run may take to report its load")
    parser.add_argument("--settle", type=float, default=2.0,
                        help="seconds between the load and the memory reading")
    parser.add_argument("--quiet-below", type=float, default=0.25,
                        help="before each run, wait until less than this share of all "
                             "CPUs is busy (0: do not wait)")
    parser.add_argument("--quiet-wait", type=float, default=60.0,
                        help="longest wait for a quiet machine before a run, seconds")
    parser.add_argument("--max-others", type=float, default=0.5,
                        help="a run during which other processes kept more than this many "
                             "cores busy is done again (0: never)")
    parser.add_argument("--retries", type=int, default=4,
                        help="how often a disturbed run is done again at most")
    parser.add_argument("--fresh-home", action="store_true",
                        help="an empty home directory for every run (cold caches)")
    parser.add_argument("--no-plain", action="store_true",
                        help="leave out the kiosk without toolbar")
    parser.add_argument("--bare-software", action="store_true",
                        help="also run the bare window with hardware acceleration off, "
                             "as the kiosk has it")
    parser.add_argument("--sandbox", action="store_true",
                        help="also run the kiosk with its renderer outside the engine's "
                             "sandbox, to show what the sandbox costs")
    parser.add_argument("--fullscreen", action="store_true",
                        help="1920x1080 under openbox: the kiosk full screen against the bare "
                             "window with the kiosk's settings, judged on run pairs")
    parser.add_argument("--compare-build", metavar="DIR",
                        help="also run the kiosk built in DIR (e.g. of an earlier commit), "
                             "set up as the first kiosk variant")
    parser.add_argument("--json", help="write every run's figures to this file")
    args = parser.parse_args()

    bl.check_binaries(args.build_dir)
    bl.become_subreaper()
    unique_ok = bl.pagemap_usable()
    if not unique_ok:
        print("note: pagemap shows no page frame numbers here (needs CAP_SYS_ADMIN); "
              "the memory ratio uses summed RSS instead", file=sys.stderr)

    if args.fullscreen:
        variants = [bl.KIOSK_FULLSCREEN, bl.BARE_SAME]
        if args.sandbox:
            variants += [bl.KIOSK_FULLSCREEN_NO_SANDBOX, bl.BARE_SAME_SANDBOX]
    else:
        variants = [bl.KIOSK_TOOLBAR, bl.BARE] + ([] if args.no_plain else [bl.KIOSK_PLAIN])
        if args.bare_software:
            variants.append(bl.BARE_SOFTWARE)
        if args.sandbox:
            variants.append(bl.KIOSK_NO_SANDBOX)
    if args.compare_build:
        first = variants[0]
        variants.append(bl.Variant(f"kiosk ({Path(args.compare_build).name})", "kiosk",
                                   first.toolbar, first.auto_hide, fullscreen=first.fullscreen,
                                   build_dir=args.compare_build))
    results = []
    display = {"size": (1920, 1080), "window_manager": True} if args.fullscreen else {}
    with bl.private_display(**display) as (scratch, xvfb, server):
        print(f"Xvfb on {xvfb.display}, page on {server.run_url('ID')}, "
              f"load average {bl.load_average()}")
        for round_ in range(args.warmup + args.runs):
            measured = round_ >= args.warmup
            shift = round_ % len(variants)
            for variant in variants[shift:] + variants[:shift]:
                tag = "" if measured else " (warm-up)"
                for attempt in range(1 + args.retries):
                    result = run_once(variant, f"{round_}-{variant.tag}-{attempt}",
                                      args, xvfb, server, scratch)
                    if "error" in result:
                        print(f"[{round_}] {variant.name}: FAILED ({result['error']}){tag}\n"
                              f"{result['log']}", file=sys.stderr)
                        break
                    disturbed = args.max_others > 0 and result["others"] > args.max_others
                    result["disturbed"] = disturbed
                    again = disturbed and attempt < args.retries
                    note = " - disturbed, again" if again else (
                        " - disturbed, kept" if disturbed else "")
                    print(f"[{round_}] {variant.name:28} start-up {result['startup']:.3f} s  "
                          f"PSS {result['pss']:.1f}  unique {result['unique']:.1f}  "
                          f"RSS {result['rss']:.1f}  USS {result['uss']:.1f} MiB  "
                          f"({result['processes']} processes; others "
                          f"{result['others']:.2f} cores){tag}{note}", flush=True)
                    if not again:
                        break
                if measured:
                    results.append(dict(result, round=round_))

    print(f"load average at the end {bl.load_average()}")
    medians, verdict = summarise(results, variants, unique_ok,
                                 FULLSCREEN_TARGET if args.fullscreen else TARGET)
    if args.json:
        Path(args.json).write_text(json.dumps({"runs": results, "medians": medians}, indent=1))
    return 0 if verdict else 1


if __name__ == "__main__":
    sys.exit(main())
