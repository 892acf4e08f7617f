#!/usr/bin/python3
"""Start-up time and idle memory of tamsivo beside a bare Qt calendar window.

The floor is bench/floor_calendar: the same toolkit showing a window of the
main window's size with a calendar, and nothing else. It runs twice, as is and
with a Chinese calendar ("floor-zh"), which needs a CJK font as tamsivo does.
Everything runs on a private Xvfb display with a private session bus. For each
run the time is taken from just before the program is started to the moment
the X server reports its main window mapped (an Xlib watcher on the root
window, no polling). Warm runs follow one another; a cold run comes right after
the page cache is dropped (root only). Idle memory is read from /proc a few
seconds after the window is up. The programs take turns, so load from
elsewhere on the machine hits all of them alike.

Only processes started here are ended, by their PID.
"""
import argparse
import ctypes
import ctypes.util
import json
import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

# --- a minimal Xlib watcher -------------------------------------------------

_x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
_x.XOpenDisplay.restype = ctypes.c_void_p
_x.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x.XDefaultRootWindow.restype = ctypes.c_ulong
_x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
_x.XConnectionNumber.argtypes = [ctypes.c_void_p]
_x.XPending.argtypes = [ctypes.c_void_p]
_x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
_x.XFlush.argtypes = [ctypes.c_void_p]
_x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
_x.XCloseDisplay.argtypes = [ctypes.c_void_p]
_x.XInternAtom.restype = ctypes.c_ulong
_x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
_x.XFree.argtypes = [ctypes.c_void_p]
_x.XQueryTree.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
    ctypes.POINTER(ctypes.c_uint)]
_x.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
    ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_void_p)]

_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
# A window may vanish between its map and our property read; ignore that.
_ignore_errors = _ERROR_HANDLER(lambda display, event: 0)
_x.XSetErrorHandler.argtypes = [_ERROR_HANDLER]
_x.XSetErrorHandler(_ignore_errors)

SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
MAP_NOTIFY = 19
ANY_PROPERTY_TYPE = 0


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("pad", ctypes.c_long * 24)]


class XMapEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong),
                ("window", ctypes.c_ulong), ("override_redirect", ctypes.c_int)]


class MapWatcher:
    """Reports top-level windows as the X server maps them."""

    def __init__(self, display):
        self.dpy = _x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display)
        self.root = _x.XDefaultRootWindow(self.dpy)
        self.fd = _x.XConnectionNumber(self.dpy)
        self.atom_pid = _x.XInternAtom(self.dpy, b"_NET_WM_PID", 0)
        self.atom_name = _x.XInternAtom(self.dpy, b"_NET_WM_NAME", 0)
        self.atom_wm_name = _x.XInternAtom(self.dpy, b"WM_NAME", 0)
        _x.XSelectInput(self.dpy, self.root, SUBSTRUCTURE_NOTIFY_MASK)
        _x.XSync(self.dpy, 0)

    def close(self):
        _x.XCloseDisplay(self.dpy)

    def _prop(self, window, atom):
        actual_type = ctypes.c_ulong()
        actual_format = ctypes.c_int()
        nitems = ctypes.c_ulong()
        after = ctypes.c_ulong()
        data = ctypes.c_void_p()
        rc = _x.XGetWindowProperty(self.dpy, window, atom, 0, 1024, 0, ANY_PROPERTY_TYPE,
                                   ctypes.byref(actual_type), ctypes.byref(actual_format),
                                   ctypes.byref(nitems), ctypes.byref(after), ctypes.byref(data))
        if rc != 0 or not data.value:
            return None
        try:
            if actual_format.value == 32:
                return [ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[i]
                        for i in range(nitems.value)]
            if actual_format.value == 8:
                return ctypes.string_at(data, nitems.value)
            return None
        finally:
            _x.XFree(data)

    def window_pid(self, window):
        v = self._prop(window, self.atom_pid)
        return v[0] if v else None

    def window_name(self, window):
        v = self._prop(window, self.atom_name) or self._prop(window, self.atom_wm_name)
        return v.decode("utf-8", "replace") if isinstance(v, bytes) else ""

    def children(self, window):
        root = ctypes.c_ulong()
        parent = ctypes.c_ulong()
        kids = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not _x.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                             ctypes.byref(kids), ctypes.byref(count)):
            return []
        try:
            return [kids[i] for i in range(count.value)]
        finally:
            if kids:
                _x.XFree(kids)

    def matches(self, window, pid, name_re, depth=3):
        """Whether `window` or, under a window manager, a window inside its
        frame belongs to `pid` and is named like `name_re`."""
        if self.window_pid(window) == pid and name_re.search(self.window_name(window)):
            return True
        return depth > 0 and any(self.matches(w, pid, name_re, depth - 1)
                                 for w in self.children(window))

    def drain(self):
        ev = XEvent()
        while _x.XPending(self.dpy):
            _x.XNextEvent(self.dpy, ctypes.byref(ev))

    def wait_map(self, pid, name_re, timeout, alive):
        """Monotonic time at which a window of `pid` named like `name_re` was mapped."""
        ev = XEvent()
        end = time.monotonic() + timeout
        while True:
            while _x.XPending(self.dpy):
                _x.XNextEvent(self.dpy, ctypes.byref(ev))
                if ev.type != MAP_NOTIFY:
                    continue
                now = time.monotonic()
                m = ctypes.cast(ctypes.byref(ev), ctypes.POINTER(XMapEvent)).contents
                if m.override_redirect:
                    continue
                # A window manager maps its frame after the window inside it.
                if self.matches(m.window, pid, name_re):
                    return now
            left = end - time.monotonic()
            if left <= 0 or not alive():
                return None
            select.select([self.fd], [], [], min(left, 0.05))


