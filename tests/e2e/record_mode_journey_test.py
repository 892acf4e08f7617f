"""Record mode 1 (记录方式=1, edited into Start.ini by hand): a single click on
another day opens that day's editor; a single click on today does not, a
double click on today does. (Mode 2 is the memo journey's.)"""
import datetime
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

EDITOR_TITLE = "^[0-9]+年[0-9]+月[0-9]+日 备忘录$"


def caption(day):
    return "%d年%d月%d日 备忘录" % (day.year, day.month, day.day)


def close_editor(desktop, editor):
    desktop.run("wmctrl", "-i", "-c", hex(int(editor)))
    wait_for(lambda: desktop.gone(EDITOR_TITLE), 10, "the editor to close")


def single_click_mode(desktop, prog, main):
    today = datetime.date.today()
    time.sleep(0.5)
    cx, cy, cw, ch = harness.selected_cell(desktop, main)
    _, wy, _, _ = desktop.geometry(main)
    if cy - ch > wy + 60:
        other, oy = today - datetime.timedelta(days=7), cy - ch + ch // 2
    else:
        other, oy = today + datetime.timedelta(days=7), cy + ch + ch // 2

    # Today, one click: no editor.
    desktop.activate(main)
    desktop.click(cx + cw // 2, cy + ch // 2)
    time.sleep(1.5)
    assert desktop.gone(EDITOR_TITLE), "a single click on today opened the editor"

    # Today, double click: its editor.
    desktop.click(cx + cw // 2, cy + ch // 2, double=True)
    editor = prog.find_window(EDITOR_TITLE, 10)
    assert desktop.xdo("getwindowname", editor) == caption(today)
    time.sleep(0.5)
    assert len(desktop.xdo("search", "--onlyvisible", "--name", EDITOR_TITLE).split()) == 1
    close_editor(desktop, editor)

    # Another day, one click: its editor, at once.
    desktop.activate(main)
    desktop.click(cx + cw // 2, oy)
    editor = prog.find_window(EDITOR_TITLE, 10)
    assert desktop.xdo("getwindowname", editor) == caption(other)
    close_editor(desktop, editor)

    # Back to today from the other day, one click: still no editor.
    desktop.activate(main)
    desktop.click(cx + cw // 2, cy + ch // 2)
    time.sleep(1.5)
    assert desktop.gone(EDITOR_TITLE), "a single click back on today opened the editor"
    assert harness.selected_cell(desktop, main)[:2] == (cx, cy)
    # Empty memos are not stored.
    assert prog.memos() == {}


def main():
    harness.need("wmctrl", "xprop", "xwininfo")
    bin_dir = sys.argv[1]
    desktop = harness.Desktop(wm=True)
    ini = harness.DEFAULT_SETTINGS.replace("记录方式=2", "记录方式=1")
    prog = harness.Program(desktop, bin_dir, start_ini=ini)
    try:
        wids = {}

        def start():
            wids["main"] = prog.start()
            # The hand-edited file is left as it was.
            assert prog.settings_bytes() == prog.initial_settings
        harness.run_journeys([
            ("start with 记录方式=1", start),
            ("record mode 1", lambda: single_click_mode(desktop, prog, wids["main"])),
        ], desktop, "tamsivo-e2e-record-mode")
    finally:
        prog.cleanup()
        desktop.close()
    # Every check passed: the program must not have complained either.
    harness.check_logs()


if __name__ == "__main__":
    main()
