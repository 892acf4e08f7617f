"""What startup_bench.py --sync needs: the servers a start meets (a radicale
of its own, a closed port, a port that accepts and never answers), Start.ini
items, the store's sync state, and ratios of paired runs.

Everything listens on 127.0.0.1 only; only processes started here are ended,
by their PID."""
import base64
import json
import os
import random
import select
import socket
import sqlite3
import statistics
import subprocess
import threading
import time
import urllib.parse
import urllib.request

from benchlib import stop


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=20):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("no server on 127.0.0.1:%d" % port)


class Radicale:
    """radicale on 127.0.0.1 with a temporary storage folder, no password."""

    def __init__(self, root):
        self.root = root
        self.port = free_port()
        self.storage = os.path.join(root, "radicale-storage")
        os.makedirs(self.storage)
        self.proc = None
        self.log = None

    def address(self, user):
        return "http://127.0.0.1:%d/%s/" % (self.port, user)

    def start(self):
        cmd = ["radicale", "--storage-filesystem-folder", self.storage,
               "--server-hosts", "127.0.0.1:%d" % self.port, "--auth-type", "none"]
        self.log = open(os.path.join(self.root, "radicale.log"), "ab")
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        self.proc = subprocess.Popen(cmd, stdout=self.log, stderr=self.log,
                                     env=dict(env, HOME=self.root))
        wait_port(self.port)

    def warm(self, user, timeout=1800):
        """Asks for every item's ETag once, so radicale parses and caches the
        items written into its storage before the program's first sync, whose
        requests have a time limit. With 10,000 items that sync still ends
        in a timeout on this machine (see bench/README.md)."""
        body = (b'<?xml version="1.0"?><d:propfind xmlns:d="DAV:"><d:prop><d:getetag/>'
                b'</d:prop></d:propfind>')
        req = urllib.request.Request(self.address(user) + COLLECTION + "/", data=body,
                                     method="PROPFIND",
                                     headers={"Depth": "1", "Content-Type": "application/xml"})
        # No password is checked, but the default rights give a user's
        # calendars to that user only.
        req.add_header("Authorization",
                       "Basic " + base64.b64encode(("%s:" % user).encode()).decode())
        # Straight to 127.0.0.1, never through a proxy.
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(req, timeout=timeout) as r:
            r.read()

    def stop(self):
        if self.proc:
            stop(self.proc, 10)
            self.proc = None
        if self.log:
            self.log.close()
            self.log = None


COLLECTION = "tamsivo-memos"


def _fold(line):
    """An iCalendar content line folded at 75 octets, never inside a character."""
    out, cur = [], b""
    for ch in line:
        b = ch.encode("utf-8")
        if len(cur) + len(b) > (75 if not out else 74):
            out.append(cur)
            cur = b""
        cur += b
    out.append(cur)
    return b"\r\n ".join(out).decode("utf-8") + "\r\n"


def _escape(text):
    return (text.replace("\\", "\\\\").replace(";", "\\;").replace(",", "\\,")
            .replace("\r\n", "\n").replace("\n", "\\n"))


def journal(day, text, stamp):
    """The calendar resource the program uploads for a day's memo (same UID,
    resource name, date and texts), so a first sync finds the day agreed."""
    date = time.strftime("%Y%m%d", time.gmtime((day - 25569) * 86400))
    summary = next((l.strip() for l in text.splitlines() if l.strip()), "")
    lines = ["BEGIN:VCALENDAR", "PRODID:-//Tamsivo//备忘录//ZH", "VERSION:2.0", "BEGIN:VJOURNAL",
             "UID:tamsivo-memo-" + date, "DTSTAMP:" + stamp, "LAST-MODIFIED:" + stamp,
             "DTSTART;VALUE=DATE:" + date, "SUMMARY:" + _escape(summary),
             "DESCRIPTION:" + _escape(text), "END:VJOURNAL", "END:VCALENDAR"]
    return "tamsivo-memo-%s.ics" % date, "".join(_fold(l) for l in lines)


def seed_storage(storage, user, store):
    """Writes every memo of `store` into radicale's (stopped) storage as the
    program's first sync would have uploaded it. radicale takes each upload
    after a look at every item already there, so uploading 10,000 memos
    through it takes hours; the first sync then only fetches and agrees."""
    folder = os.path.join(storage, "collection-root", user, COLLECTION)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, ".Radicale.props"), "w") as f:
        json.dump({"C:supported-calendar-component-set": "VJOURNAL",
                   "D:displayname": "Tamsivo 备忘录", "tag": "VCALENDAR"}, f)
    stamp = time.strftime("%Y%m%dT%H%M%SZ", time.gmtime())
    db = sqlite3.connect("file:%s?mode=ro" % store, uri=True)
    try:
        rows = db.execute('SELECT "日期", "事情" FROM records').fetchall()
    finally:
        db.close()
    count = 0
    for day, text in rows:
        text = (text.decode("utf-8") if isinstance(text, bytes) else text or "")
        if not text.strip():
            continue
        name, body = journal(int(day), text, stamp)
        with open(os.path.join(folder, name), "w", encoding="utf-8", newline="") as f:
            f.write(body)
        count += 1
    return count


