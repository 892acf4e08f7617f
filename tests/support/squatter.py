#!/usr/bin/env python3
"""Another user's mischief against a running copy, run as that user:
    squatter.py DIR NAME
holds a flock on DIR (where the lock used to be), listens on the abstract
socket NAME answering "ok" to anyone, prints "ready"; then for each line
"knock NAME2" on standard input knocks on NAME2 and prints "answered" or
"silent"."""
import fcntl
import os
import select
import socket
import sys


def main():
    directory, name = sys.argv[1], sys.argv[2]
    fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind("\0" + name)
    server.listen(8)
    print("ready", flush=True)
    while True:
        ready, _, _ = select.select([server, sys.stdin], [], [])
        if server in ready:
            conn, _ = server.accept()
            conn.settimeout(1)
            try:
                conn.recv(16)
                conn.sendall(b"ok\n")
            except OSError:
                pass
            conn.close()
        if sys.stdin in ready:
            line = sys.stdin.readline()
            if not line:
                return
            words = line.split()
            if words[:1] == ["knock"]:
                knock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                knock.settimeout(1.5)
                try:
                    knock.connect("\0" + words[1])
                    knock.sendall(b"raise\n")
                    answer = knock.recv(8)
                except OSError:
                    answer = b""
                knock.close()
                print("answered" if answer == b"ok\n" else "silent", flush=True)


if __name__ == "__main__":
    main()
