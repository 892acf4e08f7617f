#!/usr/bin/python3
"""Checks of what startup_bench.py --sync stands on: a wrong Start.ini edit
or a "silent" server that answers would time the wrong case without a sign.

    /usr/bin/python3 bench/startup_sync_test.py
"""
import os
import shutil
import socket
import sqlite3
import tempfile
import unittest

import startup_sync as ss


class StartIniItems(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tamsivo-bench-test-")
        self.ini = os.path.join(self.dir, "Start.ini")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def text(self):
        with open(self.ini, "rb") as f:
            return f.read().decode("gbk")

    def test_items_are_replaced_added_and_the_rest_kept_in_gbk_with_crlf(self):
        # As the program writes it: no line end after the last item.
        with open(self.ini, "wb") as f:
            f.write("[主窗口]\r\n左边=117\r\n[同步]\r\n地址=旧\r\n开启=0\r\n[今天备忘录窗口]\r\n"
                    "记录方式=2".encode("gbk"))
        ss.set_items(self.ini, {"同步": {"开启": "1", "用户名": "anna"},
                                "节假日": {"不再询问": "1"}})
        self.assertEqual(self.text(),
                         "[主窗口]\r\n左边=117\r\n[同步]\r\n地址=旧\r\n开启=1\r\n用户名=anna\r\n"
                         "[今天备忘录窗口]\r\n记录方式=2\r\n[节假日]\r\n不再询问=1\r\n")
        # Again: nothing doubles.
        ss.set_items(self.ini, {"同步": {"开启": "0"}, "节假日": {"不再询问": "1"}})
        self.assertEqual(self.text().count("开启="), 1)
        self.assertEqual(self.text().count("[节假日]"), 1)
        self.assertIn("开启=0\r\n", self.text())

    def test_a_key_of_the_same_name_in_another_section_is_left_alone(self):
        with open(self.ini, "wb") as f:
            f.write("[主窗口]\r\n隐藏=0\r\n[今天备忘录窗口]\r\n隐藏=0\r\n".encode("gbk"))
        ss.set_items(self.ini, {"今天备忘录窗口": {"隐藏": "1"}})
        self.assertEqual(self.text(), "[主窗口]\r\n隐藏=0\r\n[今天备忘录窗口]\r\n隐藏=1\r\n")


class SyncState(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tamsivo-bench-test-")
        self.store = os.path.join(self.dir, "事件数据.edb")
        db = sqlite3.connect(self.store)
        db.execute("CREATE TABLE sync_state(key TEXT PRIMARY KEY, value TEXT)")
        db.executemany("INSERT INTO sync_state VALUES(?, ?)", [
            ("address", "http://127.0.0.1:5232/anna/"),
            ("collection", "http://127.0.0.1:5232/anna/日历/"),
            ("token", "http://127.0.0.1:5232/sync/1"),
            ("last_run", "100\t102\t1\t已同步 12:00：上传 0 天")])
        db.commit()
        db.close()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_moving_the_server_changes_address_and_calendar_only(self):
        ss.move_server(self.store, "http://127.0.0.1:5232/anna/", "http://127.0.0.1:9/anna/")
        db = sqlite3.connect(self.store)
        state = dict(db.execute("SELECT key, value FROM sync_state"))
        db.close()
        self.assertEqual(state["address"], "http://127.0.0.1:9/anna/")
        self.assertEqual(state["collection"], "http://127.0.0.1:9/anna/日历/")
        self.assertEqual(state["token"], "http://127.0.0.1:5232/sync/1")
        self.assertEqual(ss.last_run(self.store), (100, 102, True, "已同步 12:00：上传 0 天"))

    def test_a_store_synced_elsewhere_is_refused(self):
        with self.assertRaises(RuntimeError):
            ss.move_server(self.store, "http://127.0.0.1:7000/anna/", "http://127.0.0.1:9/anna/")


class Journal(unittest.TestCase):
    def test_a_long_chinese_memo_folds_whole_characters_and_unfolds_to_itself(self):
        text = "第1天的备忘：开会、买菜；回电话, 下午三点\\到四点。" * 9 + "\n第二行"
        name, body = ss.journal(46365, text, "20261209T120000Z")  # 2026-12-09
        self.assertEqual(name, "tamsivo-memo-20261209.ics")
        raw = body.encode("utf-8")
        self.assertTrue(all(len(l) <= 75 for l in raw.split(b"\r\n")))
        lines = body.replace("\r\n ", "").split("\r\n")
        self.assertIn("DTSTART;VALUE=DATE:20261209", lines)
        self.assertIn("UID:tamsivo-memo-20261209", lines)
        desc = next(l for l in lines if l.startswith("DESCRIPTION:"))[len("DESCRIPTION:"):]
        unescaped = (desc.replace("\\n", "\n").replace("\\;", ";").replace("\\,", ",")
                     .replace("\\\\", "\\"))
        self.assertEqual(unescaped, text)


class Servers(unittest.TestCase):
    def test_the_silent_server_accepts_reads_and_never_answers(self):
        server = ss.SilentServer()
        try:
            with socket.create_connection(("127.0.0.1", server.port), timeout=2) as c:
                c.sendall(b"REPORT /anna/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                c.settimeout(0.5)
                with self.assertRaises(socket.timeout):
                    c.recv(1)
            self.assertEqual(server.accepted, 1)
        finally:
            server.stop()

    def test_the_closed_port_refuses(self):
        port = int(ss.closed_port_address("anna").split(":")[2].split("/")[0])
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), timeout=2).close()


class PairedRatio(unittest.TestCase):
    def test_rounds_are_compared_with_their_own_partner(self):
        # The load doubles halfway; each round's case is 1 % over its partner.
        base = [10.0] * 10 + [20.0] * 10
        case = [b * 1.01 for b in base]
        med, lo, hi = ss.paired_ratio(case, base)
        self.assertAlmostEqual(med, 1.01)
        self.assertAlmostEqual(lo, 1.01)
        self.assertAlmostEqual(hi, 1.01)

    def test_the_interval_widens_with_noise_and_holds_the_median(self):
        base = [10.0] * 21
        case = [10.0 * (1 + d / 100.0) for d in range(-10, 11)]
        med, lo, hi = ss.paired_ratio(case, base)
        self.assertAlmostEqual(med, 1.0)
        self.assertLess(lo, 1.0)
        self.assertGreater(hi, 1.0)


if __name__ == "__main__":
    unittest.main()
