"""The user's recurring days on the real binary: a 农历 birthday added in the
纪念日 window through AT-SPI, then seen on the calendar (the cell's name and
description) and in the today window, and still there after a restart; a
reminder shown by a private notification server on the test's session bus
(python3-dbusmock), answered with 打开, and the small window of its own
where the server offers no actions. Screenshots go to $TAMSIVO_SHOTS, or to
a new temporary folder."""
import datetime
import os
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import a11y  # noqa: E402  (starts nothing on import)
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

MONTHS = ["正月", "二月", "三月", "四月", "五月", "六月", "七月", "八月", "九月", "十月", "冬月",
          "腊月"]
DAY_NAMES = (["初" + c for c in "一二三四五六七八九十"] + ["十" + c for c in "一二三四五六七八九"]
             + ["二十"] + ["廿" + c for c in "一二三四五六七八九"] + ["三十"])
LUNAR_ON = harness.DEFAULT_SETTINGS.replace("记录后回到今天=0\r\n",
                                            "记录后回到今天=0\r\n显示农历=1\r\n")


def today_cell(grid):
    """(name, description) of today's cell: the selected one."""
    for c in a11y.children(grid):
        if c.getRoleName() == "table cell" and a11y.has_state(c, "selected"):
            a11y.fresh(c)
            return c.name, c.description
    return None


def lunar_of(description):
    """(month, leap, day, month name, day name) from a cell's description,
    "2026年12月9日 星期三 · 农历丙午年十月廿一 · ..."."""
    part = description.split(" · ")[1]
    rest = part[part.index("年") + 1:]
    leap = rest.startswith("闰")
    if leap:
        rest = rest[1:]
    month_name = next(m for m in MONTHS if rest.startswith(m))
    day_name = rest[len(month_name):]
    return MONTHS.index(month_name) + 1, leap, DAY_NAMES.index(day_name) + 1, month_name, day_name


def set_field(win, name, text):
    box = a11y.wait_find(win, "text", name)
    box.queryEditableText().setTextContents(text)
    wait_for(lambda: a11y.text_of(box) == text, 10, "%s to read %r" % (name, text))


def press(win, role, name):
    """A button's Press; radio buttons and check boxes offer Toggle."""
    node = a11y.wait_find(win, role, name)
    a11y.do_action(node, "Press" if role == "push button" else "Toggle")


def list_items(win):
    lst = a11y.wait_find(win, "list", "纪念日列表")
    return [c.name for c in a11y.children(lst)]


def open_anniversaries(desktop, prog, app, main):
    harness.menu_command(desktop, prog, main, "纪念日…")
    return a11y.window(app, "纪念日")


