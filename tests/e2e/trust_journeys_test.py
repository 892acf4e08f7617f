"""Bad days on the real binary: a store that will not open, a store carrying
a stranger's trigger or an endless view, a store another program holds
locked, --restore beside a copy that runs unlocked, a kill while typing, a
copy of the memo file taken while the program runs, a second start, a
program directory whose name is not UTF-8. Screenshots of every message go
to $TAMSIVO_SHOTS when it is set."""
import datetime
import os
import socket
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

SHOTS = os.environ.get("TAMSIVO_SHOTS")


def shot(desktop, name):
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
        desktop.screenshot(os.path.join(SHOTS, name + ".png"))


def today_cell(desktop, main):
    """The middle of today's cell, once the calendar has drawn it."""
    x, y, w, h = wait_for(lambda: drawn_selection(desktop, main), 20, "the calendar drawn")
    return x + w // 2, y + h // 2


def drawn_selection(desktop, main):
    try:
        return harness.selected_cell(desktop, main)
    except AssertionError:
        return None


def active_window(desktop):
    """The focused window's id; empty for a moment while the focus moves."""
    return desktop.xdo("getactivewindow", check=False)


def drafts_hold(folder, text):
    """Whether the drafts folder holds drafts, all of exactly `text`."""
    if not os.path.isdir(folder):
        return False
    texts = set()
    for name in os.listdir(folder):
        try:
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                texts.add(f.read())
        except (OSError, UnicodeDecodeError):
            return False
    return texts == {text}


def damaged_store(desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir)
    try:
        with open(os.path.join(prog.dir, "事件数据.edb"), "wb") as f:
            f.write(b"this is not a memo store\n")
        prog.launch()
        box, text = prog.message_text(30)
        assert "无法打开备忘录数据库文件" in text and "不是本程序的数据文件" in text, text
        shot(desktop, "store-refused")
        prog.answer(box, "Return")
        main = prog.find_window("^Tamsivo [0-9]", 30)
        cell = today_cell(desktop, main)

        # Closing with nothing typed needs no store: the editor just closes.
        editor = harness.open_editor(desktop, main, cell)
        harness.close_window(desktop, editor)
        wait_for(lambda: desktop.gone(harness.EDITOR), 10, "the empty editor to close")

        # Typed text: the save fails, giving up puts it in a recovery file.
        editor = harness.open_editor(desktop, main, cell)
        harness.type_text(desktop, editor, "不能丢的字 words")
        harness.close_window(desktop, editor)
        box, text = prog.message_text()
        assert "备忘录没有保存" in text and "重试" in text, text
        shot(desktop, "save-failed")
        prog.answer(box, "Escape")
        box, text = prog.message_text()
        assert "恢复文件" in text, text
        shot(desktop, "recovery-written")
        prog.answer(box, "Return")
        wait_for(lambda: desktop.gone(harness.EDITOR), 10, "the editor to close")
        folder = os.path.join(prog.dir, "恢复")
        files = os.listdir(folder)
        assert len(files) == 1, files
        assert os.path.join(folder, files[0]) in text, text
        with open(os.path.join(folder, files[0]), encoding="utf-8") as f:
            assert f.read() == "不能丢的字 words"
        with open(os.path.join(prog.dir, "事件数据.edb"), "rb") as f:
            assert f.read() == b"this is not a memo store\n"
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


STORE = "事件数据.edb"


def store_with_memos(prog):
    """A store the program made, with three memos written the program's way."""
    prog.start()
    assert prog.terminate() == 0
    db = sqlite3.connect(os.path.join(prog.dir, STORE))
    with db:
        for d in (1, 2, 3):
            db.execute('INSERT INTO records("日期", "事情") VALUES(?, ?)',
                       (46000.0 + d, ("第 %d 天" % d).encode()))
    db.close()
    return prog.memos()


