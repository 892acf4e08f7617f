#!/usr/bin/env python3
"""Sync against a local radicale: a first sync of N memos up, the same down
on a second computer, a run with nothing changed (requests and time), and
one changed day.

  python3 bench/sync_bench.py --program build/bin/tamsivo \\
      --tool build/tests/sync_memo_tool [--memos 7300] [--server radicale|xandikos]
      [--up-only] [--latency MS] [--count-syncs]

--count-syncs counts the program's fsync and fdatasync calls of the first
syncs up and down (strace), what a disk whose flushes are slow pays for.
--latency puts a relay in front of the server that holds each piece the
client sends for MS milliseconds, as a server across the internet would.

--up-only stops after the first upload (a server whose every new resource
costs more the fuller the collection is makes the rest slow to wait for).
"""
import argparse
import datetime
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "sync"))
import sync_servers_test as journeys  # noqa: E402


SERVER = None


def cpu_seconds(pid):
    """User and system time a process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed_sync(computer):
    env = dict(computer.env(), TAMSIVO_SYNC_STATS="1")
    server_before = cpu_seconds(SERVER.proc.pid)
    child_before = os.times()
    start = time.perf_counter()
    command = [os.path.join(computer.dir, "tamsivo"), "--sync"]
    if timed_sync.count_syncs:
        trace = os.path.join(computer.dir, "..", "syncs.txt")
        command = ["strace", "-f", "-c", "-e", "trace=fsync,fdatasync", "-o", trace] + command
    p = subprocess.run(command, env=env, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    child_after = os.times()
    if p.returncode != 0:
        raise SystemExit("sync failed: " + p.stderr)
    requests = [int(line.split()[2]) for line in p.stderr.splitlines()
                if line.startswith("tamsivo: sync: ") and line.endswith(" requests")]
    # The run itself, without the process's start and store check.
    timed_sync.run_ms = [int(line.split()[3]) for line in p.stderr.splitlines()
                         if line.startswith("tamsivo: sync: run ")]
    # Wall time on a shared machine says little alone: what each side spent.
    timed_sync.cpu = (cpu_seconds(SERVER.proc.pid) - server_before,
                      (child_after.children_user + child_after.children_system) -
                      (child_before.children_user + child_before.children_system))
    if timed_sync.count_syncs:
        with open(trace) as f:
            total = [line.split() for line in f if line.strip().endswith("total")]
        timed_sync.syncs = int(total[0][3]) if total else 0
    return elapsed, requests[0] if requests else -1, p.stdout.strip()


timed_sync.count_syncs = False
timed_sync.syncs = 0


class Relay:
    """127.0.0.1 to the server, each piece from the client held `delay` s."""

    def __init__(self, target_port, delay):
        self.target, self.delay = target_port, delay
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            client, _ = self.sock.accept()
            server = socket.create_connection(("127.0.0.1", self.target))
            for s in (client, server):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            held = []
            ready = threading.Condition()
            threading.Thread(target=self.read, args=(client, held, ready), daemon=True).start()
            threading.Thread(target=self.forward, args=(server, held, ready),
                             daemon=True).start()
            threading.Thread(target=self.back, args=(server, client), daemon=True).start()

    def read(self, client, held, ready):
        while True:
            data = client.recv(65536)
            with ready:
                held.append((time.monotonic() + self.delay, data))
                ready.notify()
            if not data:
                return

    def forward(self, server, held, ready):
        while True:
            with ready:
                while not held:
                    ready.wait()
                due, data = held.pop(0)
            time.sleep(max(0, due - time.monotonic()))
            if not data:
                server.shutdown(socket.SHUT_WR)
                return
            server.sendall(data)

    @staticmethod
    def back(server, client):
        while True:
            data = server.recv(65536)
            if not data:
                client.close()
                return
            client.sendall(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--memos", type=int, default=7300)
    parser.add_argument("--server", default="radicale")
    parser.add_argument("--up-only", action="store_true")
    parser.add_argument("--latency", type=float, default=0)
    parser.add_argument("--count-syncs", action="store_true")
    args = parser.parse_args()
    journeys.ARGS = args
    timed_sync.count_syncs = args.count_syncs
    root = tempfile.mkdtemp(prefix="tamsivo-sync-bench-")
    password = "bench-pw" if args.server == "radicale" else None
    server = journeys.Server(args.server, root, password)
    global SERVER
    SERVER = server
    try:
        server.start()
        user = server.user if password else ""
        address = server.address
        if args.latency:
            relay = Relay(server.port, args.latency / 1000)
            address = address.replace(":%d/" % server.port, ":%d/" % relay.port)
        a = journeys.Computer(root, "a", address, user, password)
        b = journeys.Computer(root, "b", address, user, password)
        first = datetime.date(2007, 1, 1)
        texts = {(first + datetime.timedelta(days=i)).isoformat():
                 "第 %d 天\n" % i + "今天的事情，写得不长不短。" * (1 + i % 12)
                 for i in range(args.memos)}
        a.put_many(texts)
        t, n, out = timed_sync(a)
        print("first sync up, %d memos: %.1f s, %d requests (%s); CPU: server %.1f s, "
              "tamsivo %.1f s" % ((args.memos, t, n, out) + timed_sync.cpu))
        if args.count_syncs:
            print("  %d fsync/fdatasync calls" % timed_sync.syncs)
        if args.up_only:
            return
        t, n, out = timed_sync(b)
        print("first sync down, %d memos: %.1f s, %d requests (%s); CPU: server %.1f s, "
              "tamsivo %.1f s" % ((args.memos, t, n, out) + timed_sync.cpu))
        if args.count_syncs:
            print("  %d fsync/fdatasync calls" % timed_sync.syncs)
            timed_sync.count_syncs = False
        runs, run_ms = [], []
        for _ in range(9):
            runs.append(timed_sync(a))
            run_ms += timed_sync.run_ms
        print("nothing changed: median %.0f ms (process start included), the run itself "
              "median %s ms, requests %s" %
              (statistics.median(r[0] for r in runs) * 1000,
               statistics.median(run_ms) if run_ms else "?", sorted({r[1] for r in runs})))
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
