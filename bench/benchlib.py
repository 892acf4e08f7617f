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