def birthday_journey(bus, desktop, bin_dir, shots):
    prog = harness.Program(desktop, bin_dir, start_ini=LUNAR_ON, session_bus=bus.address)
    try:
        main = prog.start()
        prog.find_window("^今天备忘录$")
        app = bus.app(prog.proc.pid)
        grid = a11y.calendar_grid(app)
        name, description = wait_for(lambda: today_cell(grid), 10, "today's cell")
        month, leap, day, month_name, day_name = lunar_of(description)
        now = datetime.date.today()
        lunar_year = now.year - 1 if now.month <= 2 and month >= 11 else now.year
        lunar_text = "农历%s%s%s" % ("闰" if leap else "", month_name, day_name)
        expected = "妈妈生日（%s），第 60 个" % lunar_text

        win = open_anniversaries(desktop, prog, app, main)
        # A bad day is told, and nothing is stored.
        set_field(win, "名称", "妈妈生日")
        press(win, "radio button", "农历")
        set_field(win, "月", str(month))
        set_field(win, "日", "三十一")
        press(win, "push button", "添加")
        box, text = prog.message_text()
        assert "请用数字填写月和日" in text, text
        prog.answer(box, "Return")
        set_field(win, "日", str(day))
        if leap:
            press(win, "check box", "闰月")
        set_field(win, "起始年份", str(lunar_year - 60))
        press(win, "push button", "添加")
        items = wait_for(lambda: (lambda i: i if i else None)(list_items(win)), 10, "the item")
        assert items[0].startswith("妈妈生日 · %s · 下次 %d年%d月%d日（今天），第 60 个"
                                   % (lunar_text, now.year, now.month, now.day)), items
        desktop.screenshot(os.path.join(shots, "anniversary-window.png"))

        # The calendar: a badge heard after the lines, the day named in the
        # description; the today window opens with it.
        name, description = wait_for(
            lambda: (lambda c: c if c and "纪念日" in c[0] else None)(today_cell(grid)),
            10, "today's cell to be marked")
        assert name.endswith(" 纪念日"), name
        assert description.endswith("\n纪念日：" + expected) or ("\n纪念日：" + expected + "\n") \
            in description, description
        today_win = a11y.window(app, "今天备忘录")
        memo = a11y.wait_find(today_win, "text", "今天备忘录")
        wait_for(lambda: a11y.text_of(memo).startswith("今天：" + expected + "\n"), 10,
                 "the today box to name it: %r" % a11y.text_of(memo))
        desktop.xdo("key", "Escape")
        desktop.screenshot(os.path.join(shots, "anniversary-calendar.png"))
        assert prog.terminate() == 0

        # Kept in the store, in a table of its own.
        db = sqlite3.connect(os.path.join(prog.dir, "事件数据.edb"))
        rows = db.execute("SELECT name, lunar, month, day, leap, start_year FROM anniversaries"
                          ).fetchall()
        db.close()
        assert rows == [("妈妈生日", 1, month, day, int(leap), lunar_year - 60)], rows

        # A second start shows it again.
        main = prog.start()
        app = bus.app(prog.proc.pid)
        grid = a11y.calendar_grid(app)
        wait_for(lambda: (lambda c: c and c[0].endswith(" 纪念日"))(today_cell(grid)), 15,
                 "today's cell marked after a restart")
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


class NotificationServer:
    """python3-dbusmock's notification daemon on the test's private bus."""

    def __init__(self, address, capabilities):
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address)
        self.address = address
        self.proc = subprocess.Popen(
            ["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon",
             "--parameters", '{"capabilities": "%s"}' % capabilities],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: self.calls() is not None, 15, "the notification server")

    def _call(self, *args):
        out = subprocess.run(["gdbus", "call", "--address", self.address, "--dest",
                              "org.freedesktop.Notifications", "--object-path",
                              "/org/freedesktop/Notifications", "--method"] + list(args),
                             capture_output=True, text=True, timeout=10)
        return out.stdout if out.returncode == 0 else None

    def calls(self):
        """The Notify calls it took, as gdbus prints them, or None before it answers."""
        return self._call("org.freedesktop.DBus.Mock.GetMethodCalls", "Notify")

    def invoke(self, notification_id, key):
        return self._call("org.freedesktop.DBus.Mock.EmitSignal",
                          "org.freedesktop.Notifications", "ActionInvoked", "us",
                          "[<uint32 %d>, <'%s'>]" % (notification_id, key))

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def remind_soon():
    """A 公历 day tomorrow, reminded 1 day before, at the first whole minute
    at least 15 s away, so it is not yet due when added."""
    at = datetime.datetime.now() + datetime.timedelta(seconds=75)
    at = at.replace(second=0, microsecond=0)
    day = at.date() + datetime.timedelta(days=1)
    return at, day


def add_reminded(win, name, day, at):
    set_field(win, "名称", name)
    press(win, "radio button", "公历")
    set_field(win, "月", str(day.month))
    set_field(win, "日", str(day.day))
    set_field(win, "起始年份", "")
    box = a11y.wait_find(win, "check box", "提醒：提前")
    if not a11y.has_state(box, "checked"):
        press(win, "check box", "提醒：提前")
    set_field(win, "提前天数", "1")
    set_field(win, "提醒时间", at.strftime("%H:%M"))
    press(win, "push button", "添加")