def hostile_store(desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir)
    try:
        memos = store_with_memos(prog)
        db = sqlite3.connect(os.path.join(prog.dir, STORE))
        db.execute("CREATE TRIGGER wipe AFTER INSERT ON records BEGIN "
                   "DELETE FROM records WHERE id <> NEW.id; END")
        db.close()
        prog.launch()
        box, text = prog.message_text(30)
        assert "本程序没有建立" in text and "触发器“wipe”" in text, text
        assert "恢复吗" not in text, text
        shot(desktop, "store-foreign-trigger")
        prog.answer(box, "Return")
        prog.find_window("^Tamsivo [0-9]", 30)
        assert prog.terminate() == 0
        assert prog.memos() == memos
        db = sqlite3.connect(os.path.join(prog.dir, STORE))
        assert db.execute("SELECT name FROM sqlite_master WHERE type = 'trigger'").fetchall() == \
            [("wipe",)]
        # Records that are an endless view: refused at once, not run.
        db.executescript('DROP TRIGGER wipe; DROP INDEX records_clamped_1; DROP TABLE records; '
                         'CREATE VIEW records(id, "日期", "事情") AS WITH RECURSIVE n(i) AS '
                         "(SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i, 0.0, x'' FROM n")
        db.close()
        t0 = time.time()
        prog.launch()
        box, text = prog.message_text(30)
        print("endless view refused %.2f s after the start" % (time.time() - t0))
        assert "不是本程序的数据文件（记录表不符）" in text, text
        shot(desktop, "store-endless-view")
        prog.answer(box, "Return")
        prog.find_window("^Tamsivo [0-9]", 30)
        assert prog.terminate() == 0
        t0 = time.time()
        exported = subprocess.run([prog.executable, "--export", os.path.join(prog.root, "a.md")],
                                  env={k: v for k, v in prog.env.items() if k != "DISPLAY"},
                                  cwd=prog.root, capture_output=True, timeout=30)
        print("--export of it refused in %.2f s" % (time.time() - t0))
        assert exported.returncode == 1 and "记录表不符" in exported.stderr.decode(), exported
    finally:
        prog.cleanup()


