"""A private Xvfb display (with a window manager and a tray host when asked)
and the X tools that drive it the way a user's mouse and keyboard do.

Only processes started here are ended, by their PID."""
import os
import shutil
import subprocess
import time

SKIP = 77


def need(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        raise SystemExit(SKIP)


def wait_for(predicate, timeout=15.0, what="condition"):
    end = time.time() + timeout
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class Desktop:
    """An Xvfb display with an optional window manager."""

    def __init__(self, wm=True, size="1280x800"):
        need("Xvfb", "xdotool", "import")
        self.procs = []
        # Xvfb picks a free display number itself and reports it, so tests
        # running side by side never race for one.
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                 size + "x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(xvfb)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as reported:
            number = reported.readline().strip()
        if not number:
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number.decode()
        wait_for(lambda: os.path.exists("/tmp/.X11-unix/X" + self.display[1:]), 10, "Xvfb")
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.pop("QT_QPA_PLATFORM", None)
        if wm:
            need("openbox", "xprop")
            try:
                self._start_openbox()
            except BaseException:
                # No caller holds this object yet to close it.
                self.close()
                raise

    def _start_openbox(self):
        """Starts openbox and waits until it manages the screen. Under a heavy
        parallel load it has been seen to end at once with status 1; that is
        retried, and its own words are kept for the report."""
        import tempfile
        for attempt in range(3):
            with tempfile.TemporaryFile() as said:
                ob = subprocess.Popen(["openbox"], env=self.env, stdout=said, stderr=said)
                try:
                    wait_for(lambda: ob.poll() is not None or "window id" in self.run(
                        "xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False).stdout,
                        10, "openbox")
                except BaseException:
                    ob.kill()
                    ob.wait()
                    raise
                if ob.poll() is None:
                    self.procs.append(ob)
                    return
                said.seek(0)
                words = said.read().decode("utf-8", "replace").strip()
                print("openbox ended with status %d (attempt %d): %s"
                      % (ob.returncode, attempt + 1, words), flush=True)
        raise AssertionError("openbox would not start")

    def run(self, *args, check=True):
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                              check=check, timeout=30)

    def xdo(self, *args, check=True):
        return self.run("xdotool", *args, check=check).stdout.strip()

    def find_window(self, name_regex, timeout=15.0):
        def look():
            out = self.xdo("search", "--onlyvisible", "--name", name_regex, check=False)
            return out.split()[0] if out else None
        return wait_for(look, timeout, "window " + name_regex)

    def gone(self, name_regex):
        return not self.xdo("search", "--onlyvisible", "--name", name_regex, check=False)

    def geometry(self, wid):
        """Client area on the screen (xdotool's own figure is off under a
        re-parenting window manager)."""
        out = self.run("xwininfo", "-id", str(wid)).stdout
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

    def frame_geometry(self, wid):
        """The window with its window-manager frame: what the program calls its
        outer position and size."""
        x, y, w, h = self.geometry(wid)
        left, right, top, bottom = self.frame_extents(wid)
        return (x - left, y - top, w + left + right, h + top + bottom)

    def frame_extents(self, wid):
        out = self.run("xprop", "-id", str(wid), "_NET_FRAME_EXTENTS", check=False).stdout
        if "=" not in out:
            return (0, 0, 0, 0)
        return tuple(int(v) for v in out.split("=", 1)[1].split(","))

    def map_state(self, wid):
        """IsViewable, IsUnMapped or IsUnviewable, from the server."""
        for line in self.run("xwininfo", "-id", str(wid)).stdout.splitlines():
            key, _, value = line.strip().partition(":")
            if key == "Map State":
                return value.strip()
        raise AssertionError("no map state for window %s" % wid)

    def mapped(self, wid):
        return self.map_state(wid) == "IsViewable"

    def wm_state(self, wid):
        """The atoms of _NET_WM_STATE."""
        out = self.run("xprop", "-id", str(wid), "_NET_WM_STATE", check=False).stdout
        if "=" not in out:
            return set()
        return {a.strip() for a in out.split("=", 1)[1].split(",") if a.strip()}

    def window_pid(self, wid):
        out = self.run("xprop", "-id", str(wid), "_NET_WM_PID", check=False).stdout
        return int(out.split("=")[1]) if "=" in out else None

    def children(self, wid):
        """Every window below wid, as ids."""
        out = self.run("xwininfo", "-tree", "-id", str(wid), check=False).stdout
        ids = []
        for line in out.splitlines():
            word = line.strip().split(" ", 1)[0]
            if word.startswith("0x") and not line.lstrip().startswith("xwininfo"):
                ids.append(int(word, 16))
        return ids[1:] if ids and ids[0] == int(wid) else ids

    def activate(self, wid):
        self.xdo("windowactivate", "--sync", str(wid), check=False)
        time.sleep(0.2)

    def drag(self, x0, y0, x1, y1, steps=10):
        """Left-button drag, in small steps so the window manager follows."""
        self.move_pointer(x0, y0)
        self.xdo("mousedown", "1")
        time.sleep(0.1)
        for i in range(1, steps + 1):
            self.move_pointer(x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps)
            time.sleep(0.03)
        time.sleep(0.1)
        self.xdo("mouseup", "1")

    def start_tray(self):
        """A system tray host (XEmbed) at the bottom right of the screen;
        returns its top-level window."""
        need("trayer")
        tray = subprocess.Popen(["trayer", "--edge", "bottom", "--align", "right",
                                 "--widthtype", "pixel", "--width", "120", "--height", "32",
                                 "--transparent", "false", "--SetDockType", "true"],
                                env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.procs.append(tray)

        def panel():
            out = self.xdo("search", "--onlyvisible", "--classname", "^panel$", check=False)
            return out.split()[0] if out else None
        return wait_for(panel, 10, "the tray host")

    def screenshot(self, path):
        self.run("import", "-window", "root", path)
        return path

    def pixels(self, x, y, w, h):
        """Returns {(x, y): (r, g, b)} for a screen rectangle."""
        out = self.run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                       "-depth", "8", "txt:-").stdout
        result = {}
        for line in out.splitlines():
            if line.startswith("#"):
                continue
            pos, _, rest = line.partition(":")
            px, py = pos.split(",")
            hexpart = rest.split("#")[1][:6]
            result[(x + int(px), y + int(py))] = tuple(int(hexpart[i:i + 2], 16) for i in (0, 2, 4))
        return result

    def pointer(self):
        out = self.xdo("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def move_pointer(self, x, y):
        # --sync waits for the pointer to move, forever if it is already there.
        if self.pointer() != (x, y):
            self.xdo("mousemove", "--sync", str(x), str(y))

    def click(self, x, y, double=False):
        self.move_pointer(x, y)
        time.sleep(0.1)
        if double:
            self.xdo("click", "--repeat", "2", "--delay", "80", "1")
        else:
            self.xdo("click", "1")

    def clear_clipboard(self):
        # xclip stays behind to serve the selection: no pipes to wait on.
        subprocess.run(["xclip", "-selection", "clipboard", "-i", "/dev/null"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=10)

    def clipboard(self):
        need("xclip")
        return self.run("xclip", "-o", "-selection", "clipboard", check=False).stdout

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
