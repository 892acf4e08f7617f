#!/usr/bin/python3
"""How soon a memo saved in the running program reaches the CalDAV server,
and that one saved just before quitting still goes out (and the quit's
time). The real binary under Xvfb, a radicale on 127.0.0.1 without a
password, the editor driven as a user does. Run by hand:

    python3 bench/sync_save_bench.py BUILD/bin [ROUNDS]

Only processes started here are ended, by their PID.
"""
import os, sys, subprocess, time, socket, tempfile, urllib.request
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from desktop import Desktop, wait_for
from harness import EDITOR, Program, open_editor, type_text, close_window, selected_cell

bin_dir = sys.argv[1]
s = socket.socket(); s.bind(("127.0.0.1", 0)); port = s.getsockname()[1]; s.close()
store = tempfile.mkdtemp(prefix="rad-")
rad = subprocess.Popen(["radicale", "--storage-filesystem-folder", store, "--server-hosts",
                        "127.0.0.1:%d" % port, "--auth-type", "none"],
                       env=dict(os.environ, HOME=store), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(2)
d = Desktop()
def on_server(day):
    for root, _, files in os.walk(store):
        if "tamsivo-memo-%s.ics" % day in files:
            return open(os.path.join(root, "tamsivo-memo-%s.ics" % day), encoding="utf-8").read()
    return None
try:
    ini = "[同步]\r\n地址=http://127.0.0.1:%d/anna/\r\n用户名=anna\r\n开启=1" % port
    p = Program(d, bin_dir, start_ini=ini)
    wid = p.start()
    time.sleep(3)
    import datetime
    day = datetime.date.today().strftime("%Y%m%d")
    results = []
    for n in range(int(sys.argv[2]) if len(sys.argv) > 2 else 5):
        cx, cy, cw, ch = selected_cell(d, wid)
        ed = open_editor(d, wid, (cx + cw // 2, cy + ch // 2))
        text = "latency %d" % n
        type_text(d, ed, text)
        close_window(d, ed)
        t0 = time.time()
        wait_for(lambda: (on_server(day) or "").find(text) >= 0 or None, 30, "the server copy")
        results.append(time.time() - t0)
        time.sleep(1)
    print("save → server (s):", ["%.2f" % r for r in results], "max %.2f" % max(results))
    # Saved and quit at once: the last short run at the end takes it.
    cx, cy, cw, ch = selected_cell(d, wid)
    ed = open_editor(d, wid, (cx + cw // 2, cy + ch // 2))
    type_text(d, ed, "saved at the end")
    close_window(d, ed)
    wait_for(lambda: d.gone(EDITOR) or None, 10, "the editor to close")
    t0 = time.time()
    p.proc.terminate()
    p.proc.wait()
    print("quit right after a save: %.2f s, on the server: %s"
          % (time.time() - t0, "saved at the end" in (on_server(day) or "")))
finally:
    d.close()
    rad.terminate(); rad.wait()