def reminder_journey(bus, desktop, bin_dir, shots):
    server = NotificationServer(bus.address, "actions body")
    prog = harness.Program(desktop, bin_dir, start_ini=LUNAR_ON, session_bus=bus.address)
    try:
        main = prog.start()
        app = bus.app(prog.proc.pid)
        grid = a11y.calendar_grid(app)
        win = open_anniversaries(desktop, prog, app, main)
        at, day = remind_soon()
        add_reminded(win, "结婚纪念日", day, at)
        wait_for(lambda: list_items(win), 10, "the item")
        desktop.xdo("key", "Escape")
        # Nothing before its time, then one notification with both buttons.
        assert "结婚纪念日" not in (server.calls() or ""), server.calls()
        calls = wait_for(lambda: (lambda c: c if c and "结婚纪念日" in c else None)(server.calls()),
                         150, "the reminder on the notification server")
        assert "'打开'" in calls and "'稍后提醒'" in calls and "就在明天" in calls, calls
        # Someone else's notification id is not ours.
        assert server.invoke(999, "0") is not None
        time.sleep(1)
        name, _ = today_cell(grid)
        assert name.split(" ")[0] == str(datetime.date.today().day), name
        # 打开 on ours (the mock numbers from 1) shows the day.
        assert server.invoke(1, "0") is not None
        wait_for(lambda: (lambda c: c and c[1].startswith("%d年%d月%d日" % (
            day.year, day.month, day.day)))(today_cell(grid)), 10, "the day shown")
        # Shown once: no second call on the next looks.
        time.sleep(21)
        assert server.calls().count("纪念日提醒：结婚纪念日") == 1, server.calls()
        assert prog.terminate() == 0
    finally:
        prog.cleanup()
        server.close()

    # A server without actions: the program's own small window, which
    # leaves the focus where it was.
    server = NotificationServer(bus.address, "body")
    prog = harness.Program(desktop, bin_dir, session_bus=bus.address)
    try:
        main = prog.start()
        app = bus.app(prog.proc.pid)
        win = open_anniversaries(desktop, prog, app, main)
        at, day = remind_soon()
        add_reminded(win, "搬家纪念日", day, at)
        wait_for(lambda: list_items(win), 10, "the item")
        focused_before = desktop.xdo("getactivewindow")
        note = a11y.window(app, "纪念日提醒：搬家纪念日", timeout=150)
        assert "搬家纪念日" not in (server.calls() or ""), server.calls()
        time.sleep(0.5)
        assert desktop.xdo("getactivewindow") == focused_before
        desktop.screenshot(os.path.join(shots, "reminder-window.png"))
        a11y.do_action(a11y.wait_find(note, "push button", "稍后提醒"), "Press")
        wait_for(lambda: not any(w.name == "纪念日提醒：搬家纪念日" and a11y.has_state(w, "showing")
                                 for w in a11y.children(app)), 10, "the reminder to close")
        assert prog.terminate() == 0
    finally:
        prog.cleanup()
        server.close()


def main():
    harness.need("wmctrl", "xprop", "xwininfo", "gdbus")
    bin_dir = sys.argv[1]
    bus = a11y.Bus()
    shots = os.environ.get("TAMSIVO_SHOTS") or tempfile.mkdtemp(prefix="tamsivo-anniversary-shots-")
    os.makedirs(shots, exist_ok=True)
    desktop = harness.Desktop(wm=True)
    try:
        harness.run_journeys([
            ("a 农历 birthday on the calendar and in the today window",
             lambda: birthday_journey(bus, desktop, bin_dir, shots)),
            ("a reminder on a private notification server and in a window of our own",
             lambda: reminder_journey(bus, desktop, bin_dir, shots)),
        ], desktop, "tamsivo-anniversaries")
        print("screenshots: " + shots)
    finally:
        desktop.close()
        bus.close()
    harness.check_logs()


if __name__ == "__main__":
    main()
