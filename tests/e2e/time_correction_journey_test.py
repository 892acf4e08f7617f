"""Time correction against an https time page of the test's own, with the
right to set the clock taken away. The page is years off the machine's
clock, so the program first shows both times and asks: 否 leaves everything
alone; 是 reports the page's time and that the clock could not be set. The
machine's clock does not move.

The page address is built into the program, so the program runs in private
mount and network namespaces where the page's host name resolves to
127.0.0.1, a small server of this test answers on port 443 with a
certificate from a throwaway CA, and that CA stands in for the system's CA
store. Nothing leaves the namespace; the X display is reached through its
socket file."""
import datetime
import os
import signal
import subprocess
import sys
import time
import zoneinfo

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import wait_for  # noqa: E402

PAGE_MS = 1354345600123
PAGE_TIME_TEXT = "2012年12月1日15时6分40秒"  # PAGE_MS in Asia/Shanghai

SERVER = r'''
import http.server, os, ssl, sys
root = sys.argv[1]
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(os.path.join(root, "requests.log"), "a") as f:
            f.write("%s %s %s\n" % (self.command, self.headers.get("Host"), self.path))
        body = b"<html><script>window.baidu_time(PAGE_MS);</script></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 443), Page)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(os.path.join(root, "server.pem"), os.path.join(root, "server.key"))
server.socket = context.wrap_socket(server.socket, server_side=True)
open(os.path.join(root, "ready"), "w").close()
server.serve_forever()
'''.replace("PAGE_MS", str(PAGE_MS))

# Runs inside the new namespaces: loopback up, the page's host on 127.0.0.1,
# the page server started, then the program in place of the shell.
INSIDE = r'''
root=$1; shift
ip link set lo up || exit 90
mount --bind "$root/hosts" /etc/hosts || exit 91
mount --bind "$root/ca.pem" /etc/ssl/certs/ca-certificates.crt || exit 93
"$PAGE_PYTHON" "$root/timepage.py" "$root" &
echo $! > "$root/server.pid"
i=0
while [ ! -e "$root/ready" ]; do
  i=$((i + 1)); [ $i -gt 200 ] && exit 92
  sleep 0.05
done
exec "$@"
'''


def unshare_command():
    """The unshare call that works here: plain for root, else inside a user
    namespace of its own (where the clock still cannot be set); None when
    neither is permitted."""
    for extra in ([], ["--map-root-user"]):
        cmd = ["unshare"] + extra + ["--mount", "--net", "--"]
        try:
            if subprocess.run(cmd + ["true"], capture_output=True, timeout=10).returncode == 0:
                return cmd
        except OSError:
            pass
    return None


def clock():
    """(wall-clock seconds from date(1), monotonic seconds)."""
    wall = int(subprocess.run(["date", "+%s"], capture_output=True, text=True,
                              check=True).stdout)
    return wall, time.monotonic()


def stop_server(root):
    path = os.path.join(root, "server.pid")
    if not os.path.exists(path):
        return
    with open(path) as f:
        pid = int(f.read())
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            mine = b"timepage.py" in f.read()
    except OSError:
        return
    if mine:
        os.kill(pid, signal.SIGTERM)


def make_certificates(root):
    """A CA and the page host's certificate signed by it, in `root`."""
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2"]
    with open(os.path.join(root, "names.cnf"), "w") as f:
        f.write("subjectAltName=DNS:open.baidu.com\n")
    for cmd in (["openssl", "req", "-x509"] + key +
                ["-subj", "/CN=TamsivoJourneyCA",
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign",
                 "-keyout", "ca.key", "-out", "ca.pem"],
                ["openssl", "req", "-new"] + key[:-2] +
                ["-subj", "/CN=open.baidu.com", "-keyout", "server.key", "-out", "server.csr"],
                ["openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey",
                 "ca.key", "-CAcreateserial", "-days", "2", "-extfile", "names.cnf",
                 "-out", "server.pem"]):
        subprocess.run(cmd, cwd=root, check=True, capture_output=True, timeout=60)


