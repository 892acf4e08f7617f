"""Drives the real tamsivo binary on a private Xvfb display, the way a user would.

Everything happens in a temporary directory; only processes started here are
ended, by their PID. The program's standard error is read when it ends: a Qt
warning or a sanitizer report fails the journey."""
import datetime
import os
import shutil
import signal
import sqlite3
import subprocess
import tempfile
import re
import time

from desktop import SKIP, Desktop, need, wait_for  # noqa: F401

# Lines of the program's standard error that mean something went wrong even
# when every check passed: the toolkit's warnings and sanitizer reports. The
# program's own notes start with "tamsivo:".
PROBLEM = re.compile(r"^(qt\.|Q[A-Za-z]+::|QObject|QWidget|QPainter|QLayout|Warning:|WARNING:)"
                     r"|AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:")
# Problems found in the logs of programs that have ended, not yet reported.
_problems = []
# What each program of the running journey wrote and how it ended, shown
# when the journey fails.
_journey_logs = []


def take_problems():
    """The stderr problems collected so far (and forgets them)."""
    found = list(_problems)
    _problems.clear()
    return found


def check_logs():
    """Raises when an ended program's standard error showed a problem."""
    found = take_problems()
    if found:
        raise AssertionError("the program's standard error:\n" + "\n".join(found))


class Program:
    """A copy of tamsivo and its runtime in a temporary program directory."""

    def __init__(self, desktop, bin_dir, start_ini=None, session_bus=None, holiday_offer=False):
        """session_bus: the address of a private D-Bus session bus to hand to
        the program, with accessibility on (for AT-SPI readers); without it
        the program gets no session bus at all. holiday_offer: let the
        program offer to download a missing 休/班 schedule (it does on the
        real date from November); otherwise a given Start.ini says 不再询问
        and without one the copied holidays/ folder has a file for each year
        it would offer, so no journey meets a question it did not expect."""
        self.desktop = desktop
        self.root = tempfile.mkdtemp(prefix="tamsivo-e2e-")
        self.dir = os.path.join(self.root, "prog")
        os.makedirs(self.dir)
        for name in ("tamsivo", "tesmo.qrr"):
            shutil.copy2(os.path.join(bin_dir, name), self.dir)
        # The official days off and working days (休/班) are read from here.
        holidays = os.path.join(bin_dir, "holidays")
        if os.path.isdir(holidays):
            shutil.copytree(holidays, os.path.join(self.dir, "holidays"))
        if start_ini is not None and not holiday_offer:
            start_ini += "\r\n[节假日]\r\n不再询问=1"
        elif not holiday_offer:
            today = datetime.date.today()
            os.makedirs(os.path.join(self.dir, "holidays"), exist_ok=True)
            for year in (today.year, today.year + 1):
                path = os.path.join(self.dir, "holidays", "%d.txt" % year)
                if not os.path.exists(path):
                    with open(path, "w", encoding="utf-8") as f:
                        f.write("# 测试用：这一年没有安排\n")
        self.initial_settings = None
        if start_ini is not None:
            self.initial_settings = start_ini.encode("gbk")
            with open(os.path.join(self.dir, "Start.ini"), "wb") as f:
                f.write(self.initial_settings)
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
                     "ALL_PROXY"):
            self.env.pop(name, None)
        if session_bus:
            self.env.update(DBUS_SESSION_BUS_ADDRESS=session_bus,
                            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        else:
            # An address that refuses at once. Without any, D-Bus autolaunches
            # a session bus on the display that outlives a killed program and
            # stalls the next start on the same display.
            self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent"
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
                return self.proc.wait(30)
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

    def log_problems(self):
        """Offending lines of the program's standard error so far."""
        path = os.path.join(self.root, "tamsivo.log")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            lines = f.read().decode("utf-8", "replace").splitlines()
        return [line for line in lines if PROBLEM.search(line)]

    def cleanup(self):
        """Never raises, so the display is always shut down after it; what the
        program's standard error showed is kept for check_logs()."""
        try:
            self.terminate()
        except AssertionError as e:
            print("cleanup: %s (killed)" % e)
        _problems.extend(self.log_problems())
        try:
            with open(os.path.join(self.root, "tamsivo.log"), "rb") as f:
                text = f.read().decode("utf-8", "replace")
        except OSError:
            text = ""
        _journey_logs.append((self.proc.returncode if self.proc else None, text[-4000:]))
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
        if box_text(desktop, wid) == text:
            return
    raise AssertionError("could not type %r" % text)


def box_text(desktop, wid):
    """The text of the edit box of window wid, through the clipboard."""
    desktop.activate(wid)
    desktop.clear_clipboard()
    desktop.xdo("key", "ctrl+a")
    desktop.xdo("key", "ctrl+c")
    # A loaded machine may take a while to hand the copy over; an empty box
    # copies nothing at all.
    try:
        text = wait_for(lambda: desktop.clipboard() or None, 5, "the box's text on the clipboard")
    except AssertionError:
        text = ""
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
MENU_ITEMS = ["回到今天", "查找备忘录…", "导出备忘录…", "导入备忘录…", "同步…", "纪念日…", "嵌入桌面", "Tamsivo 隐藏", "今天备忘录 隐藏", "矫正系统系统时间",
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
        del _journey_logs[:]
        try:
            journey()
            check_logs()
            print("PASS %s (%.1f s)" % (name, time.time() - t0), flush=True)
        except Exception:
            failed.append(name)
            print("FAIL %s (%.1f s)" % (name, time.time() - t0), flush=True)
            traceback.print_exc()
            for status, text in _journey_logs:
                print("--- the program ended with %s; its standard error:\n%s---" % (status, text))
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
