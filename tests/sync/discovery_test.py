#!/usr/bin/env python3
"""Listing a server's calendars and testing a connection, as the 同步 window
does (sync_memo_tool calendars/test), against radicale and xandikos started
on 127.0.0.1 by sync_servers_test's Server, and what `tamsivo --sync` does
with a calendar chosen from the list. Small servers of our own stand in for
a web server that is no DAV server and for answers real servers do not give
on demand.

  discovery_test.py --program build/bin/tamsivo --tool build/tests/sync_memo_tool
"""
import argparse
import http.server
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sync_servers_test as servers  # noqa: E402

OURS = "Tamsivo 备忘录"
NO_JOURNALS = "这个日历不能存备忘录（不接受日志条目 VJOURNAL），请换一个日历或只填服务器地址"
NOT_CALDAV = "这个地址不是 CalDAV 服务器（找不到用户的日历）"
NO_HOME = "服务器没有告诉这个用户的日历在哪里（没有 calendar-home-set）"


def tool(command, address, user="", password=None):
    env = {k: v for k, v in os.environ.items() if k != "TAMSIVO_TEST_PASSWORD"}
    if password is not None:
        env["TAMSIVO_TEST_PASSWORD"] = password
    p = subprocess.run([servers.ARGS.tool, command, address, user], env=env,
                       capture_output=True, text=True, timeout=120)
    reason = [line for line in p.stderr.splitlines() if not line.startswith("tamsivo: ")]
    return p.returncode, p.stdout.strip(), reason


def calendars(address, user="", password=None):
    rc, out, reason = tool("calendars", address, user, password)
    assert rc == 0, reason
    rows = []
    for line in out.splitlines():
        url, name, journals, ours = line.split("\t")
        rows.append((url, name, journals == "1", ours == "1"))
    return rows


def mkcalendar_body(name, components):
    prop = "<d:displayname>%s</d:displayname>" % name if name else ""
    if components:
        prop += ("<c:supported-calendar-component-set>%s</c:supported-calendar-component-set>" %
                 "".join('<c:comp name="%s"/>' % c for c in components))
    return ('<?xml version="1.0" encoding="utf-8"?><c:mkcalendar xmlns:d="DAV:" '
            'xmlns:c="urn:ietf:params:xml:ns:caldav"><d:set><d:prop>%s</d:prop></d:set>'
            '</c:mkcalendar>' % prop)


