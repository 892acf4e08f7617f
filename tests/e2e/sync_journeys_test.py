"""CalDAV sync through the 同步 window of the real binary, the way a user and
a screen reader use it: radicale on 127.0.0.1 with a password, the window
filled in and read through AT-SPI, a second computer that is a second
program directory running `tamsivo --sync`. The journeys build on one
another: set up, a day changed on both computers, a wrong password, a
restart, a run stopped by the close box and by quitting. Checks of what the
Screenshots of the window go to $TAMSIVO_SHOTS, or to a new temporary
folder.

  sync_journeys_test.py PROGRAM_DIR MEMO_TOOL"""
import base64
import datetime
import http.server
import os
import re
import shutil
import signal
import socket
import sqlite3
import stat
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import uuid
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import a11y  # noqa: E402  (starts nothing on import)
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

USER = "anna"
# Not ASCII, so a copy of it is looked for in both encodings the program writes.
PASSWORD = "Zq7-同步-口令!"
WRONG = "not-the-password-9"
STORE = "事件数据.edb"
PASSWORD_FILE = "同步密码"
SEPARATOR = re.compile(r"^—— 另一处的版本（(\d{4})年(\d{1,2})月(\d{1,2})日(\d{1,2})时(\d{1,2})分）——$")
# A run ends on a small calendar in well under a second; this is for a
# loaded machine.
SYNC_DEADLINE = 60.0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Radicale:
    """radicale with one user and password, storage in root; ours to stop by
    its PID."""

    def __init__(self, root):
        self.root = root
        self.port = free_port()
        self.address = "http://127.0.0.1:%d/%s/" % (self.port, USER)
        users = os.path.join(root, "users")
        with open(users, "w", encoding="utf-8") as f:
            f.write("%s:%s\n" % (USER, PASSWORD))
        self.log = open(os.path.join(root, "radicale.log"), "ab")
        self.proc = subprocess.Popen(
            ["radicale", "--storage-filesystem-folder", os.path.join(root, "storage"),
             "--server-hosts", "127.0.0.1:%d" % self.port, "--auth-type", "htpasswd",
             "--auth-htpasswd-filename", users, "--auth-htpasswd-encryption", "plain"],
            stdout=self.log, stderr=self.log, env=dict(os.environ, HOME=root))

        def listening():
            if self.proc.poll() is not None:
                raise AssertionError("radicale ended with status %d" % self.proc.returncode)
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.5):
                    return True
            except OSError:
                return False
        wait_for(listening, 20, "radicale on port %d" % self.port)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()

    def journals(self, collection):
        """[(DTSTART, DESCRIPTION)] of every resource in the collection, read
        with a REPORT of our own."""
        body = ('<?xml version="1.0"?><c:calendar-query xmlns:d="DAV:" '
                'xmlns:c="urn:ietf:params:xml:ns:caldav"><d:prop><c:calendar-data/></d:prop>'
                '<c:filter><c:comp-filter name="VCALENDAR"/></c:filter></c:calendar-query>')
        # The program keeps the collection's whole address.
        url = collection if collection.startswith("http") else "http://127.0.0.1:%d%s" % (
            self.port, collection)
        assert url.startswith("http://127.0.0.1:%d/" % self.port), url
        req = urllib.request.Request(url, data=body.encode(), method="REPORT",
                                     headers={"Depth": "1", "Content-Type": "application/xml"})
        token = base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
        req.add_header("Authorization", "Basic " + token)
        # Straight to 127.0.0.1, whatever proxy the environment names.
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(req, timeout=10) as r:
            assert r.status == 207, r.status
            text = r.read().decode()
        out = []
        for data in ET.fromstring(text).iter("{urn:ietf:params:xml:ns:caldav}calendar-data"):
            props = {}
            unfolded = data.text.replace("\r\n", "\n").replace("\n ", "").replace("\n\t", "")
            for line in unfolded.split("\n"):
                head, _, value = line.partition(":")
                props[head.split(";")[0]] = value
            out.append((props.get("DTSTART"), props.get("DESCRIPTION", "")
                        .replace("\\n", "\n").replace("\\,", ",").replace("\\;", ";")
                        .replace("\\\\", "\\")))
        return sorted(out)


