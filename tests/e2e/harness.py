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
            need("openbox")
            ob = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
            self.procs.append(ob)
            need("xprop")
            wait_for(lambda: "window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK",
                                                     check=False).stdout, 10, "openbox")

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
                        XDG_RUNTIME_DIR=runtime_dir, LANG="C.UTF-8",
                        # No system bus: nothing can ask a clock service either.
                        DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent")
        for name in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                     "ALL_PROXY", "DBUS_SESSION_BUS_ADDRESS"):
            self.env.pop(name, None)
        self.proc = None

    @property
    def executable(self):
        return os.path.join(self.dir, "tamsivo")

    def launch(self, wrap=None):
        """Starts the program (through wrap(cmd) when given) without waiting
        for any window."""
        need("setpriv")
        # The program must never set this machine's clock.
        cmd = ["setpriv", "--bounding-set", "-sys_time", self.executable]
        if wrap:
            cmd = wrap(cmd)
        self.log = open(os.path.join(self.root, "tamsivo.log"), "ab")
        self.proc = subprocess.Popen(cmd, env=self.env, cwd=self.root, stdout=self.log,
                                     stderr=self.log)
        return self.proc

    def start(self, wrap=None):
        """Starts the program and returns the MainWindow's id once it is
        mapped."""
        self.launch(wrap)
        wid = self.find_window("^Tamsivo [0-9]", 30)
        self.check_no_clock_right()
        return wid

    def kill(self):
        """SIGKILL: no clean-up of any kind, as a crash or a power cut."""
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def message_text(self, timeout=15.0):
        """The text of the program's open message box (copied with Ctrl+C)."""
        box = self.find_window("^Tamsivo$", timeout)
        self.desktop.activate(box)
        self.desktop.clear_clipboard()
        self.desktop.xdo("key", "ctrl+c")
        return box, wait_for(lambda: self.desktop.clipboard() or None, 10,
                             "the message on the clipboard")

    def answer(self, box, key):
        """Presses `key` in a message box and waits for it to go."""
        self.desktop.activate(box)
        self.desktop.xdo("key", key)
        # The next message may come up at once under the same title: wait
        # for this very window to go.
        wait_for(lambda: box not in self.desktop.xdo("search", "--all", "--onlyvisible", "--pid",
                                                     str(self.proc.pid), "--name", "^Tamsivo$",
                                                     check=False).split()
                 or self.proc.poll() is not None, 10, "the message box to close")

    def find_window(self, name_regex, timeout=15.0):
        """A mapped window of this program (not of another one on the same
        display) whose title matches."""
        def look():
            if self.proc.poll() is not None:
                raise AssertionError("tamsivo ended with status %d" % self.proc.returncode)
            out = self.desktop.xdo("search", "--all", "--onlyvisible", "--pid",
                                   str(self.proc.pid), "--name", name_regex, check=False)
            return out.split()[0] if out else None
        return wait_for(look, timeout, "window " + name_regex)

    def check_no_clock_right(self):
        """The running program holds no right to set the clock (CAP_SYS_TIME)."""
        with open("/proc/%d/status" % self.proc.pid) as f:
            caps = dict(line.split(":", 1) for line in f if line.startswith("Cap"))
        exe = os.readlink("/proc/%d/exe" % self.proc.pid)
        assert os.path.basename(exe) == "tamsivo", "the started process is " + exe
        for key in ("CapEff", "CapPrm", "CapBnd", "CapAmb"):
            assert not int(caps[key], 16) & (1 << 25), key + " holds CAP_SYS_TIME"

    def windows(self):
        """Mapped windows of the running program."""
        out = self.desktop.xdo("search", "--onlyvisible", "--pid", str(self.proc.pid),
                               check=False)
        return out.split()

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

    def settings_bytes(self):
        with open(os.path.join(self.dir, "Start.ini"), "rb") as f:
            return f.read()

    def setting(self, section, key):
        """One item of Start.ini as text, None when missing."""
        current = None
        for line in self.settings().split("\r\n"):
            if line.startswith("[") and line.endswith("]"):
                current = line[1:-1]
            elif current == section and line.partition("=")[0] == key:
                return line.partition("=")[2]
        return None

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
        """Never raises, so the display is always shut down after it."""
        try:
            self.terminate()
        except AssertionError as e:
            print("cleanup: %s (killed)" % e)
        shutil.rmtree(self.root, ignore_errors=True)


