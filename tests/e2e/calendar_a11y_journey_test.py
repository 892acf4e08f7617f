"""The month calendar as a screen reader hears it: each day cell's name (the
number, the lunar line, 休/班 when 显示农历和节日 is on) and description (the
day's tooltip), read through AT-SPI and checked against the almanac and the
official days off, with the option on and switched off in the options window.
Screenshots of both go to $TAMSIVO_SHOTS, or to a new temporary folder."""
import datetime
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import a11y  # noqa: E402  (starts nothing on import)
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

WEEKDAYS = "一二三四五六日"
MONTHS = ["一月", "二月", "三月", "四月", "五月", "六月", "七月", "八月", "九月", "十月", "十一月",
          "十二月"]
DAY_NAMES = (["初" + c for c in "一二三四五六七八九十"] + ["十" + c for c in "一二三四五六七八九"]
             + ["二十"] + ["廿" + c for c in "一二三四五六七八九"] + ["三十"])
# First days of the lunar months around August 2025, from the almanac: the
# leap sixth month begins on 2025-07-25.
LUNAR_MONTHS_2025 = [(datetime.date(2025, 6, 25), "六月"), (datetime.date(2025, 7, 25), "闰六月"),
                     (datetime.date(2025, 8, 23), "七月"), (datetime.date(2025, 9, 22), "八月")]
# Named days in the August 2025 page: festivals and solar terms.
NAMED_2025 = {datetime.date(2025, 8, 1): "建军节", datetime.date(2025, 8, 7): "立秋",
              datetime.date(2025, 8, 23): "处暑", datetime.date(2025, 8, 29): "七夕节",
              datetime.date(2025, 9, 6): "中元节"}
# The State Council's 2026 arrangement, as far as the October page shows it.
OFF_2026 = {datetime.date(2026, 9, d): "中秋节" for d in (25, 26, 27)}
OFF_2026.update({datetime.date(2026, 10, d): "国庆节" for d in range(1, 8)})
WORK_2026 = {datetime.date(2026, 9, 20): "国庆节", datetime.date(2026, 10, 10): "国庆节"}

LUNAR_ON = harness.DEFAULT_SETTINGS.replace("记录后回到今天=0\r\n",
                                            "记录后回到今天=0\r\n显示农历=1\r\n")


def page_days(year, month):
    """The 42 days a Sunday-first month page shows (a whole week of the month
    before when the 1st is a Sunday)."""
    first = datetime.date(year, month, 1)
    lead = (first.weekday() + 1) % 7 or 7
    start = first - datetime.timedelta(days=lead)
    return [start + datetime.timedelta(days=i) for i in range(42)]


def lunar_2025(day):
    """(month name, day name) of a day in the months listed above."""
    start, name = [m for m in LUNAR_MONTHS_2025 if m[0] <= day][-1]
    return name, DAY_NAMES[(day - start).days]


def date_text(day):
    return "%d年%d月%d日 星期%s" % (day.year, day.month, day.day, WEEKDAYS[day.weekday()])


def month_bar(app):
    """(month, year) as the month bar's buttons name them."""
    calendar = a11y.find(app, "table", "日历")
    bar = a11y.find(calendar, "filler")
    names = [b.name for b in a11y.children(bar) if b.getRoleName() == "push button" and b.name]
    return tuple(names)


def shown_month(app):
    """(year, month) the month bar names, or None while it names none."""
    bar = month_bar(app)
    if len(bar) != 2 or bar[0] not in MONTHS or not bar[1].isdigit():
        return None
    return int(bar[1]), MONTHS.index(bar[0]) + 1


def turn_to(desktop, app, main, grid, year, month):
    """PageUp and PageDown on the grid until the month bar shows the month;
    returns the page's cells once the first one is that page's."""
    for _ in range(5):
        y, m = wait_for(lambda: shown_month(app), 10, "the month bar")
        steps = (year - y) * 12 + month - m
        if steps == 0:
            break
        desktop.activate(main)
        desktop.xdo("key", "--delay", "40", *(["Next" if steps > 0 else "Prior"] * abs(steps)))
        wait_for(lambda: shown_month(app) not in (None, (y, m)), 10, "the page to turn")
        # A key the server dropped only leaves the page short of the goal.
        time.sleep(0.3)
    first = page_days(year, month)[0]
    wait_for(lambda: shown_month(app) == (year, month)
             and a11y.cells(grid)[0][1].startswith(date_text(first)),
             10, "the page of %d-%02d" % (year, month))
    return a11y.cells(grid)


def beside(desktop, main, today):
    m = desktop.frame_geometry(main)
    t = desktop.frame_geometry(today)
    return t[:2] == (m[0] + m[2], m[1])


def check_august_2025(cells):
    problems = []
    for day, (name, description) in zip(page_days(2025, 8), cells):
        month, lunar_day = lunar_2025(day)
        line = NAMED_2025.get(day) or (month if lunar_day == "初一" else lunar_day)
        tip = date_text(day) + " · 农历乙巳年" + month + lunar_day
        if day in NAMED_2025:
            tip += " · " + NAMED_2025[day]
        if name != "%d %s" % (day.day, line) or description != tip:
            problems.append("%s: %r / %r, expected %r / %r" % (day, name, description,
                                                                "%d %s" % (day.day, line), tip))
    assert not problems, "\n".join(problems)


