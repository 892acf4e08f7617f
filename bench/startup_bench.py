#!/usr/bin/python3
"""Start-up time and idle memory of tamsivo beside the floor.

The floor is bench/floor_calendar zh: the same toolkit showing a Chinese
month calendar in a window of the main window's size and a QScintilla edit
box in a second window, and nothing else. tamsivo runs with each store the
--stores option names (0 is an empty store; 10000 is about 27 years of daily
memos) and, with --big-today, once more with a memo of that many megabytes
for today. Everything runs on a private Xvfb display with a private session
bus. A run is timed from just before the program starts to the moment the X
server reports its main window mapped (an Xlib watcher, no polling). Warm runs
follow one another; a cold run comes right after the page cache is dropped
(root only). Idle memory is read from /proc a few seconds after the window is
up. The programs take turns, so load from elsewhere hits all of them alike.

Only processes started here are ended, by their PID.
"""
import argparse
import json
import os
import re
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

from benchlib import (MapWatcher, can_drop_caches, drop_caches, free_display, memory_kib,
                      process_cpu_ns, sched_ns, stop, wait_until)
import startup_sync

KEYS = ("warm_ms", "cold_ms", "warm_all_ms", "cold_all_ms", "warm_cpu_ms", "cold_cpu_ms",
        "cpu3s_ms", "ping_max_ms", "ping_max_at_ms", "ping_median_ms", "rss_kib", "pss_kib",
        "private_kib")
STORE = "事件数据.edb"
# The CPU time of the whole process is read this long after its start.
CPU_WINDOW_S = 3.0
SYNC_CASES = {"reachable": "reach", "refused": "refuse", "silent": "silent"}


class Subject:
    def __init__(self, label, argv, cwd, env, title_re, other_windows=()):
        self.label = label
        self.argv = argv
        self.cwd = cwd
        self.env = env
        self.title_re = re.compile(title_re)
        # The first is the main window; "all" is when every one is mapped.
        self.windows = [self.title_re] + [re.compile(w) for w in other_windows]
        self.samples = {k: [] for k in KEYS}
        self.store_size = 0
        self.sync = None     # None: no [同步] items; "off"; or a key of SYNC_CASES
        self.server = None   # the SilentServer of the "silent" case
        self.sync_runs = []  # per timed run: what the store says the sync did


def private_env(root, name, base_env):
    home = os.path.join(root, name, "home")
    run = os.path.join(root, name, "run")
    os.makedirs(home)
    os.makedirs(run, mode=0o700)
    return dict(base_env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                XDG_DATA_HOME=os.path.join(home, ".local/share"),
                XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_RUNTIME_DIR=run)


def tamsivo_subject(build, root, name, base_env, wrap):
    prog = os.path.join(root, name, "prog")
    os.makedirs(prog)
    for f in ("tamsivo", "tesmo.qrr"):
        shutil.copy2(os.path.join(build, "bin", f), prog)
    if os.path.isdir(os.path.join(build, "bin", "holidays")):
        shutil.copytree(os.path.join(build, "bin", "holidays"), os.path.join(prog, "holidays"))
    return Subject(name, wrap + [os.path.join(prog, "tamsivo")], prog,
                   private_env(root, name, base_env), r"^Tamsivo [0-9]", [r"^今天备忘录$"])