class SilentServer:
    """Accepts connections on 127.0.0.1 and never answers: what it is sent
    is read and dropped, a connection is closed only when its peer closes."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.accepted = 0
        self._quit_r, self._quit_w = os.pipe()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def address(self, user):
        return "http://127.0.0.1:%d/%s/" % (self.port, user)

    def _serve(self):
        peers = []
        while True:
            ready, _, _ = select.select([self.sock, self._quit_r] + peers, [], [])
            if self._quit_r in ready:
                break
            for s in ready:
                if s is self.sock:
                    conn, _ = self.sock.accept()
                    self.accepted += 1
                    peers.append(conn)
                else:
                    try:
                        data = s.recv(65536)
                    except OSError:
                        data = b""
                    if not data:
                        peers.remove(s)
                        s.close()
        for s in peers:
            s.close()

    def stop(self):
        os.write(self._quit_w, b"x")
        self._thread.join(5)
        self.sock.close()
        os.close(self._quit_r)
        os.close(self._quit_w)


def closed_port_address(user):
    """An address on 127.0.0.1 where nothing listens (connections refused)."""
    return "http://127.0.0.1:%d/%s/" % (free_port(), user)


# --- Start.ini (GBK, CR LF) ----------------------------------------------------

def set_items(ini, items):
    """Sets `items` ({section: {key: value}}) in the GBK Start.ini at `ini`,
    keeping every other line as it is; a missing file or section is made."""
    lines = []
    if os.path.exists(ini):
        with open(ini, "rb") as f:
            lines = f.read().decode("gbk").split("\r\n")
        if lines and lines[-1] == "":
            lines.pop()
    for section, pairs in items.items():
        header = "[%s]" % section
        if header not in (l.strip() for l in lines):
            lines.append(header)
        start = [l.strip() for l in lines].index(header) + 1
        end = start
        while end < len(lines) and not lines[end].strip().startswith("["):
            end += 1
        for key, value in pairs.items():
            line = "%s=%s" % (key, value)
            for i in range(start, end):
                if lines[i].split("=", 1)[0].strip() == key:
                    lines[i] = line
                    break
            else:
                lines.insert(end, line)
                end += 1
    with open(ini, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("gbk"))


# --- the store's sync state ------------------------------------------------------

def last_run(store):
    """(started, finished, ok, line) of the store's last sync, or None."""
    db = sqlite3.connect("file:%s?mode=ro" % store, uri=True, timeout=5)
    try:
        row = db.execute("SELECT value FROM sync_state WHERE key = 'last_run'").fetchone()
    except sqlite3.OperationalError:
        return None
    finally:
        db.close()
    if not row:
        return None
    started, finished, ok, line = row[0].split("\t", 3)
    return int(started), int(finished), ok == "1", line


def move_server(store, old_address, new_address):
    """Points a synced store's state at another server address, as if the
    server it synced with now stood there: its address and calendar."""
    old_base = "%s://%s/" % urllib.parse.urlsplit(old_address)[:2]
    new_base = "%s://%s/" % urllib.parse.urlsplit(new_address)[:2]
    db = sqlite3.connect(store)
    try:
        with db:
            for key in ("address", "collection"):
                row = db.execute("SELECT value FROM sync_state WHERE key = ?", (key,)).fetchone()
                if not row or not row[0].startswith(old_base):
                    raise RuntimeError("store %s: sync state %s is %r" % (store, key, row))
                db.execute("UPDATE sync_state SET value = ? WHERE key = ?",
                           (new_base + row[0][len(old_base):], key))
    finally:
        db.close()


# --- paired ratios -----------------------------------------------------------------

def paired_ratio(case, base, rounds=2000, seed=1):
    """Median of the per-round ratios case/base (runs of one round ran next to
    each other, so they shared the machine's load) and a bootstrap 95 %
    interval of that median."""
    ratios = [c / b for c, b in zip(case, base) if b]
    if not ratios:
        return None
    rng = random.Random(seed)
    meds = sorted(statistics.median(rng.choices(ratios, k=len(ratios))) for _ in range(rounds))
    return statistics.median(ratios), meds[int(0.025 * rounds)], meds[int(0.975 * rounds) - 1]


def spread(values):
    """(25th, 75th percentile) of `values`."""
    if len(values) < 4:
        return min(values), max(values)
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]
