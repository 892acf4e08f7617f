"""Finding, keeping and taking out memos on the real binary: the search window
read through AT-SPI, a damaged store put back from the program's own backup
(and --restore from the command line), --export to every format read back
with independent parsers, and the keyboard ways into the menu and through
the options window."""
import csv
import datetime
import glob
import io
import os
import re
import shutil
import sqlite3
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import a11y  # noqa: E402
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

STORE = "事件数据.edb"


def day_number(y, m, d):
    return float(harness.days_since_1899(datetime.date(y, m, d)))


def made_store(prog):
    """Starts and stops the program once, so the store exists as it makes it."""
    prog.start()
    assert prog.terminate() == 0
    assert os.path.exists(os.path.join(prog.dir, STORE))


def backup_of_today(prog):
    return os.path.join(prog.dir, "备份", "事件数据 %s.edb" % datetime.date.today().isoformat())


def start_checked(prog):
    """Starts the program and waits until its store has passed the check
    made after the start (searching before then is refused): the day's
    backup, made only then, is removed first and waited for."""
    shutil.rmtree(os.path.join(prog.dir, "备份"), ignore_errors=True)
    main = prog.start()
    wait_for(lambda: os.path.exists(backup_of_today(prog)), 30, "today's backup")
    return main


def add_memos(prog, memos):
    """Writes {day number: text} the way another tool would, while the
    program is not running."""
    db = sqlite3.connect(os.path.join(prog.dir, STORE))
    try:
        db.executemany('INSERT INTO records("日期", "事情") VALUES(?, ?)',
                       [(day, text.encode("utf-8")) for day, text in memos.items()])
        db.commit()
    finally:
        db.close()


def command(prog, *args, display=False):
    """Runs the program's command line in its directory, with no display
    unless asked."""
    env = dict(prog.env)
    if not display:
        env.pop("DISPLAY", None)
    return subprocess.run(["setpriv", "--bounding-set", "-sys_time", prog.executable, *args],
                          env=env, cwd=prog.root, capture_output=True, timeout=60)


def message(app, timeout=30.0):
    """The open message box: (window, its text as the labels read it)."""
    box = a11y.window(app, "Tamsivo", timeout)
    labels = [n for n in a11y.find_all(box, "label") if n.name]
    return box, "\n".join(n.name for n in labels)


def press(box, button):
    """Presses a message box button by its name and waits for the box to go."""
    a11y.do_action(a11y.wait_find(box, "push button", button), "Press")
    wait_for(lambda: not a11y.has_state(box, "showing"), 10, "the message box to close")


def type_into(desktop, node, text):
    """Types into the focused edit box, checked by reading it back through
    AT-SPI (xdotool can drop a character it types by remapping a key)."""
    for _ in range(4):
        desktop.xdo("key", "ctrl+a")
        desktop.xdo("type", "--delay", "60", text)
        try:
            wait_for(lambda: a11y.text_of(node) == text, 3, "the typed text")
            return
        except AssertionError:
            print("typed %r, the box holds %r: again" % (text, a11y.text_of(node)))
    raise AssertionError("could not type %r (box holds %r)" % (text, a11y.text_of(node)))


# 2. Search -------------------------------------------------------------------

SEARCH_MEMOS = {day_number(2026, 12, 1): "去銀行辦理業務",
                day_number(2026, 11, 3): "Call the BANK about 银行卡",
                day_number(2025, 5, 5): "Meeting notes: bAnKing rules",
                day_number(2025, 5, 6): "买菜"}


def results(window):
    """Names of the result list's items, in order."""
    return [n.name for n in a11y.children(a11y.find(window, "list", "查找结果"))
            if n.getRoleName() == "list item"]


def search_for(desktop, window, query, expected):
    box = a11y.find(window, "text", "查找内容")
    a11y.do_action(box, "SetFocus")
    type_into(desktop, box, query)
    try:
        return wait_for(lambda: results(window) == expected, 15, "results for %r" % query)
    except AssertionError:
        raise AssertionError("results for %r: %r" % (query, results(window)))


