#!/usr/bin/env python3
"""Idle sessions: how many logged-in control connections one server process holds, and what
each costs.

Builds CorvaneServer in Release (into <source>/build-bench unless --no-build), stages a program
directory with one account, starts the real server on 127.0.0.1 and opens --sessions control
connections, --parallel at a time, each greeted, logged in with USER and PASS and then left
idle. Prints how long the opening took, the server's proportional set size (Pss, from
/proc/<pid>/smaps_rollup) before and with the sessions and the difference per session, the
processor time the server used during --idle seconds with every session open, and how long a
fresh client then takes from connect to its 230 reply. The benchmark's own process needs two
descriptors per session less than its limit allows; it raises its soft limit to the hard one.
Not a test: nothing here decides success.
"""

import argparse
import os
import resource
import selectors
import shutil
import socket
import tempfile
import time

from bench_build import add_build_options, server_binary  # also makes ftp_harness importable

import ftp_harness  # noqa: E402  (the integration tests' staging helpers)

USER, PASSWORD = "bench", "bench-pw"


def pss_kib(pid):
    with open("/proc/%d/smaps_rollup" % pid) as rollup:
        for line in rollup:
            if line.startswith("Pss:"):
                return int(line.split()[1])
    raise RuntimeError("no Pss in smaps_rollup")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Session:
    """One control connection walking greeting -> USER -> PASS -> idle."""

    STEPS = (b"220 ", b"331 ", b"230 ")

    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setblocking(False)
        self.sock.connect_ex(("127.0.0.1", port))
        self.step = 0
        self.buffer = b""

    def on_readable(self):
        """Advances on each complete reply; True once logged in."""
        chunk = self.sock.recv(4096)
        if not chunk:
            raise RuntimeError("server closed a session at step %d" % self.step)
        self.buffer += chunk
        while b"\r\n" in self.buffer:
            line, self.buffer = self.buffer.split(b"\r\n", 1)
            if not line.startswith(self.STEPS[self.step]):
                raise RuntimeError("unexpected reply %r at step %d" % (line, self.step))
            self.step += 1
            if self.step == 1:
                self.sock.sendall(b"USER %s\r\n" % USER.encode())
            elif self.step == 2:
                self.sock.sendall(b"PASS %s\r\n" % PASSWORD.encode())
            else:
                return True
        return False


def open_sessions(port, count, parallel, time_limit):
    """Opens count logged-in sessions, at most parallel in flight; returns them."""
    selector = selectors.DefaultSelector()
    done, in_flight = [], 0
    deadline = time.monotonic() + time_limit
    while len(done) < count:
        while in_flight < parallel and len(done) + in_flight < count:
            session = Session(port)
            selector.register(session.sock, selectors.EVENT_READ, session)
            in_flight += 1
        if time.monotonic() > deadline:
            raise TimeoutError("only %d sessions within %d s" % (len(done), time_limit))
        for key, _ in selector.select(timeout=1):
            session = key.data
            if session.on_readable():
                selector.unregister(session.sock)
                done.append(session)
                in_flight -= 1
    selector.close()
    return done


def fresh_login_ms(port):
    started = time.monotonic()
    client = ftp_harness.ControlClient(port, timeout=30)
    try:
        client.command("USER " + USER)
        reply = client.command("PASS " + PASSWORD)
        assert reply.code == 230, reply
    finally:
        client.close()
    return (time.monotonic() - started) * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sessions", type=int, default=19000)
    parser.add_argument("--parallel", type=int, default=64)
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of idle measurement")
    parser.add_argument("--time-limit", type=int, default=300, help="seconds to open them all")
    add_build_options(parser)
    args = parser.parse_args()
    binary = server_binary(args)

    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    os.environ["CORVANE_SERVER"] = binary
    home = tempfile.mkdtemp(prefix="corvane-sessions-")
    server = ftp_harness.CorvaneServer(users=[ftp_harness.User(USER, PASSWORD, home)])
    try:
        server.start()
        pid = server.process.pid
        base_pss = pss_kib(pid)
        started = time.monotonic()
        sessions = open_sessions(server.ftp_port, args.sessions, args.parallel, args.time_limit)
        opened_s = time.monotonic() - started
        time.sleep(2)  # let the last threads settle
        held_pss = pss_kib(pid)
        cpu_before = cpu_seconds(pid)
        time.sleep(args.idle)
        idle_cpu = cpu_seconds(pid) - cpu_before
        login_ms = fresh_login_ms(server.ftp_port)
        print("sessions held          %d (opened %d at a time in %.1f s)"
              % (len(sessions), args.parallel, opened_s))
        print("server Pss             %.1f MiB before, %.1f MiB with the sessions"
              % (base_pss / 1024, held_pss / 1024))
        print("Pss per idle session   %.1f KiB" % ((held_pss - base_pss) / len(sessions)))
        print("CPU while idle         %.2f s in %.0f s" % (idle_cpu, args.idle))
        print("fresh client login     %.1f ms" % login_ms)
        for session in sessions:
            session.sock.close()
    finally:
        server.close()
        shutil.rmtree(home, True)
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))


if __name__ == "__main__":
    main()
