#!/usr/bin/env python3
"""Runs a command while holding the clock-port lock of the tests.

Usage: tools/clockportlock.py [--output FILE] COMMAND [ARGUMENT...]

Tests and benchmarks that bind UDP port 7372 hold a listening Unix socket in
the abstract namespace (tests/support/clockportlock.cpp). This takes the same
lock, waiting while someone else in this network namespace holds it (and
saying once for whom), then becomes COMMAND, which keeps the lock, with its
children, until the last of them ends. With --output, COMMAND's output and
errors go to FILE, which comes into being once the lock is taken.
"""
import errno
import os
import socket
import struct
import sys
import time

LOCK_NAME = b"\0corvelta-clockport"


def holder_description(probe):
    pid = struct.unpack("3i", probe.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0]
    try:
        with open(f"/proc/{pid}/comm") as comm:
            name = comm.read().strip()
    except OSError:
        name = "?"
    return f"{pid} ({name})"


def take_lock():
    told = False
    while True:
        lock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            lock.bind(LOCK_NAME)
            lock.listen(128)
            return lock
        except OSError as error:
            lock.close()
            if error.errno != errno.EADDRINUSE:
                raise
        # Connected to the holder, which never answers: the read ends when it does.
        probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            probe.connect(LOCK_NAME)
            if not told:
                print("Waiting for the clock port (UDP 7372), held by process "
                      + holder_description(probe), file=sys.stderr, flush=True)
                told = True
            while probe.recv(1):
                pass
        except (ConnectionRefusedError, ConnectionResetError):
            time.sleep(0.01)  # between one holder's end and the next one's start
        finally:
            probe.close()


def main():
    args = sys.argv[1:]
    output = None
    if len(args) >= 2 and args[0] == "--output":
        output, args = args[1], args[2:]
    if not args:
        sys.exit(__doc__.strip())
    lock = take_lock()
    os.set_inheritable(lock.fileno(), True)
    if output:
        fd = os.open(output, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.dup2(fd, 1)
        os.dup2(fd, 2)
        os.close(fd)
    os.execvp(args[0], args)


if __name__ == "__main__":
    main()