class OnRealServers:
    """The user's home set holds an events-only calendar (where the server
    keeps component sets), one with a Chinese name and one with none."""
    kind = None
    password = None
    principal_path = None
    home_path = None
    defaults = []  # calendars the server makes by itself: (segment, name)

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tamsivo-discovery-")
        self.server = servers.Server(self.kind, self.root, self.password)
        self.server.start()
        self.user = self.server.user if self.password else ""
        self.base = "http://127.0.0.1:%d" % self.server.port
        self.home = self.base + self.home_path
        if self.password:
            # radicale makes the user's collection on the first login.
            self.server.request("PROPFIND", self.base + self.principal_path, "",
                                {"Depth": "0"})
        for segment, name, components in (("events/", "活动 & 会议", ["VEVENT"]),
                                          ("work/", "工作日志", ["VEVENT", "VJOURNAL"]),
                                          ("%E6%97%A5%E8%AE%B0/", None, None)):
            status, text = self.server.request(
                "MKCALENDAR", self.home + segment,
                mkcalendar_body(name and name.replace("&", "&amp;"), components),
                {"Content-Type": "application/xml"})
            self.assertEqual(status, 201, text)

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def listing(self, address):
        return calendars(address, self.user, self.password)

    def member_hrefs(self):
        import xml.etree.ElementTree as ET
        status, text = self.server.request(
            "PROPFIND", self.home, '<?xml version="1.0"?><d:propfind xmlns:d="DAV:"><d:prop>'
            '<d:resourcetype/></d:prop></d:propfind>',
            {"Depth": "1", "Content-Type": "application/xml"})
        self.assertEqual(status, 207, text)
        return sorted(r.find("{DAV:}href").text for r in ET.fromstring(text)
                      .findall("{DAV:}response"))

    def expected(self):
        events_journals = self.kind != "radicale"  # xandikos keeps no component set
        rows = {self.home + "events/": ("活动 & 会议", events_journals, False),
                self.home + "work/": ("工作日志", True, False)}
        for segment, name in self.defaults:
            rows[self.home + segment] = (name, True, False)
        return rows

    def test_the_server_and_the_principal_list_every_calendar_and_write_nothing(self):
        before = self.member_hrefs()
        for address in (self.base + "/", self.base + self.principal_path):
            rows = self.listing(address)
            found = {url: (name, journals, ours) for url, name, journals, ours in rows}
            unnamed = found.pop(self.home + "%E6%97%A5%E8%AE%B0/")
            # No name: the server's own (radicale) or the path's, decoded.
            self.assertTrue(unnamed[0].endswith("日记"), unnamed)
            self.assertEqual(found, self.expected())
            rc, summary, reason = tool("test", address, self.user, self.password)
            self.assertEqual(rc, 0, reason)
            n = len(rows)
            m = sum(1 for r in rows if r[2])
            counted = ("其中 %d 个可以存备忘录" % m) if m < n else "都可以存备忘录"
            self.assertEqual(summary, "连接成功：找到 %d 个日历，%s；同步时会新建日历“%s”。" %
                             (n, counted, OURS))
        self.assertEqual(self.member_hrefs(), before)

    def test_a_calendar_address_is_that_calendar_alone(self):
        rows = self.listing(self.home + "work/")
        self.assertEqual(rows, [(self.home + "work/", "工作日志", True, False)])
        rc, summary, _ = tool("test", self.home + "work/", self.user, self.password)
        self.assertEqual(summary, "连接成功：这个日历可以存备忘录。")
        # Without its final slash it is the same calendar.
        self.assertEqual(self.listing(self.home + "work")[0][1], "工作日志")
        if self.kind == "radicale":
            rc, out, reason = tool("test", self.home + "events/", self.user, self.password)
            self.assertEqual((rc, reason), (1, [NO_JOURNALS]))
            self.assertEqual(self.listing(self.home + "events/"),
                             [(self.home + "events/", "活动 & 会议", False, False)])

    def test_a_chosen_calendar_is_synced_as_it_is_and_none_is_made_beside_it(self):
        before = self.member_hrefs()
        # The calendar whose path is Chinese, percent-encoded in its URL.
        chosen = [r[0] for r in self.listing(self.base + "/") if r[1].endswith("日记")][0]
        c = servers.Computer(self.root, "chooser", chosen, self.user, self.password)
        c.put("2026-12-09", "写进选中的日历")
        rc, out, _ = c.sync()
        self.assertIn("上传 1 天", out)
        self.assertEqual(servers.collection_of(c), chosen)
        self.assertEqual(servers.descriptions(self.server, chosen), ["写进选中的日历"])
        self.assertEqual(self.member_hrefs(), before)
        # An events-only calendar is refused, not worked around.
        if self.kind == "radicale":
            d = servers.Computer(self.root, "events", self.home + "events/", self.user,
                                 self.password)
            d.put("2026-12-09", "没有地方放")
            rc, out, err = d.sync(expect=1)
            self.assertIn(NO_JOURNALS, err)
        # The chosen calendar deleted: the computer that synced with it
        # stops (the emptied-calendar guard), a new one is told 404, and
        # nothing is made elsewhere.
        status, _ = self.server.request("DELETE", chosen)
        self.assertLess(status, 300)
        rc, out, err = c.sync(expect=1)
        self.assertIn("服务器上的日历不见了（404）", err)
        e = servers.Computer(self.root, "late", chosen, self.user, self.password)
        e.put("2026-12-10", "晚来的")
        rc, out, err = e.sync(expect=1)
        self.assertIn("服务器上没有这个地址（404）", err)
        self.assertEqual(c.memos(), {"2026-12-09": "写进选中的日历"})
        self.assertEqual(e.memos(), {"2026-12-10": "晚来的"})
        self.assertEqual(self.member_hrefs(), [h for h in before if not chosen.endswith(h)])

    def test_the_calendar_a_sync_made_is_listed_as_ours(self):
        c = servers.Computer(self.root, "first", self.base + "/", self.user, self.password)
        c.put("2026-12-09", "第一天")
        c.sync()
        ours = [r for r in self.listing(self.base + "/") if r[3]]
        self.assertEqual(ours, [(servers.collection_of(c), OURS, True, True)])
        rc, summary, _ = tool("test", self.base + "/", self.user, self.password)
        self.assertTrue(summary.endswith("；同步时用日历“%s”。" % OURS), summary)

    def test_a_path_that_is_not_there_is_told(self):
        for path in (self.home + "nothere/", self.home + "work/nothere/"):
            rc, out, reason = tool("test", path, self.user, self.password)
            self.assertEqual((rc, reason), (1, ["服务器上没有这个地址（404）"]), path)


