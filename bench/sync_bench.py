#!/usr/bin/env python3
"""Sync against a local radicale: a first sync of N memos up, the same down
on a second computer, a run with nothing changed (requests and time), and
one changed day.

  python3 bench/sync_bench.py --program build/bin/tamsivo \\
      --tool build/tests/sync_memo_tool [--memos 7300] [--server radicale|xandikos]
"""
import argparse
import datetime
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "sync"))
import sync_servers_test as journeys  # noqa: E402


def timed_sync(computer):
    env = dict(computer.env(), TAMSIVO_SYNC_STATS="1")
    start = time.perf_counter()
    p = subprocess.run([os.path.join(computer.dir, "tamsivo"), "--sync"], env=env,
                       capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    if p.returncode != 0:
        raise SystemExit("sync failed: " + p.stderr)
    requests = [int(line.split()[2]) for line in p.stderr.splitlines()
                if line.startswith("tamsivo: sync: ") and line.endswith(" requests")]
    return elapsed, requests[0] if requests else -1, p.stdout.strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--memos", type=int, default=7300)
    parser.add_argument("--server", default="radicale")
    args = parser.parse_args()
    journeys.ARGS = args
    root = tempfile.mkdtemp(prefix="tamsivo-sync-bench-")
    password = "bench-pw" if args.server == "radicale" else None
    server = journeys.Server(args.server, root, password)
    try:
        server.start()
        user = server.user if password else ""
        a = journeys.Computer(root, "a", server.address, user, password)
        b = journeys.Computer(root, "b", server.address, user, password)
        first = datetime.date(2007, 1, 1)
        texts = {(first + datetime.timedelta(days=i)).isoformat():
                 "第 %d 天\n" % i + "今天的事情，写得不长不短。" * (1 + i % 12)
                 for i in range(args.memos)}
        a.put_many(texts)
        t, n, out = timed_sync(a)
        print("first sync up, %d memos: %.1f s, %d requests (%s)" % (args.memos, t, n, out))
        t, n, out = timed_sync(b)
        print("first sync down, %d memos: %.1f s, %d requests (%s)" % (args.memos, t, n, out))
        runs = [timed_sync(a) for _ in range(9)]
        print("nothing changed: median %.0f ms (process start included), requests %s" %
              (statistics.median(r[0] for r in runs) * 1000, sorted({r[1] for r in runs})))
        a.put(first.isoformat(), "改过的一天")
        t, n, out = timed_sync(a)
        print("one day changed, up: %.0f ms, %d requests" % (t * 1000, n))
        t, n, out = timed_sync(b)
        print("one day changed, down: %.0f ms, %d requests" % (t * 1000, n))
    finally:
        server.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