EDITOR = "^[0-9]+年[0-9]+月[0-9]+日 备忘录$"


def type_text(desktop, wid, text):
    """Types text into a focused edit box of window wid, checked by reading
    it back (xdotool can drop a character it types by remapping a key)."""
    x, y, w, h = desktop.geometry(wid)
    desktop.click(x + w // 2, y + h // 2)
    for _ in range(4):
        desktop.xdo("key", "ctrl+a")
        desktop.xdo("type", "--delay", "60", text)
        time.sleep(0.3)
        if box_text(desktop, wid) == text:
            return
    raise AssertionError("could not type %r" % text)


def box_text(desktop, wid):
    """The text of the edit box of window wid, through the clipboard."""
    desktop.activate(wid)
    desktop.xdo("key", "ctrl+a")
    desktop.xdo("key", "ctrl+c")
    time.sleep(0.2)
    text = desktop.clipboard()
    desktop.xdo("key", "End")
    return text


def open_editor(desktop, main_wid, cell):
    """Double-clicks a calendar cell (x, y) and returns the editor window."""
    desktop.activate(main_wid)
    desktop.click(cell[0], cell[1], double=True)
    return desktop.find_window(EDITOR, 10)


def close_window(desktop, wid):
    """The window manager's close, as the close box does."""
    desktop.run("wmctrl", "-i", "-c", hex(int(wid)))


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


# The pop-up menu's items that take the keyboard, in order (rules skipped).
MENU_ITEMS = ["回到今天", "嵌入桌面", "Tamsivo 隐藏", "今天备忘录 隐藏", "矫正系统系统时间",
              "开机启动本程序", "选项", "查看新版本", "关于本程序", "退出"]
DEFAULT_SETTINGS = ("[主窗口]\r\n左边=117\r\n顶边=184\r\n托盘=0\r\n隐藏=0\r\n开机启动=0\r\n"
                    "记录后回到今天=0\r\n[今天备忘录窗口]\r\n模式=5\r\n左边=0\r\n顶边=0\r\n"
                    "透明度=180\r\n鼠标穿透=0\r\n嵌入桌面=0\r\n隐藏=0\r\n记录方式=2")


def popup_menu(desktop, prog):
    """The program's open pop-up menu window (mapped, a child of the root
    window placed by the program itself rather than the window manager; the
    tray icon is the tray host's child), or None."""
    for wid in prog.windows():
        out = desktop.run("xwininfo", "-id", wid, check=False).stdout
        tree = desktop.run("xwininfo", "-tree", "-id", wid, check=False).stdout
        if ("Override Redirect State: yes" in out and "IsViewable" in out
                and "(the root window)" in tree.split("Parent window id:")[1].split("\n")[0]):
            return wid
    return None


def open_menu(desktop, prog, main_wid):
    """Opens the menu with MainWindow's image button; returns the menu window."""
    desktop.activate(main_wid)
    x, y, _, _ = desktop.geometry(main_wid)
    desktop.click(x + 6 + 8, y + 6 + 8)
    return wait_for(lambda: popup_menu(desktop, prog), 10, "the menu to open")


def choose(desktop, prog, item):
    """Picks an item of the open menu with the keyboard and waits for the menu
    to close."""
    downs = MENU_ITEMS.index(item) + 1
    desktop.xdo("key", "--delay", "40", *(["Down"] * downs))
    desktop.xdo("key", "Return")
    wait_for(lambda: popup_menu(desktop, prog) is None, 10, "the menu to close")


def menu_command(desktop, prog, main_wid, item):
    open_menu(desktop, prog, main_wid)
    choose(desktop, prog, item)


def run_journeys(journeys, desktop, shot_name):
    """Runs (name, callable) pairs in order, each timed; a failure is reported
    (with a screenshot) and the rest still run. Exits 1 if any failed."""
    import traceback
    failed = []
    for name, journey in journeys:
        t0 = time.time()
        try:
            journey()
            print("PASS %s (%.1f s)" % (name, time.time() - t0), flush=True)
        except Exception:
            failed.append(name)
            print("FAIL %s (%.1f s)" % (name, time.time() - t0), flush=True)
            traceback.print_exc()
            shot = os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                "%s-%d.png" % (shot_name, len(failed)))
            try:
                desktop.screenshot(shot)
                print("screenshot: " + shot)
            except Exception:
                pass
    if failed:
        print("failed: " + ", ".join(failed))
        raise SystemExit(1)