def correction_denied(desktop, prog, unshare):
    root = prog.root
    make_certificates(root)
    with open(os.path.join(root, "hosts"), "w") as f:
        f.write("127.0.0.1 localhost\n127.0.0.1 open.baidu.com\n")
    with open(os.path.join(root, "timepage.py"), "w") as f:
        f.write(SERVER)
    with open("/etc/hosts", "rb") as f:
        hosts_before = f.read()
    prog.env["TZ"] = "Asia/Shanghai"
    prog.env["PAGE_PYTHON"] = sys.executable

    def wrap(cmd):
        return unshare + ["sh", "-c", INSIDE, "sh", root] + cmd

    wall0, mono0 = clock()
    try:
        main = prog.start(wrap)
        today = datetime.datetime.now(zoneinfo.ZoneInfo("Asia/Shanghai")).date()
        computer = "电脑时间为:%d年%d月%d日" % (today.year, today.month, today.day)

        # Years apart: both times shown and a question first. 否 ends it.
        harness.menu_command(desktop, prog, main, "矫正系统系统时间")
        box, text = prog.message_text(30)
        assert "网页时间与电脑时间相差超过24小时。" in text, text
        assert computer in text, text
        assert "网页时间为:" + PAGE_TIME_TEXT in text, text
        assert "要把系统时间改为网页时间吗？" in text and "是" in text and "否" in text, text
        shot = os.environ.get("TAMSIVO_TIME_SHOT")
        if shot:
            desktop.screenshot(shot)
        prog.answer(box, "Escape")
        time.sleep(1.5)
        left = desktop.xdo("search", "--all", "--onlyvisible", "--pid", str(prog.proc.pid),
                           "--name", "^Tamsivo$", check=False).split()
        assert not left, "a message came after the question was answered 否"

        # 是: the clock setter is denied, and that is said with the page's time.
        harness.menu_command(desktop, prog, main, "矫正系统系统时间")
        box, text = prog.message_text(30)
        assert "网页时间与电脑时间相差超过24小时。" in text, text
        prog.answer(box, "Return")
        box, text = prog.message_text(10)
        assert "无法设置系统时间：" in text, text
        assert "网页时间为:" + PAGE_TIME_TEXT in text, text
        assert "当前矫正时间为" not in text, text
        prog.answer(box, "Return")

        with open(os.path.join(root, "requests.log")) as f:
            requests = f.read().splitlines()
        assert requests == ["GET open.baidu.com /special/time"] * 2, requests
        # The calendar stays on the real day (of the program's time zone).
        title = desktop.xdo("getwindowname", main)
        assert title == "Tamsivo %d年%d月%d日" % (today.year, today.month, today.day), title
        assert prog.terminate() == 0
    finally:
        prog.terminate()
        stop_server(root)
    wall1, mono1 = clock()
    drift = (wall1 - wall0) - (mono1 - mono0)
    assert abs(drift) < 3, "the clock moved by %.1f s" % drift
    # The host name trick stayed inside the namespace.
    with open("/etc/hosts", "rb") as f:
        assert f.read() == hosts_before


def main():
    harness.need("unshare", "ip", "setpriv", "xclip", "xprop", "xwininfo", "openssl")
    unshare = unshare_command()
    if unshare is None:
        print("skipped: private mount and network namespaces are not permitted here")
        raise SystemExit(harness.SKIP)
    bin_dir = sys.argv[1]
    desktop = harness.Desktop(wm=True)
    prog = harness.Program(desktop, bin_dir)
    try:
        harness.run_journeys([
            ("time correction with the clock setter denied",
             lambda: correction_denied(desktop, prog, unshare)),
        ], desktop, "tamsivo-e2e-time")
    finally:
        prog.cleanup()
        desktop.close()
    # Every check passed: the program must not have complained either.
    harness.check_logs()


if __name__ == "__main__":
    main()