def search(bus, desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir, session_bus=bus.address)
    try:
        made_store(prog)
        add_memos(prog, SEARCH_MEMOS)
        main = start_checked(prog)
        app = bus.app(prog.proc.pid)
        desktop.activate(main)
        desktop.xdo("key", "ctrl+f")
        window = a11y.window(app, "查找备忘录")
        box = a11y.wait_find(window, "text", "查找内容")
        wait_for(lambda: a11y.has_state(box, "focused"), 10, "the query box focused")

        # Simplified finds traditional, newest day first.
        search_for(desktop, window, "银行", ["2026年12月1日　去銀行辦理業務",
                                            "2026年11月3日　Call the BANK about 银行卡"])
        desktop.xdo("key", "Return")
        editor_wid = prog.find_window("^2026年12月1日 备忘录$", 10)
        editor = a11y.window(app, "2026年12月1日 备忘录")
        memo = a11y.wait_find(editor, "text", "备忘录")
        wait_for(lambda: a11y.has_state(memo, "focused"), 10, "the memo focused")
        assert a11y.text_of(memo) == "去銀行辦理業務", a11y.text_of(memo)
        desktop.xdo("key", "ctrl+End")
        desktop.xdo("type", "--delay", "60", " 带护照")
        try:
            wait_for(lambda: a11y.text_of(memo) == "去銀行辦理業務 带护照", 5, "the added text")
        except AssertionError:
            print("the editor holds %r: typing it whole" % a11y.text_of(memo))
            type_into(desktop, memo, "去銀行辦理業務 带护照")
        desktop.xdo("key", "Escape")
        wait_for(lambda: editor_wid not in prog.windows(), 10, "the editor to close")
        assert prog.memos()[day_number(2026, 12, 1)] == "去銀行辦理業務 带护照"

        # What was just written is found, from the search window still open.
        desktop.activate(prog.find_window("^查找备忘录$"))
        search_for(desktop, window, "护照", ["2026年12月1日　去銀行辦理業務 带护照"])
        # Latin letters in any case.
        search_for(desktop, window, "bank", ["2026年11月3日　Call the BANK about 银行卡",
                                            "2025年5月5日　Meeting notes: bAnKing rules"])
        search_for(desktop, window, "不存在", [])
        desktop.xdo("key", "Escape")
        wait_for(lambda: desktop.gone("^查找备忘录$"), 10, "the search window to close")
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


# 3. Restore ------------------------------------------------------------------

def run_until_backup(prog):
    start_checked(prog)
    assert prog.terminate() == 0


def memos_in(path):
    db = sqlite3.connect("file:" + path + "?mode=ro", uri=True)
    try:
        return {d: bytes(t).decode() for d, t in db.execute('SELECT "日期", "事情" FROM records')}
    finally:
        db.close()


def drawn_selection(desktop, main):
    try:
        return harness.selected_cell(desktop, main)
    except AssertionError:
        return None


