"""What the start-up benchmarks share: an Xlib watcher that reports windows
as the X server maps them, and readings of a process's scheduling and
memory from /proc. Only processes started by the caller are ended, by PID."""
import ctypes
import ctypes.util
import os
import select
import signal
import subprocess
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
_x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                          ctypes.c_void_p]
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

STRUCTURE_NOTIFY_MASK = 1 << 17
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
MAP_NOTIFY = 19
CLIENT_MESSAGE = 33
ANY_PROPERTY_TYPE = 0


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("pad", ctypes.c_long * 24)]


class XMapEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong),
                ("window", ctypes.c_ulong), ("override_redirect", ctypes.c_int)]


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5)]


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
        self.atom_protocols = _x.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        self.atom_ping = _x.XInternAtom(self.dpy, b"_NET_WM_PING", 0)
        self.ping_serial = 0
        self.mapped = []  # (monotonic time, window) of every map since drain()
        # Structure notify: the toolkit sends its answers to pings to the root
        # window with that mask.
        _x.XSelectInput(self.dpy, self.root, SUBSTRUCTURE_NOTIFY_MASK | STRUCTURE_NOTIFY_MASK)
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
        """`window` or, under a window manager, the window inside its frame
        when it belongs to `pid` and is named like `name_re`; else None."""
        if self.window_pid(window) == pid and name_re.search(self.window_name(window)):
            return window
        if depth > 0:
            for w in self.children(window):
                found = self.matches(w, pid, name_re, depth - 1)
                if found:
                    return found
        return None

    def window_of(self, pid, name_re):
        """The first window mapped since drain() that belongs to `pid` and is
        named like `name_re`, or None."""
        for _, window in self.mapped:
            found = self.matches(window, pid, name_re)
            if found:
                return found
        return None

    def ping_latencies(self, window, until, gap):
        """Sends _NET_WM_PING to `window` again and again until the monotonic
        time `until`, `gap` seconds after each answer, and returns how long
        (monotonic time sent, seconds its answer took) of each. The toolkit
        answers from its GUI thread, so a long answer is a time the program
        could not have reacted to the user."""
        out = []
        ev = XEvent()
        while time.monotonic() < until:
            self.ping_serial += 1
            msg = XClientMessageEvent(type=CLIENT_MESSAGE, send_event=1, display=self.dpy,
                                      window=window, message_type=self.atom_protocols,
                                      format=32)
            msg.l[0], msg.l[1], msg.l[2] = self.atom_ping, self.ping_serial, window
            sent = time.monotonic()
            _x.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(msg))
            _x.XFlush(self.dpy)
            answered = None
            while answered is None and time.monotonic() < until + 1.0:
                while _x.XPending(self.dpy):
                    _x.XNextEvent(self.dpy, ctypes.byref(ev))
                    now = time.monotonic()
                    if ev.type == MAP_NOTIFY:
                        m = ctypes.cast(ctypes.byref(ev), ctypes.POINTER(XMapEvent)).contents
                        if not m.override_redirect:
                            self.mapped.append((now, m.window))
                    elif ev.type == CLIENT_MESSAGE:
                        c = ctypes.cast(ctypes.byref(ev),
                                        ctypes.POINTER(XClientMessageEvent)).contents
                        if (c.message_type == self.atom_protocols and c.l[0] == self.atom_ping
                                and c.l[1] == self.ping_serial):
                            answered = now
                if answered is None:
                    select.select([self.fd], [], [], 0.05)
            if answered is None:
                break  # gone, or not answering pings at all
            out.append((sent, answered - sent))
            time.sleep(max(0.0, min(gap, until - time.monotonic())))
        return out

    def drain(self):
        """Forgets every map so far."""
        ev = XEvent()
        while _x.XPending(self.dpy):
            _x.XNextEvent(self.dpy, ctypes.byref(ev))
        self.mapped = []

    def wait_map(self, pid, name_re, timeout, alive):
        """Monotonic time at which a window of `pid` named like `name_re` was mapped."""
        return self.wait_maps(pid, [name_re], timeout, alive)[0]

    def wait_maps(self, pid, name_res, timeout, alive):
        """Monotonic times at which a window of `pid` named like each of
        `name_res` was first mapped since the last drain() (None for one not
        seen within `timeout`). Maps read while waiting for one window are
        kept, so a later call finds a window mapped meanwhile."""
        times = [None] * len(name_res)

        def note(when, window):
            for i, name_re in enumerate(name_res):
                if times[i] is None and self.matches(window, pid, name_re):
                    times[i] = when

        for when, window in self.mapped:
            note(when, window)
        ev = XEvent()
        end = time.monotonic() + timeout
        while not all(t is not None for t in times):
            while _x.XPending(self.dpy):
                _x.XNextEvent(self.dpy, ctypes.byref(ev))
                if ev.type != MAP_NOTIFY:
                    continue
                now = time.monotonic()
                m = ctypes.cast(ctypes.byref(ev), ctypes.POINTER(XMapEvent)).contents
                if m.override_redirect:
                    continue
                # A window manager maps its frame after the window inside it.
                self.mapped.append((now, m.window))
                note(now, m.window)
            if all(t is not None for t in times):
                break
            left = end - time.monotonic()
            if left <= 0 or not alive():
                break
            select.select([self.fd], [], [], min(left, 0.05))
        return times


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


_libc = ctypes.CDLL(None, use_errno=True)


class _Timespec(ctypes.Structure):
    _fields_ = [("tv_sec", ctypes.c_long), ("tv_nsec", ctypes.c_long)]


def process_cpu_ns(pid):
    """CPU time of the whole process `pid` so far, threads that already ended
    included (its POSIX CPU clock), in nanoseconds; None when it is gone."""
    clock = ctypes.c_int()
    ts = _Timespec()
    if _libc.clock_getcpuclockid(pid, ctypes.byref(clock)) != 0:
        return None
    if _libc.clock_gettime(clock.value, ctypes.byref(ts)) != 0:
        return None
    return ts.tv_sec * 1000000000 + ts.tv_nsec


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
