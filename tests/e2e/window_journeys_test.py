"""Journeys over one run of the real program under a window manager and a
tray host: the first start, hiding and showing both windows through the menu
and the tray, pinning on and off, and the start-at-login entry on and off.
Every check reads the files or asks the X server, never the program."""
import os
import shutil
import sqlite3
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

TODAY_TITLE = "^今天备忘录$"


def first_start(desktop, prog, main, today):
    assert prog.settings_bytes() == harness.DEFAULT_SETTINGS.encode("gbk")
    assert len(prog.settings_bytes()) == 172

    store = os.path.join(prog.dir, "事件数据.edb")
    with open(store, "rb") as f:
        assert f.read(16) == b"SQLite format 3\x00"
    db = sqlite3.connect("file:" + store + "?mode=ro", uri=True)
    try:
        assert db.execute("SELECT count(*) FROM records").fetchone() == (0,)
    finally:
        db.close()

    assert desktop.mapped(main) and desktop.mapped(today)
    assert sorted(prog.windows()) == sorted([main, today]), prog.windows()

    # Default place of MainWindow (outer edge), the today window edge to edge
    # on its right, tops aligned.
    def placed():
        m = desktop.frame_geometry(main)
        t = desktop.frame_geometry(today)
        return m[:2] == (117, 184) and t[:2] == (m[0] + m[2], m[1])
    try:
        wait_for(placed, 10, "the default placement")
    except AssertionError:
        raise AssertionError("MainWindow frame %s, today window frame %s" % (
            desktop.frame_geometry(main), desktop.frame_geometry(today)))


def tray_icon(desktop, prog, panel):
    """The program's icon window inside the tray host, or None."""
    for wid in desktop.children(panel):
        if desktop.window_pid(wid) == prog.proc.pid and desktop.mapped(wid):
            return wid
    return None


