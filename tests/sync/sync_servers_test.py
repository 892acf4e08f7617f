#!/usr/bin/env python3
"""Journeys of `tamsivo --sync` through real CalDAV servers on 127.0.0.1.

Two program directories ("two computers") sync through one server started
here with a temporary storage folder: radicale (rewrites what it stores,
with a password) and xandikos (strict). A small misbehaving server stands in
only for answers real servers do not give (Retry-After, 507, broken XML).

  sync_servers_test.py --program build/bin/tamsivo --tool build/tests/sync_memo_tool
"""
import argparse
import base64
import http.server
import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request
import uuid

ARGS = None
SEP = "—— 另一处的版本（"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=15):
    end = time.time() + timeout
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("server did not start on %d" % port)


class Server:
    """A CalDAV server of Debian's, ours to start and stop by its pid."""

    def __init__(self, kind, root, password=None):
        self.kind, self.root, self.password = kind, root, password
        self.port = free_port()
        self.storage = os.path.join(root, kind + "-storage")
        os.makedirs(self.storage)
        self.proc = None
        self.user = "anna"

    @property
    def address(self):
        # radicale: the user's own collection; xandikos: the server only,
        # so discovery runs (well-known, principal, home set, MKCALENDAR).
        if self.kind == "radicale":
            return "http://127.0.0.1:%d/%s/" % (self.port, self.user)
        return "http://127.0.0.1:%d/" % self.port

    def start(self):
        if self.kind == "radicale":
            cmd = ["radicale", "--storage-filesystem-folder", self.storage,
                   "--server-hosts", "127.0.0.1:%d" % self.port]
            if self.password:
                users = os.path.join(self.root, "users")
                with open(users, "w") as f:
                    f.write("%s:%s\n" % (self.user, self.password))
                cmd += ["--auth-type", "htpasswd", "--auth-htpasswd-filename", users,
                        "--auth-htpasswd-encryption", "plain"]
            else:
                cmd += ["--auth-type", "none"]
        else:
            cmd = ["xandikos", "-d", self.storage, "-l", "127.0.0.1", "-p", str(self.port),
                   "--defaults"]
        self.log = open(os.path.join(self.root, self.kind + ".log"), "ab")
        self.proc = subprocess.Popen(cmd, stdout=self.log, stderr=self.log,
                                     env=dict(os.environ, HOME=self.root))
        wait_port(self.port)

    def stop(self):
        if self.proc:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc = None
            self.log.close()

    def request(self, method, url, body=None, headers=None):
        req = urllib.request.Request(url, data=body.encode() if body is not None else None,
                                     method=method, headers=headers or {})
        if self.password:
            token = base64.b64encode(("%s:%s" % (self.user, self.password)).encode()).decode()
            req.add_header("Authorization", "Basic " + token)
        try:
            with urllib.request.urlopen(req, timeout=10) as r:
                return r.status, r.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode()


def collection_of(computer):
    db = sqlite3.connect("file:%s?mode=ro" % computer.store, uri=True)
    row = db.execute("SELECT value FROM sync_state WHERE key = 'collection'").fetchone()
    db.close()
    return row[0]


def members(server, collection):
    """href -> calendar data of every resource in the collection."""
    body = ('<?xml version="1.0"?><c:calendar-query xmlns:d="DAV:" '
            'xmlns:c="urn:ietf:params:xml:ns:caldav"><d:prop><c:calendar-data/></d:prop>'
            '<c:filter><c:comp-filter name="VCALENDAR"/></c:filter></c:calendar-query>')
    status, text = server.request("REPORT", collection, body,
                                  {"Depth": "1", "Content-Type": "application/xml"})
    assert status == 207, (status, text)
    import xml.etree.ElementTree as ET
    out = {}
    for resp in ET.fromstring(text).findall("{DAV:}response"):
        href = resp.find("{DAV:}href").text
        data = resp.find(".//{urn:ietf:params:xml:ns:caldav}calendar-data")
        if data is not None and data.text:
            out[href] = data.text
    return out


