"""The offer to download a missing 休/班 schedule on the real binary, read
through AT-SPI: it comes after the windows, with 是, 否 and 不再询问, and
after 不再询问 never again. Nothing is fetched: the source named in Start.ini
is a closed port on this machine, and no answer here is 是."""
import datetime
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import a11y  # noqa: E402
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

SOURCE = "https://127.0.0.1:1/{year}.json"


def missing_years(bin_dir):
    """The years the program would offer today, as its shipped files stand."""
    today = datetime.date.today()
    shipped = {int(n[:4]) for n in os.listdir(os.path.join(bin_dir, "holidays"))
               if n.endswith(".txt") and n[:4].isdigit()}
    years = [today.year] + ([today.year + 1] if today.month >= 11 else [])
    return [y for y in years if y not in shipped]


def journey(bus, desktop, bin_dir, shots):
    years = missing_years(bin_dir)
    if not years:
        print("no schedule is missing on this date: nothing to offer")
        return
    ini = harness.DEFAULT_SETTINGS + "\r\n[节假日]\r\n下载地址=" + SOURCE
    prog = harness.Program(desktop, bin_dir, start_ini=ini, session_bus=bus.address,
                           holiday_offer=True)
    try:
        prog.start()
        app = bus.app(prog.proc.pid)
        box = a11y.window(app, "Tamsivo", 30)
        text = "\n".join(n.name for n in a11y.find_all(box, "label") if n.name)
        wanted = "日历还没有%s的放假安排" % "和".join("%d年" % y for y in years)
        assert wanted in text, text
        assert "要从 127.0.0.1 下载吗？" in text, text
        buttons = [b.name for b in a11y.find_all(box, "push button")]
        assert buttons == ["是", "否", "不再询问"], buttons
        shot = desktop.screenshot(os.path.join(shots, "holiday-offer.png"))
        a11y.do_action(a11y.wait_find(box, "push button", "不再询问"), "Press")
        wait_for(lambda: not a11y.has_state(box, "showing"), 10, "the question to close")
        wait_for(lambda: prog.setting("节假日", "不再询问") == "1", 10, "不再询问=1")
        assert prog.setting("节假日", "询问年份") == str(years[-1])
        assert not os.path.exists(os.path.join(prog.dir, "节假日"))
        assert prog.terminate() == 0

        # Never again, whatever year was last offered.
        with open(os.path.join(prog.dir, "Start.ini"), "rb") as f:
            kept = f.read().decode("gbk")
        with open(os.path.join(prog.dir, "Start.ini"), "wb") as f:
            f.write(kept.replace("询问年份=%d" % years[-1], "询问年份=").encode("gbk"))
        prog.start()
        time.sleep(4)
        assert not desktop.xdo("search", "--all", "--onlyvisible", "--pid", str(prog.proc.pid),
                               "--name", "^Tamsivo$", check=False).strip()
        assert prog.terminate() == 0
        print("screenshot: " + shot)
    finally:
        prog.cleanup()


def main():
    harness.need("wmctrl", "xprop", "xwininfo")
    bin_dir = sys.argv[1]
    bus = a11y.Bus()
    shots = os.environ.get("TAMSIVO_SHOTS") or tempfile.mkdtemp(prefix="tamsivo-holiday-offer-")
    os.makedirs(shots, exist_ok=True)
    desktop = harness.Desktop(wm=True)
    try:
        harness.run_journeys([
            ("the holiday schedule offer, 不再询问", lambda: journey(bus, desktop, bin_dir, shots)),
        ], desktop, "tamsivo-holiday-offer")
    finally:
        desktop.close()
        bus.close()
    harness.check_logs()


if __name__ == "__main__":
    main()