def check_october_2026(cells, lines_shown):
    problems = []
    for day, (name, description) in zip(page_days(2026, 10), cells):
        mark = "休" if day in OFF_2026 else "班" if day in WORK_2026 else None
        words = name.split(" ")
        if words[0] != str(day.day):
            problems.append("%s named %r" % (day, name))
        if lines_shown:
            # number, lunar line, then the mark when there is one
            if (words[-1] if len(words) == 3 else None) != mark or len(words) not in (2, 3):
                problems.append("%s named %r, mark %s" % (day, name, mark))
        elif len(words) != 1:
            problems.append("%s named %r with the lunar line off" % (day, name))
        if not description.startswith(date_text(day) + " · 农历丙午年"):
            problems.append("%s described %r" % (day, description))
        holiday = OFF_2026.get(day) or WORK_2026.get(day)
        tail = " · %s（%s）" % (mark, holiday) if mark else None
        if (tail is not None) != ("（" in description) or (tail and not description.endswith(tail)):
            problems.append("%s described %r, expected the end %r" % (day, description, tail))
    assert not problems, "\n".join(problems)
    # 国庆节 is also the day's name: the line shows the festival.
    assert cells[4][0] == ("1 国庆节 休" if lines_shown else "1"), cells[4]


def journey(bus, desktop, bin_dir, shots):
    prog = harness.Program(desktop, bin_dir, start_ini=LUNAR_ON, session_bus=bus.address)
    try:
        main = prog.start()
        today_wid = prog.find_window("^今天备忘录$")
        app = bus.app(prog.proc.pid)
        grid = a11y.calendar_grid(app)
        now = datetime.date.today()

        # The page of today, as the program opens it.
        cells = a11y.cells(grid)
        days = page_days(now.year, now.month)
        for day, (name, description) in zip(days, cells):
            assert name.startswith("%d " % day.day), (day, name)
            assert description.startswith(date_text(day) + " · 农历"), (day, description)
        selected = [c for c in a11y.children(grid)
                    if c.getRoleName() == "table cell" and a11y.has_state(c, "selected")]
        assert [c.name.split(" ")[0] for c in selected] == [str(now.day)], selected
        # Years with no arrangement on file say so.
        for day, (_, description) in zip(days, cells):
            if day.year > 2026:
                assert description.endswith(" · 未收录%d年放假安排" % day.year), description

        assert shown_month(app) == (now.year, now.month), month_bar(app)
        check_august_2025(turn_to(desktop, app, main, grid, 2025, 8))
        check_october_2026(turn_to(desktop, app, main, grid, 2026, 10), True)
        # Arrow keys across months: the focused cell is the day chosen, and
        # Qt finds every cell it announces (it would warn on standard error).
        goal = datetime.date(2026, 10, min(now.day, 31)) + datetime.timedelta(days=70)
        desktop.activate(main)
        desktop.xdo("key", "--delay", "60", *(["Down"] * 10))
        wait_for(lambda: shown_month(app) == (goal.year, goal.month), 10, "the page of %s" % goal)
        cell = wait_for(lambda: next((c for c in a11y.children(grid)
                                      if c.getRoleName() == "table cell"
                                      and a11y.has_state(c, "focused")), None),
                        10, "a focused day cell")
        assert cell.name.split(" ")[0] == str(goal.day), (cell.name, goal)
        assert a11y.has_state(cell, "selected"), cell.name
        check_october_2026(turn_to(desktop, app, main, grid, 2026, 10), True)
        # The window manager settles the shrunk frame first: slow under load.
        wait_for(lambda: beside(desktop, main, today_wid), 30, "the today window beside")
        on_size = desktop.frame_geometry(main)[2:]
        on_shot = desktop.screenshot(os.path.join(shots, "calendar-lunar-on.png"))

        # Off in the options window, from the keyboard: focus the check box
        # the way a screen reader moves there, then Space.
        harness.menu_command(desktop, prog, main, "选项")
        options = a11y.window(app, "Tamsivo 选项")
        box = a11y.wait_find(options, "check box", "显示农历和节日")
        assert a11y.has_state(box, "checked")
        a11y.do_action(box, "SetFocus")
        wait_for(lambda: a11y.has_state(box, "focused"), 10, "the check box focused")
        desktop.xdo("key", "space")
        wait_for(lambda: prog.setting("主窗口", "显示农历") == "0", 10, "显示农历=0")
        assert not a11y.has_state(box, "checked")
        # Escape closes it.
        desktop.xdo("key", "Escape")
        wait_for(lambda: desktop.gone("^Tamsivo 选项$"), 10, "the options window to close")

        cells = wait_for(lambda: (lambda c: c if c[4][0] == "1" else None)(a11y.cells(grid)),
                         10, "bare day numbers")
        check_october_2026(cells, False)
        wait_for(lambda: desktop.frame_geometry(main)[2:] != on_size, 10, "MainWindow to shrink")
        off_size = desktop.frame_geometry(main)[2:]
        assert off_size[0] < on_size[0] and off_size[1] < on_size[1], (on_size, off_size)
        # The window manager settles the shrunk frame first: slow under load.
        wait_for(lambda: beside(desktop, main, today_wid), 30, "the today window beside")
        off_shot = desktop.screenshot(os.path.join(shots, "calendar-lunar-off.png"))
        print("screenshots: %s %s" % (on_shot, off_shot))
        assert prog.terminate() == 0
    finally:
        prog.cleanup()


def main():
    harness.need("wmctrl", "xprop", "xwininfo")
    bin_dir = sys.argv[1]
    bus = a11y.Bus()
    shots = os.environ.get("TAMSIVO_SHOTS") or tempfile.mkdtemp(prefix="tamsivo-calendar-shots-")
    os.makedirs(shots, exist_ok=True)
    desktop = harness.Desktop(wm=True)
    try:
        harness.run_journeys([
            ("the calendar through AT-SPI, lunar line on and off",
             lambda: journey(bus, desktop, bin_dir, shots)),
        ], desktop, "tamsivo-calendar-a11y")
    finally:
        desktop.close()
        bus.close()
    harness.check_logs()


if __name__ == "__main__":
    main()