class SecondComputer:
    """A copy of the program in a directory of its own that only syncs from
    the command line, its memos written and read with the memo tool."""

    def __init__(self, root, bin_dir, tool, address):
        self.tool = tool
        self.dir = os.path.join(root, "home-computer")
        os.makedirs(self.dir)
        shutil.copy2(os.path.join(bin_dir, "tamsivo"), self.dir)
        self.store = os.path.join(self.dir, STORE)
        subprocess.run([tool, "create", self.store], check=True)
        with open(os.path.join(self.dir, "Start.ini"), "wb") as f:
            f.write(("[主窗口]\r\n托盘=0\r\n[节假日]\r\n不再询问=1\r\n[同步]\r\n地址=%s\r\n"
                     "用户名=%s\r\n开启=1\r\n" % (address, USER)).encode("gbk"))
        fd = os.open(os.path.join(self.dir, PASSWORD_FILE), os.O_WRONLY | os.O_CREAT | os.O_EXCL,
                     0o600)
        os.write(fd, (PASSWORD + "\n").encode())
        os.close(fd)
        self.home = os.path.join(root, "home-computer-home")
        os.makedirs(self.home)

    def put(self, day, text):
        path = os.path.join(self.home, "text-" + str(uuid.uuid4()))
        with open(path, "wb") as f:
            f.write(text.encode())
        subprocess.run([self.tool, "put", self.store, day, path], check=True)
        os.remove(path)

    def memos(self):
        out = subprocess.run([self.tool, "dump", self.store], check=True, capture_output=True,
                             text=True).stdout
        return {day: bytes.fromhex(hexed).decode()
                for day, hexed in (line.split("\t") for line in out.splitlines())}

    def sync(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
        env.update(HOME=self.home, XDG_RUNTIME_DIR=self.home, LANG="C.UTF-8",
                   DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
        p = subprocess.run([os.path.join(self.dir, "tamsivo"), "--sync"], env=env,
                           capture_output=True, text=True, timeout=120)
        assert p.returncode == 0, "--sync ended %d: %s %s" % (p.returncode, p.stdout, p.stderr)
        assert PASSWORD not in p.stdout + p.stderr
        return p.stdout.strip()


class World:
    """What the journeys share: the server, the program (this computer) and
    the second computer."""
    current = None

    def __init__(self, bus, desktop, bin_dir, tool, shots):
        self.bus, self.desktop, self.shots = bus, desktop, shots
        self.root = tempfile.mkdtemp(prefix="tamsivo-sync-e2e-")
        self.server = Radicale(self.root)
        self.other = SecondComputer(self.root, bin_dir, tool, self.server.address)
        self.prog = harness.Program(desktop, bin_dir, start_ini=harness.DEFAULT_SETTINGS,
                                    session_bus=bus.address)
        self.today = datetime.date.today()
        self.day = self.today.isoformat()
        self.day_number = float(harness.days_since_1899(self.today))
        self.app = self.main = None

    def close(self):
        self.prog.cleanup()
        self.server.stop()
        shutil.rmtree(self.root, ignore_errors=True)


def world():
    if World.current is None:
        raise AssertionError("needs the set-up journey, which did not get that far")
    return World.current


# The window --------------------------------------------------------------

def window_shot(w, name):
    """The window 同步 with its frame, as docs/images shows windows."""
    wid = w.prog.find_window("^同步$")
    x, y, width, height = w.desktop.frame_geometry(wid)
    path = os.path.join(w.shots, name + ".png")
    w.desktop.run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                  "+repage", path)
    w.desktop.screenshot(os.path.join(w.shots, name + "-screen.png"))
    return path


def open_sync_window(w):
    """Opens 同步… from the calendar's pop-up menu."""
    harness.menu_command(w.desktop, w.prog, w.main, "同步…")
    return a11y.window(w.app, "同步")


def close_sync_window(w):
    wid = w.prog.find_window("^同步$")
    w.desktop.activate(wid)
    w.desktop.xdo("key", "Escape")
    wait_for(lambda: wid not in w.prog.windows(), 10, "the sync window to close")


def status(win):
    return a11y.text_of(a11y.wait_find(win, "text", "同步状态"))


def set_field(win, name, text):
    """Fills a box of the window through AT-SPI, as an on-screen keyboard
    or a screen reader's typing does."""
    box = a11y.wait_find(win, predicate=lambda n: n.name == name and n.getRoleName() in (
        "text", "password text"))
    box.queryEditableText().setTextContents(text)
    if box.getRoleName() == "text":
        wait_for(lambda: a11y.text_of(box) == text, 10, "%s to read %r" % (name, text))
    return box


def answer_password_question(win):
    """Where no keyring takes the password the program asks whether to keep
    it in the file only the user can read: 是."""
    for top in a11y.children(World.current.app):
        try:
            if top.name != "同步" or not a11y.has_state(top, "showing"):
                continue
            if any("密钥环" in (n.name or "") + (n.description or "")
                   for n in a11y.find_all(top)):
                a11y.do_action(a11y.wait_find(top, "push button", "是"), "Press")
                # A press is released 100 ms later, and another press
                # meanwhile holds it down: wait for the box to go.
                wait_for(lambda: not a11y.has_state(top, "showing"), 10, "the question to close")
                return True
        except Exception:
            continue
    return False


def sync_now(win, want, what):
    """Presses 立即同步 (once it can be pressed: a sync of the program's own
    may be under way) and waits for the status to satisfy want; returns it.
    A status that already does, from a sync the program ran by itself, is
    taken as it is: want must not hold for the status before the press.
    The status is polled, so a run too quick to be seen running is still
    told by what it leaves."""
    seen = []
    pressed = 0
    end = time.time() + SYNC_DEADLINE
    while time.time() < end:
        text = status(win)
        if not seen or seen[-1] != text:
            seen.append(text)
        if answer_password_question(win):
            continue
        if want(text):
            return text
        button = a11y.wait_find(win, "push button", "立即同步")
        # The store is still being checked just after a start: asked again.
        again = "还在检查中" in text
        if a11y.has_state(button, "enabled") and (pressed == 0 or again) and pressed < 50:
            a11y.do_action(button, "Press")
            pressed += 1
            if again:
                time.sleep(0.3)
        time.sleep(0.1)
    raise AssertionError("%s: the status went %r" % (what, seen))


def spoken_texts(win):
    """Every name, description and text a screen reader can get from the
    window."""
    out = []
    for n in a11y.find_all(win):
        out += [n.name or "", n.description or ""]
        try:
            out.append(a11y.text_of(n))
        except Exception:
            pass
    return out


def today_box(w):
    return a11y.wait_find(a11y.window(w.app, "今天备忘录"), "text", "今天备忘录")


def today_cell(w):
    x, y, cw, ch = wait_for(lambda: drawn_selection(w), 20, "the calendar drawn")
    return x + cw // 2, y + ch // 2


def drawn_selection(w):
    try:
        return harness.selected_cell(w.desktop, w.main)
    except AssertionError:
        return None


# Where the password may be -----------------------------------------------

def password_copies(root, secret, allowed):
    """Files below root (but allowed) that hold secret in any encoding the
    program writes, the program's own binaries aside."""
    forms = [secret.encode("utf-8"), secret.encode("gbk"), secret.encode("utf-16-le")]
    found = []
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            if path == allowed or name in ("tamsivo", "tesmo.qrr") or os.path.islink(path):
                continue
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError:
                continue
            if any(form in data for form in forms):
                found.append(path)
    return found


def check_password_kept(w, said):
    """The password is where the status says it went, and nowhere else."""
    path = os.path.join(w.prog.dir, PASSWORD_FILE)
    if "密钥环" in said:
        assert not os.path.exists(path), "stored in the keyring, yet " + path + " exists"
        allowed = None
    else:
        assert "“%s”" % PASSWORD_FILE in said, said
        mode = stat.S_IMODE(os.stat(path).st_mode)
        assert mode == 0o600, "%s has mode %o" % (path, mode)
        assert os.stat(path).st_uid == os.getuid()
        with open(path, "rb") as f:
            kept = f.read().decode().split("\n")
        # The password, then the server and user it is for.
        assert kept[0] == PASSWORD, "the file holds another password"
        assert kept[1:] == ["# 地址=" + w.server.address, "# 用户名=" + USER, ""], kept
        allowed = path
    assert PASSWORD not in w.prog.settings()
    # Start.ini, the log (standard error), the store and its backups, drafts,
    # the home folder, the server's own folder left aside.
    copies = password_copies(w.prog.root, PASSWORD, allowed)
    assert not copies, "the password is also in " + ", ".join(copies)


# 1. Set up through the window ---------------------------------------------

MEMO = "下午三点开会, 带上报告; 还有 PPT"


def setup_journey(bus, desktop, bin_dir, tool, shots):
    w = World(bus, desktop, bin_dir, tool, shots)
    World.current = w
    prog = w.prog
    # A first start makes the store; the day's memo is written beside it.
    prog.start()
    assert prog.terminate() == 0
    db = sqlite3.connect(os.path.join(prog.dir, STORE))
    db.execute('INSERT INTO records("日期", "事情") VALUES(?, ?)', (w.day_number, MEMO.encode()))
    db.commit()
    db.close()
    # The real date offers next year's 休/班 file in December unless told not to.
    assert prog.setting("节假日", "不再询问") == "1", prog.settings()

    w.main = prog.start()
    w.app = bus.app(prog.proc.pid)
    wait_for(lambda: a11y.text_of(today_box(w)) == MEMO, 15, "the today box to show the memo")

    win = open_sync_window(w)
    address = a11y.wait_find(win, "text", "CalDAV 服务器或日历的地址")
    wait_for(lambda: a11y.has_state(address, "focused"), 10, "the address box focused")
    first = status(win)
    assert first and not first.startswith("同步失败"), first
    window_shot(w, "sync-empty")

    set_field(win, "CalDAV 服务器或日历的地址", w.server.address)
    set_field(win, "用户名", USER)
    password_box = set_field(win, "密码", PASSWORD)
    # A screen reader may not read the password out.
    assert PASSWORD not in a11y.text_of(password_box), a11y.text_of(password_box)
    window_shot(w, "sync-filled")

    # Where no keyring takes it, the program asks where the password goes
    # (answered 是 by sync_now): the line says where it went.
    said = sync_now(win, lambda s: s.startswith("已同步") and "密码已存入" in s, "the first sync")
    print("status: %r" % said)
    assert "上传 1 天" in said, said
    assert PASSWORD not in said
    wait_for(lambda: not a11y.text_of(password_box), 5, "the password box emptied")
    assert PASSWORD not in "\n".join(spoken_texts(win))
    window_shot(w, "sync-window")
    check_password_kept(w, said)
    assert prog.setting("同步", "地址") == w.server.address
    assert prog.setting("同步", "用户名") == USER
    assert prog.setting("同步", "开启") == "1"

    # The server holds the day, read with a REPORT of our own.
    collection = sync_state(prog, "collection")
    assert w.server.journals(collection) == [(w.today.strftime("%Y%m%d"), MEMO)], \
        w.server.journals(collection)
    # ... and the second computer gets it.
    said_there = w.other.sync()
    assert "下载 1 天" in said_there, said_there
    assert w.other.memos() == {w.day: MEMO}, w.other.memos()

    # Pressed again with the password box empty: the stored one is used,
    # and nothing new is nothing sent.
    said = sync_now(win, lambda s: s.startswith("已同步") and "密码已存入" not in s,
                    "a sync with the stored password")
    assert "上传 0 天，下载 0 天，冲突 0 天" in said, said
    check_password_kept(w, "“%s”" % PASSWORD_FILE if os.path.exists(
        os.path.join(prog.dir, PASSWORD_FILE)) else "密钥环")


def sync_state(prog, key):
    db = sqlite3.connect("file:" + os.path.join(prog.dir, STORE) + "?mode=ro", uri=True)
    try:
        row = db.execute("SELECT value FROM sync_state WHERE key = ?", (key,)).fetchone()
    finally:
        db.close()
    assert row, "no %s in sync_state" % key
    return row[0]


# 2. A day changed on both computers ---------------------------------------

HERE = "办公室改的：会议改到四点，带投影仪"
THERE = "家里改的：记得买牛奶"


def type_into(desktop, node, text):
    """Types into the focused box as a user does, checked by reading it back
    through AT-SPI (xdotool can drop a character it types by remapping a
    key)."""
    for _ in range(4):
        desktop.xdo("key", "ctrl+a")
        desktop.xdo("type", "--delay", "60", text)
        try:
            wait_for(lambda: a11y.text_of(node) == text, 3, "the typed text")
            return
        except AssertionError:
            print("typed %r, the box holds %r: again" % (text, a11y.text_of(node)))
    raise AssertionError("could not type %r (box holds %r)" % (text, a11y.text_of(node)))


def edit_today(w, text=None):
    """Opens today's editor by a double click; types text when given, else
    only reads it; closes it with Escape. Returns what the editor showed
    when it opened."""
    title = "%d年%d月%d日 备忘录" % (w.today.year, w.today.month, w.today.day)
    editor_wid = harness.open_editor(w.desktop, w.main, today_cell(w))
    editor = a11y.window(w.app, title)
    memo = a11y.wait_find(editor, "text", "备忘录")
    wait_for(lambda: a11y.has_state(memo, "focused"), 10, "the memo focused")
    shown = a11y.text_of(memo)
    if text is not None:
        type_into(w.desktop, memo, text)
    w.desktop.xdo("key", "Escape")
    wait_for(lambda: editor_wid not in w.prog.windows(), 10, "the editor to close")
    return shown


def conflict_journey():
    w = world()
    prog = w.prog
    # The second computer changes the day and sends it.
    w.other.put(w.day, THERE)
    said_there = w.other.sync()
    assert "上传 1 天" in said_there, said_there

    # Here the user changes the same day in the editor; the sync window sits
    # over the calendar, so it is closed first.
    close_sync_window(w)
    assert edit_today(w, HERE) == MEMO
    assert prog.memos()[w.day_number] == HERE, prog.memos()

    win = open_sync_window(w)
    said = sync_now(win, lambda s: s.startswith("已同步") and "冲突 1 天" in s,
                    "the sync that meets the conflict")
    print("status: %r" % said)

    joined = prog.memos()[w.day_number]
    lines = joined.split("\n")
    assert lines[0] == HERE and lines[-1] == THERE and len(lines) == 3, joined
    when = SEPARATOR.match(lines[1])
    assert when, joined
    # The server copy's time, local: just now.
    stamp = datetime.datetime(*(int(g) for g in when.groups()))
    assert abs((datetime.datetime.now() - stamp).total_seconds()) < 600, joined
    wait_for(lambda: a11y.text_of(today_box(w)) == joined, 15,
             "the today box to show both texts: %r" % a11y.text_of(today_box(w)))
    window_shot(w, "sync-conflict")

    close_sync_window(w)
    w.desktop.screenshot(os.path.join(w.shots, "sync-conflict-today.png"))
    assert edit_today(w) == joined
    assert prog.memos()[w.day_number] == joined

    # The server and the second computer end with the same joined text.
    collection = sync_state(prog, "collection")
    assert w.server.journals(collection) == [(w.today.strftime("%Y%m%d"), joined)], \
        w.server.journals(collection)
    said_there = w.other.sync()
    assert "下载 1 天" in said_there, said_there
    assert w.other.memos() == {w.day: joined}, w.other.memos()

    # Settled: the next run here has nothing to do.
    win = open_sync_window(w)
    said = sync_now(win, lambda s: s.startswith("已同步") and "冲突 1 天" not in s,
                    "the sync after the conflict")
    assert "上传 0 天，下载 0 天，冲突 0 天" in said, said
    assert prog.memos()[w.day_number] == joined


# 3. A wrong password -------------------------------------------------------

def sync_tables(prog):
    db = sqlite3.connect("file:" + os.path.join(prog.dir, STORE) + "?mode=ro", uri=True)
    try:
        # The last run's result line is kept whatever the run did.
        return {table: db.execute("SELECT * FROM %s WHERE %s ORDER BY 1" % (
                    table, "key != 'last_run'" if table == "sync_state" else "1")).fetchall()
                for table in ("sync_days", "sync_remote", "sync_pending", "sync_state")}
    finally:
        db.close()


def wrong_password_journey():
    w = world()
    prog = w.prog
    # Something waits on the server, so a sync that got in would change this
    # computer.
    later = (w.today + datetime.timedelta(days=1)).isoformat()
    w.other.put(later, "明天：家里写的")
    assert "上传 1 天" in w.other.sync()
    memos = prog.memos()
    tables = sync_tables(prog)

    win = a11y.window(w.app, "同步")
    set_field(win, "密码", WRONG)
    said = sync_now(win, lambda s: s.startswith("同步失败"), "the sync with a wrong password")
    print("status: %r" % said)
    assert "用户名或密码不对" in said, said
    assert WRONG not in said and PASSWORD not in said
    window_shot(w, "sync-wrong-password")
    assert prog.memos() == memos, prog.memos()
    assert sync_tables(prog) == tables
    path = os.path.join(prog.dir, PASSWORD_FILE)
    if os.path.exists(path):
        assert stat.S_IMODE(os.stat(path).st_mode) == 0o600
    for secret in (WRONG, PASSWORD):
        copies = password_copies(prog.root, secret, path)
        assert not copies, "a password is also in " + ", ".join(copies)

    # The right one typed again: the day waiting there arrives.
    set_field(win, "密码", PASSWORD)
    said = sync_now(win, lambda s: s.startswith("已同步"), "the sync with the right password")
    assert "下载 1 天" in said, said
    check_password_kept(w, said)
    later_number = float(harness.days_since_1899(w.today + datetime.timedelta(days=1)))
    assert prog.memos()[later_number] == "明天：家里写的", prog.memos()


# 4. After a restart ---------------------------------------------------------

def asked_copy_journey():
    """tamsivo --sync while the program runs on the same memos: the running
    copy syncs (its windows show what came) and the command prints its
    result."""
    w = world()
    prog = w.prog
    w.other.put(w.day, "命令行叫醒的")
    assert "上传 1 天" in w.other.sync()
    out = subprocess.run([prog.executable, "--sync"], env=prog.env, capture_output=True,
                         text=True, timeout=200)
    assert out.returncode == 0, (out.returncode, out.stdout, out.stderr)
    assert out.stdout.startswith("正在运行的 Tamsivo 已同步 "), out.stdout
    assert "下载 1 天" in out.stdout, out.stdout
    wait_for(lambda: a11y.text_of(today_box(w)) == "命令行叫醒的", 15,
             "the today box to show what came")
    assert prog.proc.poll() is None, "the running copy ended"


def restart_journey():
    """Sync stays set up: the window opens filled in, the password box
    empty, and a sync needs nothing typed."""
    w = world()
    prog = w.prog
    assert prog.terminate() == 0
    assert prog.setting("同步", "开启") == "1"
    w.main = prog.start()
    w.app = w.bus.app(prog.proc.pid)
    win = open_sync_window(w)
    assert a11y.text_of(a11y.wait_find(win, "text", "CalDAV 服务器或日历的地址")) == \
        w.server.address
    assert a11y.text_of(a11y.wait_find(win, "text", "用户名")) == USER
    # A sync of the program's own after the start may have run already.
    first = status(win)
    assert first.startswith(("同步已开启", "正在同步", "已同步")), first
    w.other.put(w.day, "重启以后家里又改了")
    assert "上传 1 天" in w.other.sync()
    said = sync_now(win, lambda s: s.startswith("已同步") and "下载 1 天" in s,
                    "a sync after the restart")
    assert prog.memos()[w.day_number] == "重启以后家里又改了", prog.memos()
    wait_for(lambda: a11y.text_of(today_box(w)) == "重启以后家里又改了", 15,
             "the today box to follow")
    assert "密码已存入" not in said, said


# 5. Stopped half way ----------------------------------------------------------

MANY = 400


def iso_day(number):
    return (datetime.date(1899, 12, 30) + datetime.timedelta(days=int(number))).isoformat()


def stopped_journey():
    """A long run goes on in the background when the window is closed and
    shows again when it is opened; 停止同步 stops it (saying what was
    done); quitting during a run ends the program at once with the store
    whole; the next run sends the rest, no day twice."""
    w = world()
    prog = w.prog
    assert prog.terminate() == 0
    first = harness.days_since_1899(datetime.date(2025, 1, 1))
    db = sqlite3.connect(os.path.join(prog.dir, STORE))
    db.executemany('INSERT INTO records("日期", "事情") VALUES(?, ?)',
                   [(float(first + i), ("第 %d 天\n" % i + "字" * 300).encode())
                    for i in range(MANY)])
    db.commit()
    db.close()
    w.main = prog.start()
    w.app = w.bus.app(prog.proc.pid)
    win = open_sync_window(w)
    memos = prog.memos()

    # The start-up run takes the new days by itself; pressed if not yet.
    sync_now(win, lambda s: s.startswith("正在同步"), "the run to start")
    close_sync_window(w)
    win = open_sync_window(w)
    said = status(win)
    if said.startswith("正在同步"):
        a11y.do_action(a11y.wait_find(win, "push button", "停止同步"), "Press")
        said = wait_for(lambda: (lambda s: s if s.startswith(("同步已停止", "已同步")) else None)(
            status(win)), 30, "the run to stop")
    print("status: %r" % said)
    if said.startswith("已同步"):
        print("the run ended before 停止同步 was read")
    else:
        assert said.startswith("同步已停止（上传 "), said
        assert prog.setting("同步", "开启") == "0"
        window_shot(w, "sync-stopped")
    assert prog.memos() == memos

    a11y.do_action(a11y.wait_find(win, "push button", "立即同步"), "Press")
    wait_for(lambda: status(win).startswith(("正在同步", "已同步")), 10, "the run to start")
    t0 = time.time()
    assert prog.terminate() == 0
    took = time.time() - t0
    print("quit during a sync: %.2f s" % took)
    assert took < 4, took
    db = sqlite3.connect(os.path.join(prog.dir, STORE))
    assert db.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
    db.close()
    assert prog.memos() == memos

    w.main = prog.start()
    w.app = w.bus.app(prog.proc.pid)
    win = open_sync_window(w)
    sync_now(win, lambda s: s.startswith("已同步"), "the run after the stops")
    journals = w.server.journals(sync_state(prog, "collection"))
    expected = sorted((iso_day(day).replace("-", ""), text) for day, text in memos.items())
    assert journals == expected, (len(journals), len(expected))
    w.other.sync()
    assert w.other.memos() == {iso_day(day): text for day, text in memos.items()}


# 6. Focus, a refused password and another server ------------------------

def focus_journey():
    """立即同步 pressed from the keyboard: while the button is disabled for
    the run the focus goes to the status, not back to the address box, so
    a screen reader is where the result is written."""
    w = world()
    win = a11y.window(w.app, "同步")
    w.desktop.activate(w.prog.find_window("^同步$"))
    button = a11y.wait_find(win, "push button", "立即同步")
    a11y.do_action(button, "SetFocus")
    wait_for(lambda: a11y.has_state(button, "focused"), 10, "the button focused")
    # A run is told by the result it keeps in the store: the same line may
    # come twice in a minute.
    before = sync_state(w.prog, "last_run")
    w.desktop.xdo("key", "space")
    wait_for(lambda: sync_state(w.prog, "last_run") != before and
             not status(win).startswith("正在"), SYNC_DEADLINE, "the run to end")
    node = a11y.focused(win)
    assert node is not None and node.name in ("立即同步", "同步状态"), \
        "the focus went to %r" % (node.name if node else None)


class Challenger(http.server.BaseHTTPRequestHandler):
    """A server at another address that asks every request for a password
    and keeps what it is sent."""
    protocol_version = "HTTP/1.1"
    sent = []

    def log_message(self, *args):
        pass

    def answer(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        Challenger.sent.append(self.headers.get("Authorization") or "")
        self.send_response(401)
        self.send_header("WWW-Authenticate", 'Basic realm="another"')
        self.send_header("Content-Length", "0")
        self.end_headers()

    do_PROPFIND = do_REPORT = do_GET = do_PUT = do_OPTIONS = do_MKCALENDAR = answer


def rejected_password_journey():
    """A mistyped password the server refuses does not replace the one that
    worked: the next sync with the box empty still gets in."""
    w = world()
    win = a11y.window(w.app, "同步")
    set_field(win, "密码", WRONG)
    said = sync_now(win, lambda s: s.startswith("同步失败") and "用户名或密码不对" in s,
                    "the sync with a mistyped password")
    path = os.path.join(w.prog.dir, PASSWORD_FILE)
    if os.path.exists(path):
        with open(path, "rb") as f:
            assert f.read().decode().split("\n")[0] == PASSWORD, "a refused password was stored"
    said = sync_now(win, lambda s: s.startswith("已同步"), "the sync with the box empty")
    assert "密码已存入" not in said, said


def other_server_journey():
    """A new address with the password box empty: the password stored for
    the old server is not sent to the new one."""
    w = world()
    Challenger.sent = []
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Challenger)
    thread = threading.Thread(target=httpd.serve_forever, daemon=True)
    thread.start()
    try:
        win = a11y.window(w.app, "同步")
        set_field(win, "CalDAV 服务器或日历的地址", "http://127.0.0.1:%d/cal/" % httpd.server_port)
        # Its requests come while the status reads 正在同步……: a status
        # after them is this run's.
        # Refused before any request, or asked without a password.
        said = sync_now(win, lambda s: "另一个服务器" in s or (
            Challenger.sent and not s.startswith("正在")), "the sync with another server")
        print("status: %r" % said)
        # None was typed for it: whatever it is sent is another server's.
        for header in Challenger.sent:
            if header.startswith("Basic "):
                decoded = base64.b64decode(header[6:]).decode("utf-8", "replace")
                assert decoded.partition(":")[2] == "", "the other server was sent a password"
    finally:
        httpd.shutdown()
        httpd.server_close()
        thread.join()


def main():
    harness.need("wmctrl", "xclip", "xprop", "xwininfo", "setpriv")
    if shutil.which("radicale") is None:
        # Installed with the project's dependencies: its absence is a fault.
        print("radicale is not installed (scripts/deps.sh)", file=sys.stderr)
        raise SystemExit(1)
    if len(sys.argv) < 3:
        print("usage: sync_journeys_test.py PROGRAM_DIR MEMO_TOOL", file=sys.stderr)
        raise SystemExit(2)
    bin_dir, tool = sys.argv[1], sys.argv[2]
    kept = os.environ.get("TAMSIVO_SHOTS")
    shots = kept or tempfile.mkdtemp(prefix="tamsivo-sync-shots-")
    os.makedirs(shots, exist_ok=True)
    bus = a11y.Bus()
    desktop = harness.Desktop(wm=True)

    def keeping_log(journey):
        """The running program's standard error goes with a failure."""
        def run():
            try:
                journey()
            except BaseException:
                if World.current is not None:
                    path = os.path.join(World.current.prog.root, "tamsivo.log")
                    if os.path.exists(path):
                        with open(path, "rb") as f:
                            text = f.read().decode("utf-8", "replace")
                        harness._journey_logs.append(("still running", text[-4000:]))
                raise
        return run

    passed = False
    try:
        journeys = [
            ("set up in the window: address, user, password, 立即同步; the server and the "
             "second computer hold the memo; the password only where the window says",
             keeping_log(lambda: setup_journey(bus, desktop, bin_dir, tool, shots))),
            ("a day changed here in the editor and on the second computer: both texts on both",
             keeping_log(conflict_journey)),
            ("a wrong password is told and changes nothing; the right one again syncs",
             keeping_log(wrong_password_journey)),
            ("after a restart: still set up, syncs with nothing typed",
             keeping_log(restart_journey)),
            ("tamsivo --sync while the program runs: that copy syncs, the line is printed",
             keeping_log(asked_copy_journey)),
            ("a run goes on with the window closed; 停止同步 and quitting during a run: the rest goes with the next",
             keeping_log(stopped_journey)),
            ("the focus stays by the result when 立即同步 is pressed",
             keeping_log(focus_journey)),
            ("a refused password does not replace the stored one",
             keeping_log(rejected_password_journey)),
            ("another server is not sent the stored password",
             keeping_log(other_server_journey)),
        ]
        harness.run_journeys(journeys, desktop, "tamsivo-sync")
        assert World.current.prog.terminate() == 0, "the program did not end cleanly"
        passed = True
    finally:
        if World.current is not None:
            World.current.close()
        desktop.close()
        bus.close()
        # A failure's screenshots are kept to look at.
        if passed and not kept:
            shutil.rmtree(shots, ignore_errors=True)
        else:
            print("screenshots: " + shots)
    harness.check_logs()


if __name__ == "__main__":
    main()
