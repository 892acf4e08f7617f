"""往年今日 on the real binary: memos of this day in earlier years, put in the
store while the program is not running, are listed under today's memo once
the option is on, heard through AT-SPI as a screen reader hears them, and a
double click on a line opens that year's day in the editor."""
import datetime
import os
import sqlite3
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import a11y  # noqa: E402
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

STORE = "事件数据.edb"


def years_before(day, n):
    """The same month and day n years before, or None (a 2月29日)."""
    try:
        return day.replace(year=day.year - n)
    except ValueError:
        return None


def add_memos(prog, memos):
    db = sqlite3.connect(os.path.join(prog.dir, STORE))
    try:
        db.executemany('INSERT INTO records("日期", "事情") VALUES(?, ?)',
                       [(float(harness.days_since_1899(day)), text.encode("utf-8"))
                        for day, text in memos.items()])
        db.commit()
    finally:
        db.close()


def turn_option_on(prog):
    path = os.path.join(prog.dir, "Start.ini")
    with open(path, "rb") as f:
        text = f.read().decode("gbk")
    assert "[今天备忘录窗口]\r\n" in text, text
    text = text.replace("[今天备忘录窗口]\r\n", "[今天备忘录窗口]\r\n往年今日=1\r\n")
    with open(path, "wb") as f:
        f.write(text.encode("gbk"))


def journey(bus, desktop, bin_dir, shots):
    prog = harness.Program(desktop, bin_dir, session_bus=bus.address)
    try:
        prog.start()
        assert prog.terminate() == 0
        today = datetime.date.today()
        memos = {}
        for n, text in ((1, "去年今天搬家\n第二行不显示"), (5, "五年前的生日"), (12, "十二年前的日记")):
            day = years_before(today, n)
            if day:
                memos[day] = text
        memos[today - datetime.timedelta(days=1)] = "昨天的不算"
        add_memos(prog, memos)
        turn_option_on(prog)

        main = prog.start()
        app = bus.app(prog.proc.pid)
        today_window = a11y.window(app, "今天备忘录")
        lst = a11y.wait_find(today_window, "list", "往年今日")
        expected = ["%s：%s" % (words, text)
                    for n, words, text in ((1, "一年前", "去年今天搬家"), (5, "五年前", "五年前的生日"),
                                           (12, "十二年前", "十二年前的日记"))
                    if years_before(today, n)]
        items = wait_for(lambda: [c.name for c in a11y.find_all(lst, "list item")] or None, 10,
                         "the lines of 往年今日")
        assert items == expected, items
        assert a11y.has_state(lst, "showing")
        shot = desktop.screenshot(os.path.join(shots, "past-years.png"))

        # The option's check box says it is on.
        harness.menu_command(desktop, prog, main, "选项")
        options = a11y.window(app, "Tamsivo 选项")
        box = a11y.wait_find(options, "check box", "今天备忘录下显示往年今日")
        assert a11y.has_state(box, "checked")
        options_shot = desktop.screenshot(os.path.join(shots, "past-years-options.png"))
        desktop.xdo("key", "Escape")
        wait_for(lambda: desktop.gone("^Tamsivo 选项$"), 10, "the options window to close")

        # A double click on the five-years line opens that day's editor.
        five = years_before(today, 5)
        if five:
            item = next(c for c in a11y.find_all(lst, "list item") if c.name.startswith("五年前"))
            x, y, w, h = item.queryComponent().getExtents(0)
            desktop.xdo("mousemove", str(x + w // 2), str(y + h // 2))
            desktop.xdo("click", "--repeat", "2", "--delay", "80", "1")
            title = "%d年%d月%d日 备忘录" % (five.year, five.month, five.day)
            editor = prog.find_window("^%s$" % title, 15)
            desktop.activate(editor)
            desktop.xdo("key", "Escape")
            wait_for(lambda: desktop.gone("^%s$" % title), 10, "the editor to close")
        print("screenshots: %s %s" % (shot, options_shot))
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


def main():
    harness.need("wmctrl", "xprop", "xwininfo")
    bin_dir = sys.argv[1]
    bus = a11y.Bus()
    shots = os.environ.get("TAMSIVO_SHOTS") or tempfile.mkdtemp(prefix="tamsivo-past-years-")
    os.makedirs(shots, exist_ok=True)
    desktop = harness.Desktop(wm=True)
    try:
        harness.run_journeys([
            ("往年今日 listed, heard and opened", lambda: journey(bus, desktop, bin_dir, shots)),
        ], desktop, "tamsivo-past-years")
    finally:
        desktop.close()
        bus.close()
    harness.check_logs()


if __name__ == "__main__":
    main()