# --- the machine -------------------------------------------------------------

def free_display():
    for n in range(150, 260):
        if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists(
                "/tmp/.X11-unix/X%d" % n):
            return ":%d" % n
    raise RuntimeError("no free display number")


def wait_until(predicate, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return
        time.sleep(0.01)
    raise RuntimeError("timed out waiting for " + what)


def stop(proc, timeout=10):
    """SIGTERM by PID, SIGKILL if it does not go; returns the exit status."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return proc.returncode


def can_drop_caches():
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("1\n")
        return True
    except OSError:
        return False


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def sched_ns(pid):
    """(CPU time, time runnable but waiting for a CPU) so far, summed over the
    threads of `pid`, in nanoseconds; None when it cannot be read."""
    cpu = wait = 0
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                    fields = f.read().split()
                cpu += int(fields[0])
                wait += int(fields[1])
            except OSError:
                pass
    except OSError:
        return None
    return cpu, wait


def memory_kib(pid):
    """{"rss", "pss", "private"} of `pid` in KiB. PSS and RSS count shared
    library pages too, so they move with whatever else maps the same libraries;
    private pages (clean and dirty) belong to this process alone."""
    mem = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                mem["rss"] = int(line.split()[1])
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key == "Pss":
                    mem["pss"] = int(rest.split()[0])
                elif key in ("Private_Clean", "Private_Dirty"):
                    mem["private"] = mem.get("private", 0) + int(rest.split()[0])
    except OSError:
        pass
    return mem


# --- the programs ------------------------------------------------------------

class Subject:
    def __init__(self, label, argv, cwd, env, title_re):
        self.label = label
        self.argv = argv
        self.cwd = cwd
        self.env = env
        self.title_re = re.compile(title_re)
        self.samples = {k: [] for k in (
            "warm_ms", "cold_ms", "warm_cpu_ms", "cold_cpu_ms", "warm_runq_ms", "cold_runq_ms",
            "rss_kib", "pss_kib", "private_kib")}


def make_subjects(build, root, base_env, wrap):
    bin_dir = os.path.join(build, "bin")
    floor = os.path.join(build, "bench", "floor_calendar")
    for path in (os.path.join(bin_dir, "tamsivo"), os.path.join(bin_dir, "tesmo.qrr"), floor):
        if not os.path.exists(path):
            raise SystemExit("missing %s: build the tamsivo and floor_calendar targets" % path)

    def private_env(name):
        home = os.path.join(root, name, "home")
        run = os.path.join(root, name, "run")
        os.makedirs(home)
        os.makedirs(run, mode=0o700)
        return dict(base_env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                    XDG_DATA_HOME=os.path.join(home, ".local/share"),
                    XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_RUNTIME_DIR=run)

    prog = os.path.join(root, "tamsivo", "prog")
    os.makedirs(prog)
    for name in ("tamsivo", "tesmo.qrr"):
        shutil.copy2(os.path.join(bin_dir, name), prog)
    tamsivo = Subject("tamsivo", wrap + [os.path.join(prog, "tamsivo")], prog,
                      private_env("tamsivo"), r"^Tamsivo [0-9]")
    floor_dir = os.path.join(root, "floor")
    os.makedirs(floor_dir)
    shutil.copy2(floor, floor_dir)
    floor_argv = wrap + [os.path.join(floor_dir, "floor_calendar")]
    plain = Subject("floor", floor_argv, floor_dir, private_env("floor-env"), r"^Floor calendar$")
    chinese = Subject("floor-zh", floor_argv + ["zh"], floor_dir, private_env("floor-zh-env"),
                      r"^Floor calendar$")
    return [plain, chinese, tamsivo]


def fill_store(prog, count):
    """Gives the store `count` day memos of about 600 bytes, as years of use would."""
    import sqlite3
    db = sqlite3.connect(os.path.join(prog, "事件数据.edb"))
    try:
        columns = [row[1] for row in db.execute("PRAGMA table_info(records)")]
        if "日期" not in columns or "事情" not in columns:
            raise SystemExit("the memo store has an unknown layout: %s" % columns)
        text = "第%d天的备忘：开会、买菜、回电话，下午三点到四点讨论下个月的安排。" * 6
        first = (time.time() // 86400) + 25569 - count  # days since 1899-12-30
        with db:
            db.executemany('INSERT INTO records("日期", "事情") VALUES (?, ?)',
                           ((float(first + i), (text % ((i,) * 6)).encode("utf-8"))
                            for i in range(count)))
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
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
            subject.samples[kind + "_runq_ms"].append(sched[1] / 1e6)
        if not cold and idle > 0:
            time.sleep(idle)
            for key, kib in memory_kib(proc.pid).items():
                subject.samples[key + "_kib"].append(kib)
    finally:
        status = stop(proc)
    if status not in (0, -signal.SIGTERM):
        raise RuntimeError("%s ended with status %s" % (subject.label, status))


def median(values):
    return statistics.median(values) if values else None


def report(subjects, cold_missing, goals):
    tamsivo = subjects[-1]
    rows = [("warm start to map (ms)", "warm_ms", goals["start"]),
            ("cold start to map (ms)", "cold_ms", goals["start"]),
            ("warm CPU to map (ms)", "warm_cpu_ms", None),
            ("cold CPU to map (ms)", "cold_cpu_ms", None),
            ("warm run-queue wait (ms)", "warm_runq_ms", None),
            ("cold run-queue wait (ms)", "cold_runq_ms", None),
            ("idle VmRSS (KiB)", "rss_kib", goals["memory"]),
            ("idle PSS (KiB)", "pss_kib", None),
            ("idle private (KiB)", "private_kib", None)]
    result = {}
    head = "%-25s" % "median of runs"
    for s in subjects:
        head += " %9s" % s.label
    head += " %7s %5s %8s  %s" % ("ratio", "goal", "vs zh", "tamsivo min..max")
    print(head)
    for title, key, goal in rows:
        medians = [median(s.samples[key]) for s in subjects]
        if any(m is None for m in medians):
            continue
        ratio = medians[-1] / medians[0]
        entry = {"goal": goal, "ratio": ratio}
        for s, m in zip(subjects, medians):
            entry[s.label] = m
            entry[s.label + "_samples"] = s.samples[key]
        line = "%-25s" % title + "".join(" %9.1f" % m for m in medians)
        line += " %6.2fx %5s" % (ratio, ("%.1fx" % goal) if goal else "-")
        if len(subjects) > 2:
            entry["ratio_vs_zh"] = medians[-1] / medians[1]
            line += " %7.2fx" % entry["ratio_vs_zh"]
        samples = tamsivo.samples[key]
        line += "  %.1f..%.1f" % (min(samples), max(samples))
        if goal is not None:
            line += " ok" if ratio <= goal else " OVER"
        result[key] = entry
        print(line)
    if cold_missing:
        print("cold start: not measured (the page cache cannot be dropped here; run as root)")
    return result


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(os.path.dirname(here), "build"),
                    help="build directory holding bin/tamsivo and bench/floor_calendar")
    ap.add_argument("--runs", type=int, default=15, help="warm runs of each program")
    ap.add_argument("--cold", type=int, default=5,
                    help="cold runs of each program (needs root; 0 to skip)")
    ap.add_argument("--idle", type=float, default=3.0,
                    help="seconds after the map at which memory is read")
    ap.add_argument("--wm", action="store_true", help="run openbox on the display")
    ap.add_argument("--nice", type=int, default=0,
                    help="niceness for the display, the bus, the watcher and both programs; "
                         "a negative value (root) keeps other work on a busy machine from "
                         "dominating the figures")
    ap.add_argument("--memos", type=int, default=0,
                    help="give tamsivo's store this many day memos before measuring "
                         "(7300 is twenty years of daily use)")
    ap.add_argument("--json", help="also write the figures to this file")
    ap.add_argument("--keep", action="store_true", help="keep the temporary directory")
    args = ap.parse_args()

    for tool in ("Xvfb", "dbus-daemon"):
        if shutil.which(tool) is None:
            raise SystemExit("missing " + tool)
    preexec = None
    if args.nice:
        # With autogroup scheduling a niceness counts only inside its session,
        # so take a session of our own and set the niceness of its group too.
        if os.path.exists("/proc/self/autogroup") and os.getsid(0) != os.getpid():
            if os.getpgrp() == os.getpid():
                os.execvp("setsid", ["setsid", "--wait", sys.executable] + sys.argv)
            os.setsid()
        try:
            with open("/proc/self/autogroup", "w") as f:
                f.write("%d\n" % args.nice)
        except OSError:
            pass
        try:
            os.setpriority(os.PRIO_PROCESS, 0, args.nice)
        except PermissionError:
            raise SystemExit("--nice %d needs root" % args.nice)
        preexec = lambda: os.setpriority(os.PRIO_PROCESS, 0, args.nice)  # noqa: E731
    root = tempfile.mkdtemp(prefix="tamsivo-startup-")
    procs = []
    watcher = None
    log = None
    try:
        display = free_display()
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten",
                                 "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                preexec_fn=preexec)
        procs.append(xvfb)
        wait_until(lambda: os.path.exists("/tmp/.X11-unix/X" + display[1:]), 10, "Xvfb")
        bus = os.path.join(root, "bus")
        dbus = subprocess.Popen(["dbus-daemon", "--nofork", "--session",
                                 "--address=unix:path=" + bus], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, preexec_fn=preexec)
        procs.append(dbus)
        wait_until(lambda: os.path.exists(bus), 10, "session bus")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "WAYLAND_", "XDG_", "DBUS_"))}
        env.update(DISPLAY=display, LANG="C.UTF-8", DBUS_SESSION_BUS_ADDRESS="unix:path=" + bus)
        if args.wm:
            procs.append(subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL, preexec_fn=preexec))
            time.sleep(0.5)
        watcher = MapWatcher(display)
        # The program must never set this machine's clock.
        wrap = ["setpriv", "--bounding-set", "-sys_time"] if shutil.which("setpriv") else []
        subjects = make_subjects(os.path.abspath(args.build), root, env, wrap)
        tamsivo = subjects[-1]
        log = open(os.path.join(root, "programs.log"), "ab")

        # One unmeasured run each: tamsivo creates its settings and store here.
        for s in subjects:
            run_once(watcher, s, False, 0, 30, log, preexec)
            for v in s.samples.values():
                v.clear()
        store_bytes = fill_store(tamsivo.cwd, args.memos) if args.memos else 0

        cold_done = args.cold > 0 and can_drop_caches()
        for i in range(args.runs):
            for s in subjects if i % 2 == 0 else reversed(subjects):
                run_once(watcher, s, False, args.idle, 30, log, preexec)
        if cold_done:
            for i in range(args.cold):
                for s in subjects if i % 2 == 0 else reversed(subjects):
                    run_once(watcher, s, True, 0, 60, log, preexec)

        print("load average at the end: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
        print("%d warm runs, %d cold runs each%s, nice %d" % (
            args.runs, args.cold if cold_done else 0, ", openbox" if args.wm else ", no WM",
            args.nice))
        if args.memos:
            print("memo store: %d memos, %d bytes" % (args.memos, store_bytes))
        result = report(subjects, args.cold > 0 and not cold_done, {"start": 1.3, "memory": 1.2})
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
        if args.keep:
            print("kept " + root)
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