def restore(bus, desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir, session_bus=bus.address)
    store = os.path.join(prog.dir, STORE)
    try:
        # A backup holding two memos, as the program makes it.
        made_store(prog)
        kept = {day_number(2026, 1, 2): "备份里的 memo", day_number(2026, 3, 4): "second"}
        add_memos(prog, kept)
        run_until_backup(prog)
        backup = backup_of_today(prog)
        assert memos_in(backup) == kept
        add_memos(prog, {day_number(2026, 5, 6): "written after the backup"})

        with open(store, "r+b") as f:
            f.write(b"\xde\xad" * 50)
        with open(store, "rb") as f:
            damaged = f.read()

        prog.launch()
        app = bus.app(prog.proc.pid)
        box, text = message(app)
        assert "备忘录数据库文件" in text and "1 份自动备份" in text, text
        press(box, "是")
        box, text = message(app)
        assert "已用备份“事件数据 %s.edb”恢复" % datetime.date.today().isoformat() in text, text
        asides = glob.glob(store + ".损坏-*")
        assert len(asides) == 1, asides
        assert re.fullmatch(r"事件数据\.edb\.损坏-\d{8}-\d{6}", os.path.basename(asides[0])), asides
        assert os.path.basename(asides[0]) in text, text
        press(box, "确定")
        main = prog.find_window("^Tamsivo [0-9]", 30)
        with open(asides[0], "rb") as f:
            assert f.read() == damaged
        assert prog.memos() == kept

        # The program goes on with the store put back.
        x, y, w, h = wait_for(lambda: drawn_selection(desktop, main), 10, "the calendar drawn")
        editor = harness.open_editor(desktop, main, (x + w // 2, y + h // 2))
        harness.type_text(desktop, editor, "after restore")
        desktop.xdo("key", "Escape")
        wait_for(lambda: desktop.gone(harness.EDITOR), 10, "the editor to close")
        today = float(harness.days_since_1899(datetime.date.today()))
        assert prog.memos() == {**kept, today: "after restore"}, prog.memos()

        # Not while the program runs: it holds the store.
        refused = command(prog, "--restore", backup)
        assert refused.returncode == 1, refused
        assert "正在使用" in refused.stderr.decode(), refused.stderr.decode()
        assert prog.memos()[today] == "after restore"
        assert prog.terminate() == 0

        # A file that is no store is refused, and nothing moves.
        bad = command(prog, "--restore", asides[0])
        assert bad.returncode == 1 and "未通过检查" in bad.stderr.decode(), bad
        assert len(glob.glob(store + ".损坏-*")) == 1

        done = command(prog, "--restore", backup)
        assert done.returncode == 0, done
        assert "已用备份" in done.stdout.decode(), done.stdout.decode()
        assert memos_in(store) == kept
        # The store it replaced is kept too, with what was written since;
        # it passed the check, so it is not called damaged.
        second = glob.glob(store + ".恢复前-*")
        assert len(second) == 1, second
        assert memos_in(second[0])[today] == "after restore"
    finally:
        prog.cleanup()


# 4. Export -------------------------------------------------------------------

EXPORT_MEMOS = {
    day_number(2026, 12, 1): 'a, b; "quoted" \\ back\nsecond line 😀',
    day_number(2024, 2, 29): "Plain memo",
    day_number(2025, 8, 7): "Line one\r\nline two, with comma",
    day_number(2025, 1, 1): "很长的备忘录，" * 12,
    day_number(2025, 1, 2): "\n   \n  After blank lines",
    day_number(2025, 1, 3): "",
}


def ics_unescape(value):
    out, i = [], 0
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value):
            nxt = value[i + 1]
            out.append("\n" if nxt in "nN" else nxt)
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_ics(data):
    """[{property: (parameters, value)}] of the VEVENTs, after checking
    the lines: CRLF, at most 75 octets, folds between whole characters."""
    assert data.endswith(b"\r\n"), data[-20:]
    physical = data[:-2].split(b"\r\n")
    for line in physical:
        assert len(line) <= 75, line
        line.decode("utf-8")  # a fold inside a character fails here
    logical = []
    for line in physical:
        if line[:1] in (b" ", b"\t"):
            logical[-1] += line[1:]
        else:
            logical.append(line)
    lines = [line.decode("utf-8") for line in logical]
    assert lines[0] == "BEGIN:VCALENDAR" and lines[-1] == "END:VCALENDAR", lines
    assert "VERSION:2.0" in lines
    events, current = [], None
    for line in lines[1:-1]:
        if line == "BEGIN:VEVENT":
            current = {}
        elif line == "END:VEVENT":
            events.append(current)
            current = None
        elif current is not None:
            head, _, value = line.partition(":")
            name, *params = head.split(";")
            current[name] = (params, value)
    assert current is None
    return events


def check_with_libical(data, expected):
    """Parses the file with libical itself where its binding is installed."""
    try:
        import gi
        gi.require_version("ICalGLib", "3.0")
        from gi.repository import ICalGLib
    except (ImportError, ValueError):
        print("libical binding missing: the calendar is read by the text parser only")
        return
    calendar = ICalGLib.Component.new_from_string(data.decode("utf-8"))
    assert calendar is not None
    found = {}
    event = calendar.get_first_component(ICalGLib.ComponentKind.VEVENT_COMPONENT)
    while event is not None:
        start = event.get_dtstart()
        assert start.is_date()
        found[(start.get_year(), start.get_month(), start.get_day())] = event.get_description()
        event = calendar.get_next_component(ICalGLib.ComponentKind.VEVENT_COMPONENT)
    assert found == {(d.year, d.month, d.day): text for d, text in expected.items()}, found


def export(desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir)
    try:
        out = os.path.join(prog.root, "out")
        os.makedirs(out)
        none = command(prog, "--export", os.path.join(out, "x.md"))
        assert none.returncode == 1 and "没有备忘录可以导出" in none.stderr.decode(), none
        made_store(prog)
        add_memos(prog, EXPORT_MEMOS)
        shown = sorted((d, t) for d, t in EXPORT_MEMOS.items() if t)
        base = datetime.date(1899, 12, 30)
        dates = [base + datetime.timedelta(days=int(d)) for d, _ in shown]

        for ext in ("md", "txt", "csv", "ics"):
            r = command(prog, "--export", os.path.join(out, "备忘录." + ext))
            assert r.returncode == 0, (ext, r)
            assert ("已把 %d 条备忘录导出" % len(shown)) in r.stdout.decode(), r.stdout.decode()

        def read(name):
            with open(os.path.join(out, name), "rb") as f:
                return f.read()

        cn = ["%d年%d月%d日" % (d.year, d.month, d.day) for d in dates]
        md = read("备忘录.md").decode("utf-8")
        assert md == "\n".join("## %s\n\n%s\n" % (c, t) for c, (_, t) in zip(cn, shown)), md
        assert re.findall(r"^## (.*)$", md, re.M) == cn
        txt = read("备忘录.txt").decode("utf-8")
        assert txt == "\n".join("%s\n%s\n" % (c, t) for c, (_, t) in zip(cn, shown)), txt

        raw = read("备忘录.csv")
        assert raw.startswith(b"\xef\xbb\xbf"), raw[:8]
        rows = list(csv.reader(io.StringIO(raw.decode("utf-8-sig"), newline="")))
        assert rows[0] == ["日期", "备忘录"], rows[0]
        assert rows[1:] == [[d.isoformat(), t] for d, (_, t) in zip(dates, shown)], rows

        data = read("备忘录.ics")
        events = parse_ics(data)
        assert len(events) == len(shown), events
        expected = {}
        for event, date, (_, text) in zip(events, dates, shown):
            description = text.replace("\r\n", "\n")
            expected[date] = description
            assert event["DTSTART"] == (["VALUE=DATE"], date.strftime("%Y%m%d")), event
            end = date + datetime.timedelta(days=1)
            assert event["DTEND"] == (["VALUE=DATE"], end.strftime("%Y%m%d")), event
            assert ics_unescape(event["DESCRIPTION"][1]) == description, event
            summary = next(line.strip() for line in description.split("\n") if line.strip())
            assert ics_unescape(event["SUMMARY"][1]) == summary, event
        assert len({e["UID"][1] for e in events}) == len(events)
        check_with_libical(data, expected)

        odd = command(prog, "--export", os.path.join(out, "备忘录.pdf"))
        assert odd.returncode == 1 and "不支持这种文件类型" in odd.stderr.decode(), odd
        assert not os.path.exists(os.path.join(out, "备忘录.pdf"))
        bogus = command(prog, "--bogus")
        assert bogus.returncode == 2 and "无法识别的选项" in bogus.stderr.decode(), bogus
        for flag, words in (("--help", "--export"), ("--version", "tamsivo ")):
            r = command(prog, flag)
            assert r.returncode == 0 and words in r.stdout.decode(), r
        assert sorted(os.listdir(out)) == sorted("备忘录." + e for e in ("md", "txt", "csv", "ics"))
    finally:
        prog.cleanup()


# 5. Keyboard -----------------------------------------------------------------

def keyboard(bus, desktop, bin_dir):
    prog = harness.Program(desktop, bin_dir, session_bus=bus.address)
    try:
        main = prog.start()
        app = bus.app(prog.proc.pid)
        for key in ("Menu", "shift+F10"):
            desktop.activate(main)
            desktop.xdo("key", key)
            wait_for(lambda: harness.popup_menu(desktop, prog), 10, "the menu from " + key)
            desktop.xdo("key", "Escape")
            wait_for(lambda: harness.popup_menu(desktop, prog) is None, 10, "the menu to close")
            assert prog.proc.poll() is None

        harness.menu_command(desktop, prog, main, "选项")
        options = a11y.window(app, "Tamsivo 选项")
        boxes = [n.name for n in a11y.find_all(options, "check box")
                 if a11y.has_state(n, "showing")]
        groups = {}
        for panel in a11y.find_all(options, "panel"):
            radios = [n.name for n in a11y.find_all(panel, "radio button")]
            if radios:
                groups[panel.name] = radios
        assert len(boxes) >= 5 and len(groups) == 2, (boxes, groups)

        seen = []
        for _ in range(len(boxes) + 2 * len(groups) + 2):
            node = wait_for(lambda: a11y.focused(options), 5, "a focused control")
            seen.append((node.getRoleName(), node.name))
            desktop.xdo("key", "Tab")
            wait_for(lambda: (lambda f: f is not None and (f.getRoleName(), f.name) != seen[-1])(
                a11y.focused(options)), 5, "focus to move on Tab")
        print("Tab order in the options window: " + " → ".join(n for _, n in seen))
        # Every visible check box and every radio group takes the focus.
        assert set(boxes) <= {n for r, n in seen if r == "check box"}, (boxes, seen)
        for name, radios in groups.items():
            assert any(n in radios for r, n in seen if r == "radio button"), (name, seen)
        # Round and round in one order.
        cycle = seen.index(seen[0], 1)
        assert seen[cycle:] == seen[:len(seen) - cycle], seen
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


def main():
    harness.need("wmctrl", "xclip", "xprop", "xwininfo", "setpriv")
    bin_dir = sys.argv[1]
    bus = a11y.Bus()
    desktop = harness.Desktop(wm=True)
    try:
        harness.run_journeys([
            ("search: traditional by simplified, open, add, find again",
             lambda: search(bus, desktop, bin_dir)),
            ("restore from the program's backup, and --restore",
             lambda: restore(bus, desktop, bin_dir)),
            ("--export to .md .txt .csv .ics without a display", lambda: export(desktop, bin_dir)),
            ("keyboard: Menu, Shift+F10, Tab through the options",
             lambda: keyboard(bus, desktop, bin_dir)),
        ], desktop, "tamsivo-find-keep")
    finally:
        desktop.close()
        bus.close()
    harness.check_logs()


if __name__ == "__main__":
    main()