def fill_store(prog, count, today_bytes=0):
    """Gives the store `count` day memos of about 600 bytes ending yesterday,
    as years of use would, and a memo of `today_bytes` for today."""
    db = sqlite3.connect(os.path.join(prog, "事件数据.edb"))
    try:
        columns = [row[1] for row in db.execute("PRAGMA table_info(records)")]
        if "日期" not in columns or "事情" not in columns:
            raise SystemExit("the memo store has an unknown layout: %s" % columns)
        text = "第%d天的备忘：开会、买菜、回电话，下午三点到四点讨论下个月的安排。" * 6
        today = time.localtime()
        days = (time.mktime((today.tm_year, today.tm_mon, today.tm_mday, 12, 0, 0, 0, 0, -1))
                // 86400) + 25569  # days since 1899-12-30
        with db:
            db.executemany('INSERT INTO records("日期", "事情") VALUES (?, ?)',
                           ((float(days - count + i), (text % ((i,) * 6)).encode("utf-8"))
                            for i in range(count)))
            if today_bytes:
                line = "今天的备忘录很长很长，一行接一行地写下去。" * 3 + "\n"
                big = (line * (today_bytes // len(line.encode()) + 1)).encode()[:today_bytes]
                db.execute('INSERT INTO records("日期", "事情") VALUES (?, ?)',
                           (float(days), big.decode("utf-8", "ignore").encode()))
    finally:
        db.close()
    return os.path.getsize(os.path.join(prog, "事件数据.edb"))


def run_once(watcher, subject, cold, idle, timeout, log, preexec=None, ping_gap=0.0):
    watcher.drain()
    if cold:
        drop_caches()
    accepted = subject.server.accepted if subject.server else 0
    wall0 = time.time()
    t0 = time.monotonic()
    proc = subprocess.Popen(subject.argv, cwd=subject.cwd, env=subject.env, stdout=log,
                            stderr=log, preexec_fn=preexec)
    try:
        # Only the main window's map is waited for first: the CPU reading
        # "to map" is taken right after it, as before.
        times = watcher.wait_maps(proc.pid, subject.windows[:1], timeout,
                                  lambda: proc.poll() is None)
        sched = sched_ns(proc.pid)
        t1 = times[0]
        if t1 is None:
            raise RuntimeError("%s: main window not mapped (exit %s)" % (subject.label,
                                                                        proc.poll()))
        # The watcher keeps the maps it read, so one before the main window's counts.
        others = watcher.wait_maps(proc.pid, subject.windows[1:], 10,
                                   lambda: proc.poll() is None)
        if any(t is None for t in others):
            raise RuntimeError("%s: not every window mapped" % subject.label)
        kind = "cold" if cold else "warm"
        subject.samples[kind + "_ms"].append((t1 - t0) * 1000.0)
        subject.samples[kind + "_all_ms"].append((max([t1] + others) - t0) * 1000.0)
        if sched is not None:
            subject.samples[kind + "_cpu_ms"].append(sched[0] / 1e6)
        if not cold and idle > 0:
            if ping_gap > 0:
                window = watcher.window_of(proc.pid, subject.title_re)
                lat = watcher.ping_latencies(window, t0 + CPU_WINDOW_S, ping_gap)
                if not lat:
                    raise RuntimeError("%s: no answer to _NET_WM_PING" % subject.label)
                sent, longest = max(lat, key=lambda x: x[1])
                subject.samples["ping_max_ms"].append(longest * 1000.0)
                subject.samples["ping_max_at_ms"].append((sent - t0) * 1000.0)
                subject.samples["ping_median_ms"].append(
                    statistics.median(x[1] for x in lat) * 1000.0)
            time.sleep(max(0.0, t0 + CPU_WINDOW_S - time.monotonic()))
            cpu = process_cpu_ns(proc.pid)
            # Answering pings costs CPU too: only runs without them count here.
            if cpu is not None and ping_gap <= 0:
                subject.samples["cpu3s_ms"].append(cpu / 1e6)
            time.sleep(max(0.0, t1 + idle - time.monotonic()))
            for key, kib in memory_kib(proc.pid).items():
                subject.samples[key + "_kib"].append(kib)
    finally:
        status = stop(proc)
    if status not in (0, -15):
        raise RuntimeError("%s ended with status %s" % (subject.label, status))
    if subject.sync and idle > 0:
        subject.sync_runs.append(sync_seen(subject, wall0, accepted))


def sync_seen(subject, wall0, accepted):
    """What the store (or the silent server) says the sync did in a run
    that started at `wall0`: (ok, seconds from start to its end, line)."""
    last = startup_sync.last_run(os.path.join(subject.cwd, STORE))
    if subject.server:
        return (None, None, "%d connection(s) held open" % (subject.server.accepted - accepted))
    if not last or last[0] < int(wall0):
        return (None, None, "no sync in this run")
    return (last[2], last[1] - wall0, last[3])


def run_sync(subject, log):
    """`tamsivo --sync` in the subject's program directory; its result line."""
    p = subprocess.run(subject.argv + ["--sync"], cwd=subject.cwd, env=subject.env,
                       capture_output=True, timeout=3600)
    log.write(p.stdout + p.stderr)
    out = (p.stdout + p.stderr).decode("utf-8", "replace").strip()
    if p.returncode != 0:
        raise RuntimeError("%s: tamsivo --sync failed (%d): %s" % (subject.label, p.returncode,
                                                                   out))
    return out.splitlines()[-1] if out else ""


def prepare_sync(sized, radicale, servers, log):
    """Each store size's store is filled and synced once with radicale, in
    the sync-off subject's directory, then copied to every case of that size,
    so all of them start from the same synced store: the reachable one finds
    nothing changed, the unreachable ones a server that has gone away."""
    offs = [s for s in sized if s.sync == "off"]
    # A calendar of its own for each store size, under a user of its own.
    user = {off.store_size: "anna%d" % off.store_size for off in offs}
    for off in offs:
        t = time.monotonic()
        n = startup_sync.seed_storage(radicale.storage, user[off.store_size],
                                      os.path.join(off.cwd, STORE))
        print("store %s: %d memos written into radicale's storage in %.1f s" % (
            off.label, n, time.monotonic() - t), flush=True)
    radicale.start()
    for off in offs:
        if off.store_size:
            t = time.monotonic()
            radicale.warm(user[off.store_size])
            print("store %s: radicale read its %d items in %.1f s" % (
                off.label, off.store_size, time.monotonic() - t), flush=True)
        address = radicale.address(user[off.store_size])
        ini = os.path.join(off.cwd, "Start.ini")
        items = {"地址": address, "用户名": user[off.store_size], "开启": "1"}
        startup_sync.set_items(ini, {"同步": items})
        t = time.monotonic()
        line = run_sync(off, log)
        print("store %s: first sync with radicale in %.1f s: %s" % (
            off.label, time.monotonic() - t, line), flush=True)
        # A second sync finds nothing changed, as every timed start should.
        line = run_sync(off, log)
        print("  again: %s" % line, flush=True)
        startup_sync.set_items(ini, {"同步": dict(items, 开启="0")})
        store = os.path.join(off.cwd, STORE)
        for s in [s for s in sized if s.store_size == off.store_size and s.sync not in
                  (None, "off")]:
            shutil.copy2(store, os.path.join(s.cwd, STORE))
            to = address
            if s.sync == "refused":
                to = startup_sync.closed_port_address(user[off.store_size])
            elif s.sync == "silent":
                s.server = startup_sync.SilentServer()
                servers.append(s.server)
                to = s.server.address(user[off.store_size])
            if to != address:
                startup_sync.move_server(os.path.join(s.cwd, STORE), address, to)
            startup_sync.set_items(os.path.join(s.cwd, "Start.ini"), {"同步": dict(items, 地址=to)})


def prepare_unreachable(sized, servers):
    """Without a reachable case no server is started: each store, never
    synced, is set to sync with an address that refuses or never answers
    (and the sync-off one with the refusing address, 开启=0)."""
    for s in sized:
        user = "anna%d" % s.store_size
        to = startup_sync.closed_port_address(user)
        if s.sync == "silent":
            s.server = startup_sync.SilentServer()
            servers.append(s.server)
            to = s.server.address(user)
        startup_sync.set_items(os.path.join(s.cwd, "Start.ini"), {"同步": {
            "地址": to, "用户名": user, "开启": "0" if s.sync == "off" else "1"}})


def sync_report(sized, limit):
    """Each sync case beside the same store with sync off: medians, spread,
    and the median of the per-round ratios with its bootstrap 95 % interval."""
    rows = [("warm start to main window mapped", "warm_ms"),
            ("warm start to both windows mapped", "warm_all_ms"),
            ("CPU to the main window's map (living threads)", "warm_cpu_ms"),
            ("CPU in the first %g s" % CPU_WINDOW_S, "cpu3s_ms"),
            ("longest answer to a ping, map to %g s" % CPU_WINDOW_S, "ping_max_ms"),
            ("when the longest ping was sent, from the start", "ping_max_at_ms"),
            ("median answer to a ping", "ping_median_ms"),
            ("cold start to main window mapped", "cold_ms"),
            ("cold start to both windows mapped", "cold_all_ms")]
    result = {}
    print("\nsync on against sync off (ms; IQR = 25th-75th percentile; paired = median of "
          "the per-round ratios, [95 %% bootstrap interval]; limit %.2fx)" % limit)
    for off in [s for s in sized if s.sync == "off"]:
        cases = [s for s in sized if s.store_size == off.store_size and s.sync != "off"]
        for title, key in rows:
            if not off.samples[key]:
                continue
            print("%s, %d memos:" % (title, off.store_size))
            for s in [off] + cases:
                v = s.samples[key]
                if not v:
                    continue
                med = statistics.median(v)
                lo, hi = startup_sync.spread(v)
                line = "  %-13s median %8.1f  IQR %8.1f-%-8.1f min-max %8.1f-%-8.1f" % (
                    s.label, med, lo, hi, min(v), max(v))
                entry = {"median": med, "iqr": [lo, hi], "samples": v}
                if s is not off and key != "ping_max_at_ms":
                    ratio = med / statistics.median(off.samples[key])
                    paired = startup_sync.paired_ratio(v, off.samples[key])
                    verdict = ("within" if paired[2] <= limit else
                               "over" if paired[1] > limit else "undecided")
                    line += "  %.3fx  paired %.3fx [%.3f-%.3f] %s" % (ratio, paired[0],
                                                                       paired[1], paired[2],
                                                                       verdict)
                    entry.update(ratio=ratio, paired=list(paired), verdict=verdict)
                print(line)
                result.setdefault(s.label, {})[key] = entry
        for s in [off] + cases:
            runs = s.sync_runs
            lines = sorted(set(r[2] for r in runs))
            ok = sum(1 for r in runs if r[0])
            ends = [r[1] for r in runs if r[1] is not None]
            print("  %s: %d timed runs; sync ok in %d%s; results: %s" % (
                s.label, len(runs), ok,
                ", ended %.0f-%.0f s after the start" % (min(ends), max(ends)) if ends else "",
                " | ".join(lines[:3]) + (" | ..." if len(lines) > 3 else "")))
            result.setdefault(s.label, {})["sync_runs"] = runs
    return result


def report(floor, subjects, goals):
    """Medians, each program's ratio to the floor and to the empty store."""
    rows = [("warm start to map (ms)", "warm_ms"), ("cold start to map (ms)", "cold_ms"),
            ("warm to all windows (ms)", "warm_all_ms"),
            ("cold to all windows (ms)", "cold_all_ms"),
            ("CPU in first 3 s (ms)", "cpu3s_ms"),
            ("longest ping answer(ms)", "ping_max_ms"),
            ("warm CPU to map (ms)", "warm_cpu_ms"), ("cold CPU to map (ms)", "cold_cpu_ms"),
            ("idle VmRSS (KiB)", "rss_kib"), ("idle PSS (KiB)", "pss_kib"),
            ("idle private (KiB)", "private_kib")]
    everyone = [floor] + subjects
    print("%-24s" % "median of runs" + "".join(" %12s" % s.label for s in everyone))
    result = {}
    for title, key in rows:
        medians = [statistics.median(s.samples[key]) if s.samples[key] else None
                   for s in everyone]
        if medians[0] is None or any(m is None for m in medians):
            continue
        print("%-24s" % title + "".join(" %12.1f" % m for m in medians))
        ratios = "  to the floor:      " + "".join(
            " %12s" % ("%.2fx" % (m / medians[0])) for m in medians[1:])
        print(" " * 12 + ratios)
        if len(medians) > 2:
            print(" " * 12 + "  to the empty store:" + "".join(
                " %12s" % ("%.2fx" % (m / medians[1])) for m in medians[2:]))
        result[key] = {s.label: {"median": m, "samples": s.samples[key]}
                       for s, m in zip(everyone, medians)}
    print("goals: start <= %.2fx the floor, idle PSS <= %.2fx, any store <= %.2fx the empty one"
          % (goals["start"], goals["pss"], goals["store"]))
    return result


def start_display(root, preexec, wm):
    procs = []
    display = free_display()
    procs.append(subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten",
                                   "tcp"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, preexec_fn=preexec))
    wait_until(lambda: os.path.exists("/tmp/.X11-unix/X" + display[1:]), 10, "Xvfb")
    bus = os.path.join(root, "bus")
    procs.append(subprocess.Popen(["dbus-daemon", "--nofork", "--session",
                                   "--address=unix:path=" + bus], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, preexec_fn=preexec))
    wait_until(lambda: os.path.exists(bus), 10, "session bus")
    # No proxy either: the program's requests must go to 127.0.0.1 itself.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("QT_", "WAYLAND_", "XDG_", "DBUS_"))
           and "proxy" not in k.lower()}
    env.update(DISPLAY=display, LANG="C.UTF-8", DBUS_SESSION_BUS_ADDRESS="unix:path=" + bus)
    if wm:
        procs.append(subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, preexec_fn=preexec))
        time.sleep(0.5)
    return display, env, procs