class Radicale(OnRealServers, unittest.TestCase):
    kind = "radicale"
    password = "s3cret-密码"
    principal_path = "/anna/"
    home_path = "/anna/"

    def test_a_wrong_password_and_another_users_calendars_are_told(self):
        for address in (self.base + "/", self.home + "work/"):
            rc, out, reason = tool("test", address, self.user, "wrong")
            self.assertEqual((rc, reason), (1, ["服务器拒绝登录：用户名或密码不对"]))
        rc, out, reason = tool("test", self.base + "/bob/", self.user, self.password)
        self.assertEqual((rc, reason), (1, ["服务器不允许这个用户访问该日历（403）"]))


class Xandikos(OnRealServers, unittest.TestCase):
    kind = "xandikos"
    principal_path = "/user/"
    home_path = "/user/calendars/"
    defaults = [("calendar/", "calendar")]


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class FakeDav(http.server.BaseHTTPRequestHandler):
    """A DAV server that fails in one way at a time, and notes every method."""
    mode = None
    methods = []
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle_any(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        FakeDav.methods.append(self.command)
        head = '<?xml version="1.0"?><d:multistatus xmlns:d="DAV:">'
        plain = head + ("<d:response><d:href>%s</d:href><d:propstat><d:prop><d:resourcetype>"
                        "<d:collection/></d:resourcetype>%s</d:prop><d:status>HTTP/1.1 200 OK"
                        "</d:status></d:propstat></d:response></d:multistatus>")
        principal = "<d:current-user-principal><d:href>/p/</d:href></d:current-user-principal>"
        status, body = {
            "forbidden": (403, ""),
            "error": (500, ""),
            "broken": (207, head + "<d:response>"),
            "no principal": (207, plain % (self.path, "")),
            "no home": (207, plain % (self.path, principal)),
        }[FakeDav.mode]
        data = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/xml")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_PROPFIND = do_REPORT = do_PUT = do_MKCALENDAR = do_GET = do_OPTIONS = handle_any


def serve(handler, wrap=None):
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    if wrap:
        httpd.socket = wrap(httpd.socket)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    return httpd


class NoCalendarServer(unittest.TestCase):
    """Each failure its own one line, and nothing but PROPFIND sent."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tamsivo-discovery-")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def test_a_web_server_that_is_no_dav_server(self):
        os.makedirs(os.path.join(self.root, "site", "cal"))

        def handler(*args, **kwargs):
            return Quiet(*args, directory=os.path.join(self.root, "site"), **kwargs)
        httpd = serve(handler)
        try:
            for path in ("/", "/cal/"):
                rc, out, reason = tool("test", "http://127.0.0.1:%d%s" % (httpd.server_port, path))
                self.assertEqual((rc, reason), (1, [NOT_CALDAV]), path)
        finally:
            httpd.shutdown()
            httpd.server_close()
        # The same port with nothing listening any more.
        rc, out, reason = tool("test", "http://127.0.0.1:%d/" % httpd.server_port)
        self.assertEqual((rc, reason), (1, ["无法连接服务器（服务器没有运行，或网络不通）"]))

    def test_each_answer_that_is_no_calendar_has_its_reason(self):
        httpd = serve(FakeDav)
        try:
            for mode, wanted in (("forbidden", "服务器不允许这个用户访问该日历（403）"),
                                 ("error", "服务器出错（500）"),
                                 ("broken", "服务器的回答不是有效的 XML（WebDAV 数据已损坏）"),
                                 ("no principal", NOT_CALDAV),
                                 ("no home", NO_HOME)):
                FakeDav.mode, FakeDav.methods = mode, []
                rc, out, reason = tool("test", "http://127.0.0.1:%d/" % httpd.server_port)
                self.assertEqual((rc, reason), (1, [wanted]), mode)
                self.assertEqual(set(FakeDav.methods), {"PROPFIND"}, mode)
        finally:
            httpd.shutdown()
            httpd.server_close()

    def test_an_untrusted_certificate_is_named(self):
        key, cert = os.path.join(self.root, "key.pem"), os.path.join(self.root, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                        "/CN=localhost", "-days", "1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        FakeDav.mode, FakeDav.methods = "no home", []
        httpd = serve(FakeDav, lambda s: context.wrap_socket(s, server_side=True))
        try:
            rc, out, reason = tool("test", "https://localhost:%d/" % httpd.server_port)
            self.assertEqual((rc, reason), (1, ["服务器的证书不受信任"]))
            self.assertEqual(FakeDav.methods, [])
        finally:
            httpd.shutdown()
            httpd.server_close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--tool", required=True)
    servers.ARGS, rest = parser.parse_known_args()
    for name in ("radicale", "xandikos"):
        if not shutil.which(name):
            print("%s is not installed (scripts/deps.sh)" % name, file=sys.stderr)
            return 1
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    sys.exit(main())