def hide_and_show(desktop, prog, main, today, panel):
    assert tray_icon(desktop, prog, panel) is None, "tray icon shown with 托盘=0"

    harness.menu_command(desktop, prog, main, "Tamsivo 隐藏")
    wait_for(lambda: desktop.map_state(main) == "IsUnMapped", 10, "MainWindow to be unmapped")
    assert prog.setting("主窗口", "隐藏") == "1"
    assert prog.setting("主窗口", "托盘") == "1"
    assert prog.setting("今天备忘录窗口", "隐藏") == "0"
    assert desktop.mapped(today)
    icon = wait_for(lambda: tray_icon(desktop, prog, panel), 10, "the tray icon")

    # The tray icon's context click opens the same menu.
    x, y, w, h = desktop.geometry(icon)
    desktop.move_pointer(x + w // 2, y + h // 2)
    desktop.xdo("click", "3")
    wait_for(lambda: harness.popup_menu(desktop, prog), 10, "the menu from the tray")
    harness.choose(desktop, prog, "Tamsivo 隐藏")
    wait_for(lambda: desktop.mapped(main), 10, "MainWindow to be mapped again")
    assert prog.setting("主窗口", "隐藏") == "0"
    # Still reachable from the tray: 托盘 stays as written.
    assert prog.setting("主窗口", "托盘") == "1"
    assert tray_icon(desktop, prog, panel) is not None

    harness.menu_command(desktop, prog, main, "今天备忘录 隐藏")
    wait_for(lambda: desktop.map_state(today) == "IsUnMapped", 10, "the today window to be unmapped")
    assert prog.setting("今天备忘录窗口", "隐藏") == "1"
    assert prog.setting("主窗口", "隐藏") == "0"
    assert desktop.mapped(main)

    harness.menu_command(desktop, prog, main, "今天备忘录 隐藏")
    wait_for(lambda: desktop.mapped(today), 10, "the today window to be mapped again")
    assert prog.setting("今天备忘录窗口", "隐藏") == "0"
    # Shown again beside MainWindow, not wherever it was hidden.
    m = desktop.frame_geometry(main)
    t = desktop.frame_geometry(today)
    assert t[:2] == (m[0] + m[2], m[1]), (m, t)


def pin_state(desktop, wid):
    """(below, on every workspace) as the window manager reports them; some
    managers show "sticky" only as the all-workspaces desktop number."""
    state = desktop.wm_state(wid)
    out = desktop.run("xprop", "-id", str(wid), "_NET_WM_DESKTOP", check=False).stdout
    every = "_NET_WM_STATE_STICKY" in state or out.strip().endswith("= 4294967295")
    return ("_NET_WM_STATE_BELOW" in state, every)


def pinning(desktop, prog, main, today):
    for wid in (main, today):
        assert pin_state(desktop, wid) == (False, False), desktop.wm_state(wid)

    harness.menu_command(desktop, prog, main, "嵌入桌面")
    for wid in (main, today):
        wait_for(lambda: pin_state(desktop, wid) == (True, True), 10, "window %s pinned" % wid)
    assert prog.setting("今天备忘录窗口", "嵌入桌面") == "1"

    harness.menu_command(desktop, prog, main, "嵌入桌面")
    for wid in (main, today):
        wait_for(lambda: pin_state(desktop, wid) == (False, False), 10,
                 "window %s released" % wid)
        assert desktop.mapped(wid)
    assert prog.setting("今天备忘录窗口", "嵌入桌面") == "0"


def autostart(desktop, prog, main):
    entry = os.path.join(prog.env["XDG_CONFIG_HOME"], "autostart", "Tamsivo.desktop")
    assert not os.path.exists(entry)

    harness.menu_command(desktop, prog, main, "开机启动本程序")
    wait_for(lambda: os.path.exists(entry), 10, "the autostart entry")
    assert prog.setting("主窗口", "开机启动") == "1"
    with open(entry, encoding="utf-8") as f:
        lines = f.read().splitlines()
    assert "[Desktop Entry]" in lines, lines
    execs = [line for line in lines if line.startswith("Exec=")]
    assert execs == ['Exec="%s"' % prog.executable], execs
    assert "Type=Application" in lines, lines
    assert not any(line.startswith("Path=") for line in lines), lines

    harness.menu_command(desktop, prog, main, "开机启动本程序")
    wait_for(lambda: not os.path.exists(entry), 10, "the autostart entry to go")
    assert prog.setting("主窗口", "开机启动") == "0"
    # Nothing left behind in the folder (no temporary files).
    assert os.listdir(os.path.dirname(entry)) == []


def main():
    harness.need("xprop", "xwininfo", "xclip")
    bin_dir = sys.argv[1]
    desktop = harness.Desktop(wm=True)
    prog = harness.Program(desktop, bin_dir)
    wids = {}
    try:
        # Without a tray host a hidden main window could not be brought back.
        panel = desktop.start_tray() if shutil.which("trayer") else None

        def hide_show():
            if panel is None:
                print("skipped hide and show: no trayer")
                return
            hide_and_show(desktop, prog, wids["main"], wids["today"], panel)

        def start():
            wids["main"] = prog.start()
            wids["today"] = prog.find_window(TODAY_TITLE)
            first_start(desktop, prog, wids["main"], wids["today"])

        def finish():
            # SIGTERM ends the program even while a message box waits for an
            # answer, and the place is saved on the way out.
            harness.menu_command(desktop, prog, wids["main"], "关于本程序")
            box = prog.find_window("^关于本程序$", 10)
            desktop.activate(box)
            desktop.xdo("key", "ctrl+c")
            text = wait_for(lambda: desktop.clipboard() or None, 10, "the box's text")
            assert "本程序处于测试阶段" in text, text
            place = desktop.frame_geometry(wids["main"])[:2]
            assert prog.terminate() == 0
            assert (int(prog.setting("主窗口", "左边")), int(prog.setting("主窗口", "顶边"))) == place
        harness.run_journeys([
            ("first start", start),
            ("hide and show", hide_show),
            ("pinning", lambda: pinning(desktop, prog, wids["main"], wids["today"])),
            ("autostart", lambda: autostart(desktop, prog, wids["main"])),
            ("SIGTERM with a message box open", finish),
        ], desktop, "tamsivo-e2e-windows")
    finally:
        prog.cleanup()
        desktop.close()
    # Every check passed: the program must not have complained either.
    harness.check_logs()


if __name__ == "__main__":
    main()