def high_priority(nice):
    """A preexec function giving started programs `nice`; the benchmark takes
    a session of its own so the niceness counts under autogroup scheduling."""
    if os.path.exists("/proc/self/autogroup") and os.getsid(0) != os.getpid():
        if os.getpgrp() == os.getpid():
            os.execvp("setsid", ["setsid", "--wait", sys.executable] + sys.argv)
        os.setsid()
    try:
        with open("/proc/self/autogroup", "w") as f:
            f.write("%d\n" % nice)
    except OSError:
        pass
    try:
        os.setpriority(os.PRIO_PROCESS, 0, nice)
    except PermissionError:
        raise SystemExit("--nice %d needs root" % nice)
    return lambda: os.setpriority(os.PRIO_PROCESS, 0, nice)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(os.path.dirname(here), "build"))
    ap.add_argument("--runs", type=int, default=15, help="warm runs of each program")
    ap.add_argument("--cold", type=int, default=5, help="cold runs (root; 0 to skip)")
    ap.add_argument("--idle", type=float, default=3.0, help="seconds before memory is read")
    ap.add_argument("--stores", default="0", help="comma-separated store sizes in memos")
    ap.add_argument("--big-today", type=int, default=0,
                    help="also run with a today memo of this many MB (with an empty store)")
    ap.add_argument("--preload", action="append", default=[],
                    help="also run with an empty store and this library preloaded, to "
                         "measure what linking it would cost (may be given more than once)")
    ap.add_argument("--lunar", action="store_true",
                    help="also the empty store with 显示农历和节日 on (lunar lines, 休/班)")
    ap.add_argument("--sync", choices=("off", "reachable", "unreachable", "all"), default="off",
                    help="also each store with CalDAV sync on: reachable (a radicale of the "
                         "benchmark's on 127.0.0.1, nothing changed since the last sync), "
                         "unreachable (a closed port, and a port that accepts and never "
                         "answers), or all; compared with the same store with sync off")
    ap.add_argument("--ping", type=float,
                    help="ms between _NET_WM_PINGs to the main window from its map to %g s "
                         "after the start, in every other round, to find the GUI thread's "
                         "longest stall (default 10 with --sync, else none; 0 for none)"
                         % CPU_WINDOW_S)
    ap.add_argument("--sync-limit", type=float, default=1.02,
                    help="the ratio to sync off a start may take (default 1.02)")
    ap.add_argument("--wm", action="store_true", help="run openbox on the display")
    ap.add_argument("--nice", type=int, default=0, help="niceness (negative needs root)")
    ap.add_argument("--json", help="also write the figures to this file")
    args = ap.parse_args()
    ping_gap = (args.ping if args.ping is not None else 10 if args.sync != "off" else 0) / 1000.0

    build = os.path.abspath(args.build)
    floor_bin = os.path.join(build, "bench", "floor_calendar")
    for path in (os.path.join(build, "bin", "tamsivo"), floor_bin):
        if not os.path.exists(path):
            raise SystemExit("missing %s: build the tamsivo and floor_calendar targets" % path)
    preexec = high_priority(args.nice) if args.nice else None
    root = tempfile.mkdtemp(prefix="tamsivo-startup-")
    procs, watcher, log, servers = [], None, None, []
    try:
        display, env, procs = start_display(root, preexec, args.wm)
        watcher = MapWatcher(display)
        # The program must never set this machine's clock.
        wrap = ["setpriv", "--bounding-set", "-sys_time"] if shutil.which("setpriv") else []
        floor_dir = os.path.join(root, "floor")
        os.makedirs(floor_dir)
        shutil.copy2(floor_bin, floor_dir)
        floor = Subject("floor", wrap + [os.path.join(floor_dir, "floor_calendar"), "zh"],
                        floor_dir, private_env(root, "floor-env", env), r"^Floor calendar$",
                        [r"^Floor edit box$"])
        sizes = [int(s) for s in args.stores.split(",") if s.strip()]
        cases = [] if args.sync == "off" else (
            list(SYNC_CASES) if args.sync == "all" else
            ["reachable"] if args.sync == "reachable" else ["refused", "silent"])
        subjects = []
        for n in sizes:
            off = tamsivo_subject(build, root, "memos-%d" % n, env, wrap)
            off.store_size, off.sync = n, ("off" if cases else None)
            subjects.append(off)
            for case in cases:
                s = tamsivo_subject(build, root, "%d+%s" % (n, SYNC_CASES[case]), env, wrap)
                s.store_size, s.sync = n, case
                subjects.append(s)
        sized = list(subjects)
        if args.big_today:
            subjects.append(tamsivo_subject(build, root, "today-%dMB" % args.big_today, env, wrap))
        for lib in args.preload:
            s = tamsivo_subject(build, root, "+" + os.path.basename(lib).split(".so")[0], env, wrap)
            s.env["LD_PRELOAD"] = lib
            subjects.append(s)
        if args.lunar:
            subjects.append(tamsivo_subject(build, root, "lunar-on", env, wrap))
        log = open(os.path.join(root, "programs.log"), "ab")
        # One unmeasured run each: tamsivo makes its settings and store.
        for s in [floor] + subjects:
            run_once(watcher, s, False, 0, 60, log, preexec)
            for v in s.samples.values():
                v.clear()
        for s in subjects:
            # In December the program offers next year's 休/班 days in a box
            # of its own, which would stand in the timed starts.
            startup_sync.set_items(os.path.join(s.cwd, "Start.ini"),
                                   {"节假日": {"不再询问": "1"}})
        for s in sized:
            if s.store_size:
                print("store %s: %d bytes" % (s.label, fill_store(s.cwd, s.store_size)),
                      flush=True)
        if "reachable" in cases:
            radicale = startup_sync.Radicale(root)
            servers.append(radicale)
            prepare_sync(sized, radicale, servers, log)
        elif cases:
            prepare_unreachable(sized, servers)
        if args.lunar:
            ini = os.path.join(subjects[-1].cwd, "Start.ini")
            with open(ini, "rb") as f:
                text = f.read().decode("gbk")
            with open(ini, "wb") as f:
                f.write(text.replace("[主窗口]\r\n", "[主窗口]\r\n显示农历=1\r\n", 1).encode("gbk"))
        if args.big_today:
            s = subjects[-1 - int(args.lunar)]
            print("store %s: %d bytes" % (s.label, fill_store(s.cwd, 0,
                                                              args.big_today << 20)), flush=True)
        everyone = [floor] + subjects
        load_before = " ".join(open("/proc/loadavg").read().split()[:3])
        for i in range(args.runs):
            for s in everyone if i % 2 == 0 else reversed(everyone):
                # Pings in every other round: CPU time is read in the others.
                run_once(watcher, s, False, args.idle, 120, log, preexec,
                         ping_gap if i % 2 else 0.0)
        if args.cold > 0 and can_drop_caches():
            for i in range(args.cold):
                for s in everyone if i % 2 == 0 else reversed(everyone):
                    run_once(watcher, s, True, 0, 120, log, preexec)
        else:
            print("cold start: not measured (dropping the page cache needs root)")
        print("%d warm, %d cold runs each%s, nice %d; load average %s before, %s after" % (
            args.runs, args.cold, ", openbox" if args.wm else ", no WM", args.nice,
            load_before, " ".join(open("/proc/loadavg").read().split()[:3])))
        result = report(floor, subjects, {"start": 1.1, "pss": 1.15, "store": 1.05})
        if cases:
            result["sync"] = sync_report(sized, args.sync_limit)
        if args.json:
            with open(args.json, "w") as f:
                json.dump(result, f, indent=1)
    finally:
        if watcher:
            watcher.close()
        if log:
            log.close()
        for server in servers:
            server.stop()
        for p in reversed(procs):
            stop(p, 5)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
