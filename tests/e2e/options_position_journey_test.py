"""Options changed in the options window are kept over a restart, and the main
window's place is saved both by 退出 and by SIGTERM and used at the next
start. Checked in Start.ini, in the X server's geometry and in screen pixels."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

TODAY_TITLE = "^今天备忘录$"
OPTIONS_TITLE = "^Tamsivo 选项$"

# Radio buttons of the options window: group box origin plus the button's own
# place, client coordinates; the round mark sits 7, 6 into the button.
POSITION_GROUP = (8, 155)
POSITION_BUTTONS = {"自定义": (8, 22), "靠上": (80, 22), "靠下": (152, 22), "靠左": (224, 22),
                    "靠右": (296, 22)}
RECORD_GROUP = (8, 211)
RECORD_BUTTONS = {"单击鼠标": (8, 20), "双击鼠标": (90, 20)}


def button_point(group, button, dx, dy):
    return group[0] + button[0] + dx, group[1] + button[1] + dy


def checked_radios(desktop, options):
    """Names of the radio buttons drawn with the dot of a checked button."""
    x, y, _, _ = desktop.geometry(options)
    checked = set()
    for group, buttons in ((POSITION_GROUP, POSITION_BUTTONS), (RECORD_GROUP, RECORD_BUTTONS)):
        for name, place in buttons.items():
            cx, cy = button_point(group, place, 7, 6)
            px = desktop.pixels(x + cx - 1, y + cy - 1, 3, 3)
            if min(sum(c) // 3 for c in px.values()) < 128:
                checked.add(name)
    return checked


def shows_checked(desktop, options, expected):
    """Waits until the options window draws exactly `expected` checked (a
    loaded machine may map it before it paints); fails with what it drew."""
    seen = []

    def drawn():
        seen[:] = [checked_radios(desktop, options)]
        return seen[0] == expected
    try:
        wait_for(drawn, 20, "the radio buttons drawn")
    except AssertionError:
        raise AssertionError("checked %s, not %s" % (seen[0], expected))


def click_radio(desktop, options, group, place):
    x, y, _, _ = desktop.geometry(options)
    cx, cy = button_point(group, place, 30, 6)
    desktop.activate(options)
    desktop.click(x + cx, y + cy)


def open_options(desktop, prog, main):
    harness.menu_command(desktop, prog, main, "选项")
    return prog.find_window(OPTIONS_TITLE, 20)


def close_window(desktop, wid, title):
    desktop.run("wmctrl", "-i", "-c", hex(int(wid)))
    wait_for(lambda: desktop.gone(title), 20, "window %s to close" % title)


def below(desktop, main, today):
    m = desktop.frame_geometry(main)
    t = desktop.frame_geometry(today)
    return t[:2] == (m[0], m[1] + m[3])


def options_survive_restart(desktop, prog):
    main = prog.start()
    today = prog.find_window(TODAY_TITLE)
    options = open_options(desktop, prog, main)
    shows_checked(desktop, options, {"靠右", "双击鼠标"})

    click_radio(desktop, options, POSITION_GROUP, POSITION_BUTTONS["靠下"])
    wait_for(lambda: prog.setting("今天备忘录窗口", "模式") == "3", 20, "模式=3")
    try:
        wait_for(lambda: below(desktop, main, today), 20, "the today window below")
    except AssertionError:
        raise AssertionError("MainWindow %s, today window %s" % (
            desktop.frame_geometry(main), desktop.frame_geometry(today)))
    click_radio(desktop, options, RECORD_GROUP, RECORD_BUTTONS["单击鼠标"])
    wait_for(lambda: prog.setting("今天备忘录窗口", "记录方式") == "1", 20, "记录方式=1")
    shows_checked(desktop, options, {"靠下", "单击鼠标"})
    close_window(desktop, options, OPTIONS_TITLE)
    # Closing the window changes nothing.
    assert prog.setting("今天备忘录窗口", "模式") == "3"

    assert prog.terminate() == 0
    saved = prog.settings()
    main = prog.start()
    today = prog.find_window(TODAY_TITLE)
    try:
        wait_for(lambda: below(desktop, main, today), 20, "the today window below after a restart")
    except AssertionError:
        raise AssertionError("MainWindow %s, today window %s" % (
            desktop.frame_geometry(main), desktop.frame_geometry(today)))
    options = open_options(desktop, prog, main)
    shows_checked(desktop, options, {"靠下", "单击鼠标"})
    close_window(desktop, options, OPTIONS_TITLE)
    assert prog.settings() == saved
    assert prog.terminate() == 0


def drag_main_to(desktop, main, today, left, top):
    """Drags MainWindow by its title bar so its outer top-left lands at
    left, top; returns the outer place the X server then reports, once the
    program has seen the move (the today window, 靠右, has followed)."""
    fx, fy, fw, _ = desktop.frame_geometry(main)
    _, _, top_extent, _ = desktop.frame_extents(main)
    grab_x, grab_y = fx + fw // 3, fy + max(top_extent // 2, 1)
    desktop.activate(main)
    desktop.drag(grab_x, grab_y, grab_x + left - fx, grab_y + top - fy)
    wait_at(desktop, main, (left, top), "after the drag")
    wait_for(lambda: right_of(desktop, main, today), 20, "the today window to follow")
    return desktop.frame_geometry(main)[:2]


def wait_at(desktop, main, place, when):
    try:
        wait_for(lambda: desktop.frame_geometry(main)[:2] == place, 20, "MainWindow's place")
    except AssertionError:
        raise AssertionError("MainWindow at %s %s, not at %s" % (
            desktop.frame_geometry(main)[:2], when, place))


def right_of(desktop, main, today):
    m = desktop.frame_geometry(main)
    return desktop.frame_geometry(today)[:2] == (m[0] + m[2], m[1])


def saved_position(prog):
    return int(prog.setting("主窗口", "左边")), int(prog.setting("主窗口", "顶边"))


def position_saved_on_both_ways_out(desktop, prog):
    main = prog.start()
    today = prog.find_window(TODAY_TITLE)
    # Dragged only once the start has placed both windows, or the program's
    # own placing could follow the drag.
    wait_at(desktop, main, (117, 184), "at the first start")
    wait_for(lambda: right_of(desktop, main, today), 20, "the today window beside it")
    place = drag_main_to(desktop, main, today, 300, 260)

    harness.menu_command(desktop, prog, main, "退出")
    assert prog.proc.wait(30) == 0
    assert saved_position(prog) == place, (saved_position(prog), place)

    main = prog.start()
    wait_at(desktop, main, place, "after 退出 and a new start")
    today = prog.find_window(TODAY_TITLE)
    wait_for(lambda: right_of(desktop, main, today), 20, "the today window beside it")

    place = drag_main_to(desktop, main, today, 520, 330)
    assert prog.terminate() == 0
    assert saved_position(prog) == place, (saved_position(prog), place)

    main = prog.start()
    wait_at(desktop, main, place, "after SIGTERM and a new start")
    # A start and an end without a move keep the place exactly.
    assert prog.terminate() == 0
    assert saved_position(prog) == place, (saved_position(prog), place)


def main():
    harness.need("wmctrl", "xprop", "xwininfo")
    bin_dir = sys.argv[1]
    desktop = harness.Desktop(wm=True)
    progs = []

    def fresh(journey):
        # Each journey in a program directory of its own, ended either way.
        def run():
            prog = harness.Program(desktop, bin_dir)
            progs.append(prog)
            try:
                journey(desktop, prog)
            finally:
                prog.terminate()
        return run
    try:
        harness.run_journeys([
            ("options survive a restart", fresh(options_survive_restart)),
            ("position saved by 退出 and SIGTERM", fresh(position_saved_on_both_ways_out)),
        ], desktop, "tamsivo-e2e-options-position")
    finally:
        for prog in progs:
            prog.cleanup()
        desktop.close()
    # Every check passed: the program must not have complained either.
    harness.check_logs()


if __name__ == "__main__":
    main()