def descriptions(server, collection):
    """Every DESCRIPTION on the server, unfolded and unescaped."""
    texts = []
    for data in members(server, collection).values():
        unfolded = data.replace("\r\n", "\n").replace("\n ", "").replace("\n\t", "")
        for line in unfolded.split("\n"):
            if line.startswith("DESCRIPTION"):
                value = line.split(":", 1)[1]
                texts.append(value.replace("\\n", "\n").replace("\\,", ",").replace("\\;", ";")
                             .replace("\\\\", "\\"))
    return texts


class Computer:
    """A portable copy of the program with its own store and Start.ini."""

    def __init__(self, root, name, address, user="", password=None):
        self.dir = os.path.join(root, name)
        os.makedirs(self.dir)
        self.home = os.path.join(root, name + "-home")
        os.makedirs(self.home)
        shutil.copy2(ARGS.program, self.dir)
        self.store = os.path.join(self.dir, "事件数据.edb")
        subprocess.run([ARGS.tool, "create", self.store], check=True)
        self.configure(address, user)
        if password is not None:
            path = os.path.join(self.dir, "同步密码")
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            os.write(fd, (password + "\n").encode())
            os.close(fd)

    def configure(self, address, user="", on=True):
        text = "[主窗口]\r\n托盘=0\r\n[同步]\r\n地址=%s\r\n用户名=%s\r\n开启=%d\r\n" % (
            address, user, 1 if on else 0)
        with open(os.path.join(self.dir, "Start.ini"), "wb") as f:
            f.write(text.encode("gbk"))

    def put(self, day, text):
        path = os.path.join(self.dir, "..", "text-" + str(uuid.uuid4()))
        with open(path, "wb") as f:
            f.write(text.encode())
        subprocess.run([ARGS.tool, "put", self.store, day, path], check=True)
        os.remove(path)

    def put_many(self, texts):
        path = os.path.join(self.dir, "..", "texts-" + str(uuid.uuid4()))
        with open(path, "w") as f:
            for day, text in texts.items():
                f.write("%s\t%s\n" % (day, text.encode().hex()))
        subprocess.run([ARGS.tool, "putmany", self.store, path], check=True)
        os.remove(path)

    def memos(self):
        out = subprocess.run([ARGS.tool, "dump", self.store], check=True, capture_output=True,
                             text=True).stdout
        result = {}
        for line in out.splitlines():
            day, hexed = line.split("\t")
            result[day] = bytes.fromhex(hexed).decode()
        return result

    def env(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
        env.update(HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                   XDG_DATA_HOME=os.path.join(self.home, "data"),
                   XDG_RUNTIME_DIR=self.home, LANG="C.UTF-8")
        return env

    def start_sync(self):
        return subprocess.Popen([os.path.join(self.dir, "tamsivo"), "--sync"], env=self.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def sync(self, expect=0):
        p = self.start_sync()
        out, err = p.communicate(timeout=120)
        if expect is not None and p.returncode != expect:
            raise AssertionError("--sync ended %d, wanted %d\nstdout: %s\nstderr: %s" %
                                 (p.returncode, expect, out, err))
        return p.returncode, out.strip(), err.strip()

    def integrity(self):
        # Read-write: a journal a kill left is rolled back first, as any
        # connection of the program does.
        db = sqlite3.connect(self.store)
        verdict = db.execute("PRAGMA integrity_check").fetchone()[0]
        db.close()
        return verdict


def chinese_lines(err):
    """The lines for the user; English detail lines (tamsivo: ...) aside."""
    return [line for line in err.splitlines() if not line.startswith("tamsivo: ")]


def journal(uid, day, text):
    escaped = text.replace("\\", "\\\\").replace("\n", "\\n").replace(",", "\\,").replace(";", "\\;")
    return ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Phone//jtx//EN\r\nBEGIN:VJOURNAL\r\n"
            "UID:%s\r\nDTSTAMP:20261209T023200Z\r\nDTSTART;VALUE=DATE:%s\r\n"
            "SUMMARY:%s\r\nDESCRIPTION:%s\r\nEND:VJOURNAL\r\nEND:VCALENDAR\r\n" %
            (uid, day.replace("-", ""), escaped.split("\\n")[0], escaped))


class Journeys:
    """The cases every server goes through; subclasses name the server."""
    kind = None
    password = None

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tamsivo-sync-")
        self.server = Server(self.kind, self.root, self.password)
        self.server.start()
        user = self.server.user if self.password else ""
        self.a = Computer(self.root, "office", self.server.address, user, self.password)
        self.b = Computer(self.root, "home", self.server.address, user, self.password)

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def test_memos_travel_both_ways_and_an_unchanged_run_changes_nothing(self):
        self.a.put("2026-12-09", "今天开会\n带上报告, 还有; 分号")
        self.a.put("2026-12-10", "第二天")
        rc, out, _ = self.a.sync()
        self.assertIn("上传 2 天", out)
        rc, out, _ = self.b.sync()
        self.assertIn("下载 2 天", out)
        self.assertEqual(self.b.memos(), self.a.memos())
        self.b.put("2026-12-10", "第二天，家里改过")
        self.b.sync()
        rc, out, _ = self.a.sync()
        self.assertIn("下载 1 天", out)
        self.assertEqual(self.a.memos()["2026-12-10"], "第二天，家里改过")
        # Servers rewrite what they store: nothing changed is no change.
        for c in (self.a, self.b):
            rc, out, _ = c.sync()
            self.assertEqual(out, "同步完成：上传 0 天，下载 0 天，冲突 0 天。")

    def test_a_day_changed_on_both_keeps_both_texts_on_both(self):
        self.a.put("2026-12-09", "原来的")
        self.a.sync()
        self.b.sync()
        self.a.put("2026-12-09", "原来的，办公室加的")
        self.b.put("2026-12-09", "家里重写的")
        self.a.sync()
        rc, out, _ = self.b.sync()
        self.assertIn("冲突 1 天", out)
        self.a.sync()
        merged = self.b.memos()["2026-12-09"]
        self.assertEqual(self.a.memos()["2026-12-09"], merged)
        self.assertTrue(merged.startswith("家里重写的\n" + SEP), merged)
        self.assertTrue(merged.endswith("——\n原来的，办公室加的"), merged)
        self.assertEqual(merged.count(SEP), 1)
        self.assertEqual(descriptions(self.server, collection_of(self.a)), [merged])

    def test_two_computers_writing_the_same_new_day_meet_on_one_resource(self):
        self.a.put("2026-12-11", "一样的字")
        self.b.put("2026-12-11", "一样的字")
        self.a.put("2026-12-12", "办公室的新一天")
        self.b.put("2026-12-12", "家里的新一天")
        self.a.sync()
        rc, out, _ = self.b.sync()
        self.assertIn("冲突 1 天", out)
        self.a.sync()
        self.assertEqual(self.a.memos(), self.b.memos())
        self.assertEqual(self.a.memos()["2026-12-11"], "一样的字")
        both = self.a.memos()["2026-12-12"]
        self.assertIn("办公室的新一天", both)
        self.assertIn("家里的新一天", both)
        self.assertEqual(sorted(descriptions(self.server, collection_of(self.a))),
                         sorted([both, "一样的字"]))

    def test_emptied_on_one_side_and_changed_on_the_other_keeps_the_text(self):
        self.a.put("2026-12-09", "要留下的")
        self.a.sync()
        self.b.sync()
        self.a.put("2026-12-09", "")
        self.b.put("2026-12-09", "要留下的，还改了")
        self.a.sync()
        self.b.sync()
        self.a.sync()
        self.assertEqual(self.a.memos()["2026-12-09"], "要留下的，还改了")
        self.assertEqual(self.b.memos()["2026-12-09"], "要留下的，还改了")

    def test_two_first_syncs_at_the_same_moment_meet_on_one_calendar(self):
        self.a.put("2026-12-09", "办公室")
        self.b.put("2026-12-09", "家里")
        runs = [c.start_sync() for c in (self.a, self.b)]
        for p in runs:
            out, err = p.communicate(timeout=120)
            self.assertEqual(p.returncode, 0, err)
        self.assertEqual(collection_of(self.a), collection_of(self.b))
        self.a.sync()
        self.b.sync()
        self.a.sync()
        both = self.a.memos()["2026-12-09"]
        self.assertEqual(self.b.memos()["2026-12-09"], both)
        self.assertIn("办公室", both)
        self.assertIn("家里", both)

    def test_a_second_sync_of_the_same_memos_waits_its_turn(self):
        self.a.put_many({"2029-%02d-%02d" % (m, d): "第 %d 天" % d + "字" * 500
                         for m in (1, 2) for d in range(1, 29)})
        first = self.a.start_sync()
        time.sleep(0.2)
        rc, out, err = self.a.sync(expect=None)
        overlapped = first.poll() is None
        first.communicate(timeout=120)
        self.assertEqual(first.returncode, 0)
        if overlapped:
            self.assertEqual(rc, 1)
            self.assertIn("Tamsivo 正在使用", err)
        rc, out, _ = self.a.sync()
        self.assertEqual(out, "同步完成：上传 0 天，下载 0 天，冲突 0 天。")

    def test_a_first_upload_of_several_batches_meets_a_day_written_elsewhere(self):
        texts = {"2030-%02d-%02d" % (m, d): "批量 %d-%d\n" % (m, d) + "字" * (d * 7)
                 for m in range(1, 10) for d in range(1, 29)}
        self.b.put("2030-03-03", "家里先写的")
        self.b.sync()
        self.a.put_many(texts)
        rc, out, _ = self.a.sync()
        self.assertIn("上传 %d 天" % len(texts), out)
        self.assertIn("冲突 1 天", out)
        rc, out, _ = self.b.sync()
        self.assertIn("下载 %d 天" % len(texts), out)
        self.assertEqual(self.b.memos(), self.a.memos())
        both = self.a.memos()["2030-03-03"]
        self.assertTrue(both.startswith(texts["2030-03-03"]), both)
        self.assertIn("家里先写的", both)
        self.assertEqual(len(descriptions(self.server, collection_of(self.a))), len(texts))
        for c in (self.a, self.b):
            rc, out, _ = c.sync()
            self.assertEqual(out, "同步完成：上传 0 天，下载 0 天，冲突 0 天。")

    def test_a_record_with_a_time_of_day_is_not_sent(self):
        self.a.put("2026-12-09", "整天的")
        db = sqlite3.connect(self.a.store)
        db.execute('INSERT INTO records("日期", "事情") VALUES(?, ?)', (46365.5, "半天".encode()))
        db.commit()
        db.close()
        rc, out, _ = self.a.sync()
        self.assertIn("上传 1 天", out)
        self.assertEqual(descriptions(self.server, collection_of(self.a)), ["整天的"])

    def test_an_emptied_day_is_emptied_on_the_other_computer(self):
        self.a.put("2026-12-09", "写错了")
        self.a.sync()
        self.b.sync()
        self.a.put("2026-12-09", "")
        self.a.sync()
        self.b.sync()
        self.assertEqual(self.b.memos().get("2026-12-09", ""), "")
        self.assertEqual(descriptions(self.server, collection_of(self.a)), [])

    def test_changes_made_while_the_server_is_down_go_up_when_it_is_back(self):
        self.a.put("2026-12-09", "第一版")
        self.a.sync()
        self.server.stop()
        self.a.put("2026-12-09", "离线时改的")
        self.a.put("2026-12-13", "离线时新写的")
        rc, out, err = self.a.sync(expect=1)
        self.assertEqual(chinese_lines(err), ["tamsivo：同步失败：无法连接服务器（服务器没有运行，或网络不通）"
                                              "（上传 0 天，下载 0 天，冲突 0 天）。"])
        self.server.start()
        rc, out, _ = self.a.sync()
        self.assertIn("上传 2 天", out)
        self.b.sync()
        self.assertEqual(self.b.memos(), self.a.memos())

    def test_a_kill_during_sync_leaves_everything_whole(self):
        texts = {"2027-%02d-%02d" % (m, d): "第 %d 月 %d 日\n" % (m, d) + "字" * (40 * d)
                 for m in range(1, 13) for d in range(1, 11)}
        self.a.put_many(texts)
        for delay in (0.15, 0.4, 0.8):
            p = self.a.start_sync()
            time.sleep(delay)
            p.send_signal(signal.SIGKILL)
            p.communicate()
            self.assertEqual(self.a.integrity(), "ok")
            self.assertEqual(self.a.memos(), texts)
        self.a.sync()
        self.b.sync()
        self.assertEqual(self.b.memos(), texts)
        self.assertEqual(len(descriptions(self.server, collection_of(self.a))), len(texts))
        rc, out, _ = self.a.sync()
        self.assertEqual(out, "同步完成：上传 0 天，下载 0 天，冲突 0 天。")

    def test_a_server_stopped_mid_sync_loses_nothing(self):
        texts = {"2028-%02d-%02d" % (m, d): "服务器中途停了 %d-%d\n" % (m, d) + "字" * (30 * d)
                 for m in range(1, 13) for d in range(1, 11)}
        self.a.put_many(texts)
        p = self.a.start_sync()
        time.sleep(0.5)
        self.server.stop()
        out, err = p.communicate(timeout=120)
        self.assertEqual(p.returncode, 1, out + err)
        self.assertEqual(len(chinese_lines(err)), 1, err)
        self.assertEqual(self.a.memos(), texts)
        self.server.start()
        self.a.sync()
        self.b.sync()
        self.assertEqual(self.b.memos(), texts)

    def test_an_emptied_calendar_deletes_nothing_here_and_stops(self):
        self.a.put("2026-12-09", "不能丢")
        self.a.put("2026-12-10", "也不能丢")
        self.a.sync()
        collection = collection_of(self.a)
        for href in members(self.server, collection):
            status, _ = self.server.request("DELETE", "http://127.0.0.1:%d%s" % (self.server.port,
                                                                                  href))
            self.assertLess(status, 300)
        before = self.a.memos()
        rc, out, err = self.a.sync(expect=1)
        self.assertIn("清空", err)
        self.assertIn("上传全部", err)
        self.assertEqual(self.a.memos(), before)
        rc, out, err = self.a.sync(expect=1)
        self.assertEqual(self.a.memos(), before)
        self.assertIn("tamsivo --sync-upload-all", err)
        # The user's answer 上传全部: everything here goes up again.
        p = subprocess.run([os.path.join(self.a.dir, "tamsivo"), "--sync-upload-all"],
                           env=self.a.env(), capture_output=True, text=True, timeout=120)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn("上传 2 天", p.stdout)
        self.b.sync()
        self.assertEqual(self.b.memos(), before)

    def test_a_phones_journals_appear_and_an_edit_leaves_the_text_once(self):
        self.a.put("2026-12-09", "电脑上写的")
        self.a.sync()
        collection = collection_of(self.a)
        phone1, phone2 = str(uuid.uuid4()), str(uuid.uuid4())
        for uid, day, text in ((phone1, "2026-12-14", "手机上写的"),
                               (phone2, "2026-12-14", "手机上又写一条"),
                               (str(uuid.uuid4()), "2026-12-09", "手机补一句")):
            status, _ = self.server.request(
                "PUT", collection + uid + ".ics", journal(uid, day, text),
                {"Content-Type": "text/calendar", "If-None-Match": "*"})
            self.assertIn(status, (201, 204))
        rc, out, _ = self.a.sync()
        memos = self.a.memos()
        self.assertEqual(sorted(memos["2026-12-14"].split("\n\n")), sorted(["手机上写的", "手机上又写一条"]))
        self.assertEqual(memos["2026-12-09"], "电脑上写的\n\n手机补一句")
        edited = memos["2026-12-14"].replace("手机上写的", "手机上写的（电脑上改过）")
        self.a.put("2026-12-14", edited)
        self.a.sync()
        self.a.sync()
        self.b.sync()
        texts = descriptions(self.server, collection_of(self.a))
        self.assertEqual(texts.count(edited), 1, texts)
        self.assertNotIn("手机上写的", [t for t in texts if t != edited and "手机上写的" in t])
        self.assertEqual(self.b.memos()["2026-12-14"], edited)
        self.assertEqual(self.b.memos()["2026-12-09"], "电脑上写的\n\n手机补一句")
        self.assertEqual(self.a.memos()["2026-12-14"], edited)


class RadicaleWithPassword(Journeys, unittest.TestCase):
    kind = "radicale"
    password = "s3cret-密码"

    def test_a_wrong_password_is_told_and_changes_nothing(self):
        self.a.put("2026-12-09", "留在这里")
        os.chmod(os.path.join(self.a.dir, "同步密码"), 0o600)
        with open(os.path.join(self.a.dir, "同步密码"), "w") as f:
            f.write("wrong\n")
        rc, out, err = self.a.sync(expect=1)
        self.assertIn("用户名或密码不对", err)
        self.assertNotIn("wrong", err)
        self.assertEqual(self.a.memos(), {"2026-12-09": "留在这里"})

    def test_a_password_file_others_can_read_is_refused(self):
        os.chmod(os.path.join(self.a.dir, "同步密码"), 0o644)
        rc, out, err = self.a.sync(expect=1)
        self.assertIn("别的用户也能读取", err)
        self.assertNotIn(self.password, err + out)


@unittest.skipUnless(shutil.which("gnome-keyring-daemon") and shutil.which("dbus-run-session")
                     and shutil.which("secret-tool"), "no Secret Service to start")
class PasswordFromTheSecretService(unittest.TestCase):
    """The password from a keyring on a session bus of the test's own."""

    def test_the_keyrings_password_is_used_and_never_shown(self):
        root = tempfile.mkdtemp(prefix="tamsivo-sync-")
        server = Server("radicale", root, "钥匙环里的-pw")
        server.start()
        try:
            c = Computer(root, "c", server.address, server.user)
            c.put("2026-12-09", "钥匙环")
            script = (
                'eval "$(printf \'unlock\\n\' | gnome-keyring-daemon --unlock --components=secrets)"\n'
                'printf %s "$PW" | secret-tool store --label=Tamsivo server "$ADDR" user "$USERNAME"\n'
                'exec "$PROGRAM" --sync\n')
            env = dict(c.env(), PW=server.password, ADDR=server.address, USERNAME=server.user,
                       PROGRAM=os.path.join(c.dir, "tamsivo"))
            p = subprocess.run(["dbus-run-session", "--", "bash", "-c", script], env=env,
                               capture_output=True, text=True, timeout=60)
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertIn("上传 1 天", p.stdout)
            self.assertNotIn(server.password, p.stdout + p.stderr)
        finally:
            server.stop()
            shutil.rmtree(root, ignore_errors=True)


class Xandikos(Journeys, unittest.TestCase):
    kind = "xandikos"


class NotSetUp(unittest.TestCase):
    def test_without_an_address_one_line_and_status_1(self):
        root = tempfile.mkdtemp(prefix="tamsivo-sync-")
        try:
            c = Computer(root, "c", "")
            rc, out, err = c.sync(expect=1)
            self.assertEqual(len(chinese_lines(err)), 1, err)
            self.assertIn("还没有设置同步", err)
            c.configure("http://127.0.0.1:9/", on=False)
            rc, out, err = c.sync(expect=1)
            self.assertIn("还没有设置同步", err)
            c.configure("http://192.0.2.1/cal/")
            rc, out, err = c.sync(expect=1)
            self.assertIn("https://", err)
        finally:
            shutil.rmtree(root, ignore_errors=True)


class Misbehaving(http.server.BaseHTTPRequestHandler):
    """Answers real servers do not give on demand, one mode at a time."""
    mode = "busy"
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body="", headers=()):
        data = body.encode()
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.rfile.read(length)
        mode = Misbehaving.mode
        calendar = ('<?xml version="1.0"?><d:multistatus xmlns:d="DAV:" '
                    'xmlns:c="urn:ietf:params:xml:ns:caldav"><d:response><d:href>/cal/</d:href>'
                    '<d:propstat><d:prop><d:resourcetype><d:collection/><c:calendar/>'
                    '</d:resourcetype></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>'
                    '</d:response></d:multistatus>')
        if self.command == "PROPFIND" and self.headers.get("Depth") == "0":
            return self.answer(207, calendar, [("Content-Type", "application/xml")])
        if mode == "busy":
            return self.answer(503, "", [("Retry-After", "120")])
        if mode == "broken":
            return self.answer(207, "<d:multistatus xmlns:d='DAV:'><d:response>",
                               [("Content-Type", "application/xml")])
        if mode == "full":
            if self.command == "REPORT":
                return self.answer(207, '<?xml version="1.0"?><d:multistatus xmlns:d="DAV:">'
                                   '<d:sync-token>t1</d:sync-token></d:multistatus>')
            return self.answer(507)
        if mode == "refused":
            if self.command == "REPORT":
                return self.answer(207, '<?xml version="1.0"?><d:multistatus xmlns:d="DAV:">'
                                   '<d:sync-token>t1</d:sync-token></d:multistatus>')
            return self.answer(415)
        return self.answer(500)

    do_PROPFIND = do_REPORT = do_PUT = do_DELETE = do_GET = do_MKCALENDAR = handle_any


class MisbehavingServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Misbehaving)
        cls.thread = threading.Thread(target=cls.httpd.serve_forever, daemon=True)
        cls.thread.start()

    @classmethod
    def tearDownClass(cls):
        cls.httpd.shutdown()
        cls.httpd.server_close()

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tamsivo-sync-")
        self.c = Computer(self.root, "c", "http://127.0.0.1:%d/cal/" % self.httpd.server_port)
        self.c.put("2026-12-09", "不能丢")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def run_mode(self, mode):
        Misbehaving.mode = mode
        rc, out, err = self.c.sync(expect=1)
        self.assertEqual(len(chinese_lines(err)), 1, err)
        self.assertEqual(self.c.memos(), {"2026-12-09": "不能丢"})
        self.assertEqual(self.c.integrity(), "ok")
        return err

    def test_each_failure_has_its_reason_and_loses_nothing(self):
        self.assertIn("120 秒后再试", self.run_mode("busy"))
        # The wait asked for is kept: the next run does not knock at once.
        self.assertIn("还要等", self.run_mode("broken"))
        db = sqlite3.connect(self.c.store)
        db.execute("UPDATE sync_state SET value = '' WHERE key = 'retry_until'")
        db.commit()
        db.close()
        self.assertIn("不是有效的 XML", self.run_mode("broken"))
        self.assertIn("存储空间已满", self.run_mode("full"))
        err = self.run_mode("refused")
        self.assertIn("2026年12月9日", err)
        self.assertIn("415", err)


