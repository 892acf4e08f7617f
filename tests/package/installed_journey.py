"""The installed program, started as an ordinary user on a private Xvfb
display: a memo saved through its editor lands in that user's home, and
nothing is written beside the program.

usage: installed_journey.py EXECUTABLE HOME USER GROUP TEXT
HOME belongs to USER; XDG_CONFIG_HOME and XDG_DATA_HOME are left unset, so
the defaults under HOME are what the program must use. Prints the day saved
(days since 1899-12-30) on success."""
import datetime
import os
import sqlite3
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402


def snapshot(*dirs):
    """Every path below dirs with its size and modification time."""
    seen = {}
    for d in dirs:
        for top, subdirs, names in os.walk(d):
            for name in subdirs + names:
                path = os.path.join(top, name)
                st = os.lstat(path)
                seen[path] = (st.st_size, st.st_mtime_ns)
    return seen


class InstalledProgram(harness.Program):
    """The harness's program, but the installed executable run as USER with
    the home given, instead of a private copy run as the caller."""

    def __init__(self, desktop, executable, home, user, group):
        self.desktop = desktop
        self.executable_path = executable
        self.home = home
        self.user, self.group = user, group
        self.root = self.dir = home  # the log goes here too
        runtime_dir = os.path.join(home, ".run")
        os.makedirs(runtime_dir, mode=0o700, exist_ok=True)
        self.env = dict(desktop.env, HOME=home, USER=user, LOGNAME=user,
                        XDG_RUNTIME_DIR=runtime_dir, LANG="C.UTF-8",
                        DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent",
                        # Refuses at once, so nothing is autolaunched on the display.
                        DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
        for name in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME",
                     "http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                     "ALL_PROXY"):
            self.env.pop(name, None)
        # The journey runs on the real date: from November the program would
        # ask about next year's 休/班 schedule before the editor can open.
        config = os.path.join(home, ".config/tamsivo")
        os.makedirs(config, mode=0o700, exist_ok=True)
        with open(os.path.join(config, "Start.ini"), "wb") as f:
            f.write("[节假日]\r\n不再询问=1\r\n".encode("gbk"))
        subprocess.run(["chown", "-R", "%s:%s" % (user, group), home], check=True)
        self.proc = None

    @property
    def executable(self):
        return self.executable_path

    def launch(self, wrap=None):
        harness.need("setpriv")
        cmd = ["setpriv", "--reuid=" + self.user, "--regid=" + self.group, "--clear-groups",
               "--bounding-set", "-sys_time", self.executable]
        self.log = open(os.path.join(self.root, "tamsivo.log"), "ab")
        self.proc = subprocess.Popen(cmd, env=self.env, cwd=self.home, stdout=self.log,
                                     stderr=self.log)
        return self.proc

    @property
    def store(self):
        return os.path.join(self.home, ".local/share/tamsivo/事件数据.edb")

    def memos(self):
        assert os.path.exists(self.store), "no memo store at " + self.store
        db = sqlite3.connect("file:%s?mode=ro" % self.store, uri=True)
        try:
            rows = db.execute('SELECT "日期", "事情" FROM records').fetchall()
        finally:
            db.close()
        return {day: (text.decode("utf-8") if isinstance(text, bytes) else text)
                for day, text in rows}

    def cleanup(self):
        """Ends the program; the home stays for the caller's checks."""
        try:
            self.terminate()
        except AssertionError as e:
            print("cleanup: %s (killed)" % e)
        harness._problems.extend(self.log_problems())


def main():
    harness.need("wmctrl", "xclip", "setpriv")
    executable, home, user, group, text = sys.argv[1:6]
    program_dirs = [os.path.dirname(os.path.realpath(executable))]
    share = os.path.join(os.path.dirname(os.path.dirname(program_dirs[0])), "share/tamsivo")
    if os.path.isdir(share):
        program_dirs.append(share)
    before = snapshot(*program_dirs)

    desktop = harness.Desktop(wm=True)
    prog = InstalledProgram(desktop, executable, home, user, group)
    try:
        main_wid = prog.start()
        with open("/proc/%d/status" % prog.proc.pid) as f:
            uid = [line.split()[1] for line in f if line.startswith("Uid:")][0]
        assert int(uid) != 0, "the program runs as root"
        time.sleep(1.0)
        cx, cy, cw, ch = harness.selected_cell(desktop, main_wid)
        today = datetime.date.today()
        editor = harness.open_editor(desktop, main_wid, (cx + cw // 2, cy + ch // 2))
        harness.type_text(desktop, editor, text)
        harness.close_window(desktop, editor)
        harness.wait_for(lambda: desktop.gone(harness.EDITOR), 10, "the editor to close")
        day = float(harness.days_since_1899(today))
        memos = prog.memos()
        assert memos.get(day) == text, memos
        settings = os.path.join(home, ".config/tamsivo/Start.ini")
        assert os.path.exists(settings), "no settings at " + settings
        print("saved through the editor: %r for %s" % (text, today), file=sys.stderr)
        assert prog.terminate() == 0
    except BaseException:
        desktop.screenshot(os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                        "tamsivo-package-failure.png"))
        raise
    finally:
        prog.cleanup()
        desktop.close()
    harness.check_logs()
    after = snapshot(*program_dirs)
    changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
    assert not changed, "written beside the program: %s" % changed
    print(int(day))


if __name__ == "__main__":
    main()
