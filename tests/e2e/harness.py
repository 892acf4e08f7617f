"""Drives the real tamsivo binary on a private Xvfb display, the way a user would.

Everything happens in a temporary directory; only processes started here are
ended, by their PID.
"""
import os
import shutil
import signal
import sqlite3
import subprocess
import tempfile
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
        self.display = None
        for n in range(140, 240):
            if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists(
                    "/tmp/.X11-unix/X%d" % n):
                self.display = ":%d" % n
                break
        if self.display is None:
            raise AssertionError("no free display number")
        xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", size + "x24", "-nolisten",
                                 "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(xvfb)
        wait_for(lambda: os.path.exists("/tmp/.X11-unix/X" + self.display[1:]), 10, "Xvfb")
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.pop("QT_QPA_PLATFORM", None)
        if wm:
            need("openbox")
            ob = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
            self.procs.append(ob)
            time.sleep(0.5)

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

    def click(self, x, y, double=False):
        self.xdo("mousemove", "--sync", str(x), str(y))
        time.sleep(0.1)
        if double:
            self.xdo("click", "--repeat", "2", "--delay", "80", "1")
        else:
            self.xdo("click", "1")

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


class Program:
    """A copy of tamsivo and its runtime in a temporary program directory."""

    def __init__(self, desktop, bin_dir, start_ini=None):
        self.desktop = desktop
        self.root = tempfile.mkdtemp(prefix="tamsivo-e2e-")
        self.dir = os.path.join(self.root, "prog")
        os.makedirs(self.dir)
        for name in ("tamsivo", "tesmo.qrr"):
            shutil.copy2(os.path.join(bin_dir, name), self.dir)
        if start_ini is not None:
            with open(os.path.join(self.dir, "Start.ini"), "wb") as f:
                f.write(start_ini.encode("gbk"))
        home = os.path.join(self.root, "home")
        runtime_dir = os.path.join(self.root, "run")
        os.makedirs(home)
        os.makedirs(runtime_dir, mode=0o700)
        self.env = dict(desktop.env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        XDG_DATA_HOME=os.path.join(home, ".local/share"),
                        XDG_RUNTIME_DIR=runtime_dir, LANG="C.UTF-8")
        self.proc = None

    def start(self):
        cmd = [os.path.join(self.dir, "tamsivo")]
        # The program must never set this machine's clock.
        if shutil.which("setpriv"):
            cmd = ["setpriv", "--bounding-set", "-sys_time"] + cmd
        self.log = open(os.path.join(self.root, "tamsivo.log"), "ab")
        self.proc = subprocess.Popen(cmd, env=self.env, cwd=self.root, stdout=self.log,
                                     stderr=self.log)
        return self.desktop.find_window("^Tamsivo [0-9]")

    def terminate(self):
        """SIGTERM, which the program treats as its close box."""
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                return self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise AssertionError("tamsivo did not end on SIGTERM")
        return self.proc.returncode if self.proc else None

    def settings(self):
        with open(os.path.join(self.dir, "Start.ini"), "rb") as f:
            return f.read().decode("gbk")

    def memos(self):
        """{date as days: text} read straight from the store."""
        db = sqlite3.connect("file:" + os.path.join(self.dir, "事件数据.edb") + "?mode=ro",
                             uri=True)
        try:
            rows = db.execute('SELECT "日期", "事情" FROM records ORDER BY id').fetchall()
        finally:
            db.close()
        return {day: (text.decode("utf-8") if isinstance(text, bytes) else text)
                for day, text in rows}

    def cleanup(self):
        self.terminate()
        shutil.rmtree(self.root, ignore_errors=True)


def days_since_1899(date):
    import datetime
    return (date - datetime.date(1899, 12, 30)).days


def selected_cell(desktop, wid):
    """The calendar's highlighted (selected) day cell as (x, y, w, h)."""
    x, y, w, h = desktop.geometry(wid)
    # Skip the month bar, which shares the highlight colour.
    top = y + 40
    px = desktop.pixels(x, top, w, h - 40)
    hits = [p for p, c in px.items() if abs(c[0] - 0x30) < 12 and abs(c[1] - 0x8c) < 12
            and abs(c[2] - 0xc6) < 12]
    if not hits:
        raise AssertionError("no selected day cell found")
    xs = [p[0] for p in hits]
    ys = [p[1] for p in hits]
    return min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1
