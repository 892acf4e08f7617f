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
                      sched_ns, stop, wait_until)

KEYS = ("warm_ms", "cold_ms", "warm_cpu_ms", "cold_cpu_ms", "rss_kib", "pss_kib", "private_kib")


class Subject:
    def __init__(self, label, argv, cwd, env, title_re):
        self.label = label
        self.argv = argv
        self.cwd = cwd
        self.env = env
        self.title_re = re.compile(title_re)
        self.samples = {k: [] for k in KEYS}


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
                   private_env(root, name, base_env), r"^Tamsivo [0-9]")


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


def run_once(watcher, subject, cold, idle, timeout, log, preexec=None):
    watcher.drain()
    if cold:
        drop_caches()
    t0 = time.monotonic()
    proc = subprocess.Popen(subject.argv, cwd=subject.cwd, env=subject.env, stdout=log,
                            stderr=log, preexec_fn=preexec)
    try:
        t1 = watcher.wait_map(proc.pid, subject.title_re, timeout, lambda: proc.poll() is None)
        sched = sched_ns(proc.pid)
        if t1 is None:
            raise RuntimeError("%s: main window not mapped (exit %s)" % (subject.label,
                                                                        proc.poll()))
        kind = "cold" if cold else "warm"
        subject.samples[kind + "_ms"].append((t1 - t0) * 1000.0)
        if sched is not None:
            subject.samples[kind + "_cpu_ms"].append(sched[0] / 1e6)
        if not cold and idle > 0:
            time.sleep(idle)
            for key, kib in memory_kib(proc.pid).items():
                subject.samples[key + "_kib"].append(kib)
    finally:
        status = stop(proc)
    if status not in (0, -15):
        raise RuntimeError("%s ended with status %s" % (subject.label, status))


def report(floor, subjects, goals):
    """Medians, each program's ratio to the floor and to the empty store."""
    rows = [("warm start to map (ms)", "warm_ms"), ("cold start to map (ms)", "cold_ms"),
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
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("QT_", "WAYLAND_", "XDG_", "DBUS_"))}
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
    ap.add_argument("--wm", action="store_true", help="run openbox on the display")
    ap.add_argument("--nice", type=int, default=0, help="niceness (negative needs root)")
    ap.add_argument("--json", help="also write the figures to this file")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    floor_bin = os.path.join(build, "bench", "floor_calendar")
    for path in (os.path.join(build, "bin", "tamsivo"), floor_bin):
        if not os.path.exists(path):
            raise SystemExit("missing %s: build the tamsivo and floor_calendar targets" % path)
    preexec = high_priority(args.nice) if args.nice else None
    root = tempfile.mkdtemp(prefix="tamsivo-startup-")
    procs, watcher, log = [], None, None
    try:
        display, env, procs = start_display(root, preexec, args.wm)
        watcher = MapWatcher(display)
        # The program must never set this machine's clock.
        wrap = ["setpriv", "--bounding-set", "-sys_time"] if shutil.which("setpriv") else []
        floor_dir = os.path.join(root, "floor")
        os.makedirs(floor_dir)
        shutil.copy2(floor_bin, floor_dir)
        floor = Subject("floor", wrap + [os.path.join(floor_dir, "floor_calendar"), "zh"],
                        floor_dir, private_env(root, "floor-env", env), r"^Floor calendar$")
        sizes = [int(s) for s in args.stores.split(",") if s.strip()]
        subjects = [tamsivo_subject(build, root, "memos-%d" % n, env, wrap) for n in sizes]
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
        for n, s in zip(sizes, subjects):
            if n:
                print("store %s: %d bytes" % (s.label, fill_store(s.cwd, n)), flush=True)
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
        for i in range(args.runs):
            for s in everyone if i % 2 == 0 else reversed(everyone):
                run_once(watcher, s, False, args.idle, 120, log, preexec)
        if args.cold > 0 and can_drop_caches():
            for i in range(args.cold):
                for s in everyone if i % 2 == 0 else reversed(everyone):
                    run_once(watcher, s, True, 0, 120, log, preexec)
        else:
            print("cold start: not measured (dropping the page cache needs root)")
        print("%d warm, %d cold runs each%s, nice %d; load average %s" % (
            args.runs, args.cold, ", openbox" if args.wm else ", no WM", args.nice,
            " ".join(open("/proc/loadavg").read().split()[:3])))
        result = report(floor, subjects, {"start": 1.1, "pss": 1.15, "store": 1.05})
        if args.json:
            with open(args.json, "w") as f:
                json.dump(result, f, indent=1)
    finally:
        if watcher:
            watcher.close()
        if log:
            log.close()
        for p in reversed(procs):
            stop(p, 5)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
