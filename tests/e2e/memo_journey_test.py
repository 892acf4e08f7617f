"""A memo written with the mouse and keyboard ends up in the store and in the
today box, and is still there after a restart."""
import datetime
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def write_memo(desktop, main_wid, x, y, text):
    editor = harness.open_editor(desktop, main_wid, (x, y))
    caption = desktop.xdo("getwindowname", editor)
    harness.type_text(desktop, editor, text)
    harness.close_window(desktop, editor)
    harness.wait_for(lambda: desktop.gone(harness.EDITOR), 10, "editor to close")
    return caption


def today_box_text(desktop):
    box = desktop.find_window("^今天备忘录$")
    x, y, w, h = desktop.geometry(box)
    desktop.click(x + w // 2, y + h // 2)
    desktop.clear_clipboard()
    desktop.xdo("key", "ctrl+a")
    desktop.xdo("key", "ctrl+c")
    return harness.wait_for(lambda: desktop.clipboard() or None, 10, "the today box's text")


def today_box_shows(desktop, expected):
    """Reads the box again until it shows `expected` (a loaded machine may
    be slow to refresh it); returns whether it did."""
    try:
        harness.wait_for(lambda: today_box_text(desktop) == expected, 10, "the today box")
        return True
    except AssertionError:
        return False


def main():
    harness.need("wmctrl", "xclip")
    bin_dir = sys.argv[1]
    desktop = harness.Desktop(wm=True)
    prog = harness.Program(desktop, bin_dir)
    try:
        main_wid = prog.start()
        time.sleep(1.0)
        today = datetime.date.today()
        cx, cy, cw, ch = harness.selected_cell(desktop, main_wid)
        _, wy, _, wh = desktop.geometry(main_wid)

        caption = write_memo(desktop, main_wid, cx + cw // 2, cy + ch // 2, "今天：买菜 milk")
        assert caption == "%d年%d月%d日 备忘录" % (today.year, today.month, today.day), caption
        memos = prog.memos()
        assert memos.get(float(harness.days_since_1899(today))) == "今天：买菜 milk", memos
        assert today_box_shows(desktop, "今天：买菜 milk")

        # Another day: the cell a week above (or below, on the first row).
        if cy - ch > wy + 60:
            other, oy = today - datetime.timedelta(days=7), cy - ch + ch // 2
        else:
            other, oy = today + datetime.timedelta(days=7), cy + ch + ch // 2
        write_memo(desktop, main_wid, cx + cw // 2, oy, "下周 meeting")
        memos = prog.memos()
        assert memos.get(float(harness.days_since_1899(other))) == "下周 meeting", memos
        assert today_box_shows(desktop, "今天：买菜 milk")
        assert len(memos) == 2

        assert prog.terminate() == 0
        prog.start()
        assert today_box_shows(desktop, "今天：买菜 milk")
        assert len(prog.memos()) == 2
        print("memo journey passed")
    except BaseException:
        desktop.screenshot(os.path.join(os.environ.get("TMPDIR", "/tmp"), "tamsivo-e2e-failure.png"))
        raise
    finally:
        prog.cleanup()
        desktop.close()
    # Every check passed: the program must not have complained either.
    harness.check_logs()


if __name__ == "__main__":
    main()