def locked_store(desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir)
    try:
        memos = store_with_memos(prog)
        # The run that made the store may have made today's backup already.
        os.makedirs(os.path.join(prog.dir, "备份"), exist_ok=True)
        shutil.copyfile(os.path.join(prog.dir, STORE),
                        os.path.join(prog.dir, "备份", "事件数据 2026-01-01.edb"))
        # Another program (a database browser) holding the store locked.
        holder = subprocess.Popen(
            [sys.executable, "-c",
             "import sqlite3, sys\n"
             "db = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
             "db.execute('BEGIN EXCLUSIVE')\nprint('locked', flush=True)\nsys.stdin.read()\n",
             os.path.join(prog.dir, STORE)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            assert holder.stdout.readline() == b"locked\n"
            t0 = time.time()
            prog.launch()
            box, text = prog.message_text(30)
            print("locked store told %.2f s after the start" % (time.time() - t0))
            assert "正被另一个程序使用" in text and "重试" in text, text
            assert "备份" not in text and "要用" not in text, text
            shot(desktop, "store-locked")
            prog.answer(box, "Return")  # 重试, still held: asked again
            box, text = prog.message_text(30)
            assert "正被另一个程序使用" in text, text
        finally:
            holder.stdin.close()
            holder.wait(10)
        prog.answer(box, "Return")  # 重试 once it let go
        prog.find_window("^Tamsivo [0-9]", 30)
        assert prog.terminate() == 0
        assert prog.memos() == memos
        assert [n for n in os.listdir(prog.dir) if "损坏" in n or "恢复前" in n] == []
    finally:
        prog.cleanup()


def restore_beside_unlocked_copy(desktop, bin_dir):
    """A running copy whose directory lock did not take (a file system
    without flock) still answers on its socket: --restore keeps off."""
    prog = harness.Program(desktop, bin_dir)
    try:
        memos = store_with_memos(prog)
        backup = os.path.join(prog.root, "old.edb")
        shutil.copyfile(os.path.join(prog.dir, STORE), backup)
        db = sqlite3.connect(backup)
        with db:
            db.execute("DELETE FROM records WHERE id > 1")
        db.close()
        # The name the program listens on: user and directory.
        h = 1469598103934665603
        for c in os.path.realpath(prog.dir).encode():
            h = ((h ^ c) * 1099511628211) % (1 << 64)
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(b"\0tamsivo.%d.%016x" % (os.getuid(), h))
        listener.listen(4)
        try:
            env = {k: v for k, v in prog.env.items() if k != "DISPLAY"}
            refused = subprocess.run([prog.executable, "--restore", backup], env=env,
                                     cwd=prog.root, capture_output=True, timeout=30)
        finally:
            listener.close()
        assert refused.returncode == 1 and "正在使用" in refused.stderr.decode(), refused
        assert prog.memos() == memos
        done = subprocess.run([prog.executable, "--restore", backup], env=env, cwd=prog.root,
                              capture_output=True, timeout=30)
        assert done.returncode == 0, done
        assert len(prog.memos()) == 1
        # The store it replaced passed the check: kept, and not called damaged.
        kept = [n for n in os.listdir(prog.dir) if n.startswith(STORE + ".")]
        assert len(kept) == 1 and "恢复前" in kept[0] and "损坏" not in done.stdout.decode(), \
            (kept, done.stdout.decode())
    finally:
        prog.cleanup()


def killed_while_typing(desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir)
    try:
        main = prog.start()
        editor = harness.open_editor(desktop, main, today_cell(desktop, main))
        harness.type_text(desktop, editor, "杀掉前打的字 typed")
        drafts = os.path.join(prog.dir, "草稿")
        # A first try of typing may have dropped a character and left its own
        # draft: the kill waits for the draft of the whole text.
        wait_for(lambda: drafts_hold(drafts, "杀掉前打的字 typed"), 20, "the draft of the text")
        prog.kill()
        assert prog.memos() == {}, prog.memos()

        prog.launch()
        box, text = prog.message_text(30)
        assert "杀掉前打的字 typed" in text and "没有保存的备忘录" in text, text
        shot(desktop, "draft-offered")
        prog.answer(box, "Return")  # 是: put it back
        editor = prog.find_window(harness.EDITOR, 30)
        assert harness.box_text(desktop, editor) == "杀掉前打的字 typed"

        # Killed again in the restored text's editor: its draft is the one
        # file that holds the text, offered once.
        harness.type_text(desktop, editor, "杀掉前打的字 typed again")
        wait_for(lambda: drafts_hold(drafts, "杀掉前打的字 typed again"), 20,
                 "one draft of the text")
        prog.kill()
        assert len(os.listdir(drafts)) == 1, os.listdir(drafts)
        prog.launch()
        box, text = prog.message_text(30)
        assert "杀掉前打的字 typed again" in text, text
        prog.answer(box, "Return")
        editor = prog.find_window(harness.EDITOR, 30)
        assert harness.box_text(desktop, editor) == "杀掉前打的字 typed again"
        harness.close_window(desktop, editor)
        wait_for(lambda: desktop.gone(harness.EDITOR), 10, "the editor to close")
        time.sleep(3)  # a second offer would come up as soon as the editor closed
        assert desktop.gone("^Tamsivo$"), "the text was offered a second time"
        today = datetime.date.today()
        assert prog.memos() == {float(harness.days_since_1899(today)): "杀掉前打的字 typed again"}
        assert os.listdir(drafts) == []
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


def memo_file_alone(desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir)
    try:
        main = prog.start()
        cx, cy = today_cell(desktop, main)
        _, _, _, ch = harness.selected_cell(desktop, main)
        for i, dy in enumerate((0, -ch, ch)):
            editor = harness.open_editor(desktop, main, (cx, cy + dy))
            harness.type_text(desktop, editor, "memo %d" % i)
            harness.close_window(desktop, editor)
            wait_for(lambda: desktop.gone(harness.EDITOR), 10, "the editor to close")
        # What a backup tool copying the one file gets while the program runs.
        copy = os.path.join(prog.root, "copy.edb")
        shutil.copyfile(os.path.join(prog.dir, "事件数据.edb"), copy)
        db = sqlite3.connect("file:" + copy + "?mode=ro", uri=True)
        try:
            texts = sorted(bytes(t).decode() for (t,) in db.execute('SELECT "事情" FROM records'))
        finally:
            db.close()
        assert texts == ["memo 0", "memo 1", "memo 2"], texts
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


def second_start(desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir)
    try:
        main = prog.start()
        today = prog.find_window("^今天备忘录$")
        # The program's own first activation may come after the window is
        # mapped and take the focus back: activate until it holds.
        def today_active():
            desktop.activate(today)
            return active_window(desktop) == today
        wait_for(today_active, 20, "the today window active")
        t0 = time.time()
        second = subprocess.run(["setpriv", "--bounding-set", "-sys_time", prog.executable],
                                env=prog.env, cwd=prog.root, capture_output=True, timeout=30)
        assert second.returncode == 0, second
        assert time.time() - t0 < 10
        assert "已在运行" in second.stderr.decode(), second.stderr
        wait_for(lambda: active_window(desktop) == main, 20, "the first copy in front")
        # Still one copy's windows, and the first copy goes on.
        assert len(desktop.xdo("search", "--onlyvisible", "--name", "^Tamsivo [0-9]").split()) == 1
        assert prog.proc.poll() is None
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


def non_utf8_directory(desktop, bin_dir):
    root = tempfile.mkdtemp(prefix="tamsivo-e2e-")
    try:
        # "备忘录" in GBK, as an archive made on another system unpacks it.
        prog_dir = os.path.join(root.encode(), "备忘录".encode("gbk"))
        os.makedirs(prog_dir)
        for name in ("tamsivo", "tesmo.qrr"):
            shutil.copy2(os.path.join(bin_dir, name), os.path.join(prog_dir, name.encode()))
        work = os.path.join(root, "work")
        os.makedirs(work)
        env = dict(desktop.env, HOME=os.path.join(root, "home"), LANG="C.UTF-8",
                   XDG_CONFIG_HOME=os.path.join(root, "home", ".config"),
                   XDG_DATA_HOME=os.path.join(root, "home", ".local", "share"))
        root_before = set(os.listdir("/"))
        proc = subprocess.Popen(["setpriv", "--bounding-set", "-sys_time",
                                 os.path.join(prog_dir, b"tamsivo")], env=env, cwd=work,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            def mapped():
                out = desktop.xdo("search", "--all", "--onlyvisible", "--pid", str(proc.pid),
                                  "--name", "^Tamsivo [0-9]", check=False)
                return out or None
            wait_for(mapped, 30, "the main window")
        finally:
            proc.terminate()
            proc.wait(10)
        names = set(os.listdir(prog_dir))
        assert "Start.ini".encode() in names and "事件数据.edb".encode() in names, names
        assert os.listdir(work) == [], os.listdir(work)
        assert set(os.listdir("/")) == root_before
    finally:
        shutil.rmtree(root, ignore_errors=True)


SQUATTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "squatter.py")


def old_socket_name(directory):
    """The name the running copy listened on alone before: now only its first."""
    h = 1469598103934665603
    for c in os.path.realpath(directory).encode():
        h = ((h ^ c) * 1099511628211) % (1 << 64)
    return "tamsivo.%d.%016x" % (os.getuid(), h)


def mode(path):
    return oct(os.lstat(path).st_mode & 0o7777)


def private_files_and_a_squatter(desktop, bin_dir):
    old_umask = os.umask(0o022)
    prog = harness.Program(desktop, bin_dir)
    squatter = None
    try:
        if os.geteuid() == 0:
            # Nobody holds a flock where the lock used to be (the data
            # directory) and answers "ok" on the old socket name.
            os.chmod(prog.root, 0o755)
            squatter = subprocess.Popen(
                ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3",
                 # As text: nobody may not be able to enter the checkout.
                 "-c", open(SQUATTER).read(), prog.dir, old_socket_name(prog.dir)],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            assert squatter.stdout.readline().strip() == "ready"
        else:
            print("  (not root: no second user squats the lock and the socket)")
        started = time.monotonic()
        main = prog.start()
        print("  main window after %.2f s%s" % (time.monotonic() - started,
                                                " with a squatter" if squatter else ""))
        time.sleep(0.5)
        editor = harness.open_editor(desktop, main, today_cell(desktop, main))
        harness.type_text(desktop, editor, "只给自己看")
        drafts = os.path.join(prog.dir, "草稿")
        wait_for(lambda: os.path.isdir(drafts) and os.listdir(drafts), 10, "the draft")
        draft = os.path.join(drafts, os.listdir(drafts)[0])
        seen = {"草稿/": mode(drafts), "draft": mode(draft)}
        harness.close_window(desktop, editor)
        wait_for(lambda: desktop.gone(harness.EDITOR), 10, "the editor to close")
        backups = os.path.join(prog.dir, "备份")
        wait_for(lambda: os.path.isdir(backups) and os.listdir(backups), 20, "today's backup")
        seen["备份/"] = mode(backups)
        seen["backup"] = mode(os.path.join(backups, os.listdir(backups)[0]))
        seen["store"] = mode(os.path.join(prog.dir, "事件数据.edb"))
        out = os.path.join(prog.root, "导出.md")
        subprocess.run([prog.executable, "--export", out], env=prog.env, check=True,
                       stdout=subprocess.DEVNULL)
        seen["export"] = mode(out)
        print("  modes under umask 022: %s" % seen)
        want = {"草稿/": "0o700", "备份/": "0o700", "draft": "0o600", "backup": "0o600",
                "store": "0o600", "export": "0o600"}
        assert seen == want, seen
        assert prog.terminate() == 0
    finally:
        os.umask(old_umask)
        if squatter:
            squatter.stdin.close()
            squatter.wait(10)
        prog.cleanup()


def main():
    harness.need("wmctrl", "xclip", "setpriv")
    bin_dir = sys.argv[1]
    desktop = harness.Desktop(wm=True)
    try:
        harness.run_journeys([
            ("damaged store: close empty, give up, recovery file", lambda: damaged_store(desktop, bin_dir)),
            ("a stranger's trigger or endless view: refused, nothing lost",
             lambda: hostile_store(desktop, bin_dir)),
            ("a store another program holds: retry, never restore",
             lambda: locked_store(desktop, bin_dir)),
            ("--restore beside a copy that runs unlocked",
             lambda: restore_beside_unlocked_copy(desktop, bin_dir)),
            ("killed while typing, then in the restored editor: the draft offered back once",
             lambda: killed_while_typing(desktop, bin_dir)),
            ("the .edb alone holds every saved memo", lambda: memo_file_alone(desktop, bin_dir)),
            ("a second start hands over and exits", lambda: second_start(desktop, bin_dir)),
            ("a program directory whose name is not UTF-8", lambda: non_utf8_directory(desktop, bin_dir)),
            ("private files; another user squats the lock and the socket",
             lambda: private_files_and_a_squatter(desktop, bin_dir)),
        ], desktop, "tamsivo-trust")
    finally:
        desktop.close()
    # Every check passed: the program must not have complained either.
    harness.check_logs()


if __name__ == "__main__":
    main()