class UntrustedCertificate(unittest.TestCase):
    """https to a server whose certificate no CA of the system signed."""

    def test_the_certificate_is_named_and_nothing_is_sent(self):
        import ssl
        root = tempfile.mkdtemp(prefix="tamsivo-sync-")
        key, cert = os.path.join(root, "key.pem"), os.path.join(root, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                        "/CN=localhost", "-days", "1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Misbehaving)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        httpd.socket = context.wrap_socket(httpd.socket, server_side=True)
        thread = threading.Thread(target=httpd.serve_forever, daemon=True)
        thread.start()
        try:
            c = Computer(root, "c", "https://localhost:%d/cal/" % httpd.server_port)
            c.put("2026-12-09", "不能丢")
            rc, out, err = c.sync(expect=1)
            self.assertIn("证书不受信任", err)
            self.assertEqual(c.memos(), {"2026-12-09": "不能丢"})
        finally:
            httpd.shutdown()
            httpd.server_close()
            shutil.rmtree(root, ignore_errors=True)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--tool", required=True)
    ARGS, rest = parser.parse_known_args()
    for tool in ("radicale", "xandikos"):
        if not shutil.which(tool):
            print("%s is not installed (scripts/deps.sh)" % tool, file=sys.stderr)
            return 1
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    sys.exit(main())
