#!/usr/bin/env python3
"""Listing speed: entries per second for LIST, MLSD and NLST of one large directory.

Builds CorvaneServer in Release (into <source>/build-bench unless --no-build), stages a program
directory with one account whose home holds one directory of --entries empty files (names of
20 to 30 characters), starts the real server on 127.0.0.1 and runs each listing command --runs
times over a passive data connection from a raw socket client that only counts lines, so the
figure is the server's: the time from sending the command to the final 226 reply, which covers
reading the directory, sorting (LIST), formatting and sending. Each run is checked for the
full line count. Prints the median and best entries per second, and the server's peak
resident memory (VmHWM) after the runs. Not a test: nothing here decides success beyond the
line counts.
"""

import argparse
import os
import re
import shutil
import socket
import statistics
import tempfile
import time

from bench_build import add_build_options, server_binary  # also makes ftp_harness importable

import ftp_harness  # noqa: E402  (the integration tests' staging helpers)

USER, PASSWORD = "bench", "bench-pw"
TIME_LIMIT = 600  # seconds for one listing


def make_directory(path, entries):
    os.mkdir(path)
    for index in range(entries):
        name = "entry-%06d-%s.dat" % (index, "x" * (index % 11))
        with open(os.path.join(path, name), "wb"):
            pass


def timed_listing(client, command):
    """Seconds from sending the command to the final reply, and the number of lines."""
    reply = client.command("PASV")
    if reply.code != 227:
        raise RuntimeError("PASV failed: %r" % reply)
    numbers = [int(n) for n in re.search(r"\((\d+(?:,\d+){5})\)", reply.line).group(1).split(",")]
    with socket.create_connection(("127.0.0.1", numbers[4] * 256 + numbers[5]),
                                  timeout=TIME_LIMIT) as data:
        start = time.perf_counter()
        client.send_line(command)
        lines = 0
        while True:
            chunk = data.recv(1 << 20)
            if not chunk:
                break
            lines += chunk.count(b"\n")
        final = client.read_reply()
        if final.code == 125:  # the preliminary reply came after the data was read
            final = client.read_reply()
        elapsed = time.perf_counter() - start
    if final.code != 226:
        raise RuntimeError("%s ended with %r" % (command, final))
    return elapsed, lines


def peak_memory_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--entries", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=5)
    add_build_options(parser)
    parser.add_argument("--work-dir", default=None,
                        help="where the directory is made (default: the system's temp directory)")
    args = parser.parse_args()

    binary = server_binary(args)
    os.environ["CORVANE_SERVER"] = binary
    work_dir = tempfile.mkdtemp(prefix="corvane-list-bench-", dir=args.work_dir)
    try:
        make_directory(os.path.join(work_dir, "big"), args.entries)
        print("one directory of %d entries, %d runs per command, raw client over 127.0.0.1"
              % (args.entries, args.runs))
        user = ftp_harness.User(USER, PASSWORD, work_dir)
        with ftp_harness.CorvaneServer(users=[user]) as server:
            server.start()
            with ftp_harness.ControlClient(server.ftp_port, timeout=TIME_LIMIT) as client:
                client.command("USER " + USER)
                if client.command("PASS " + PASSWORD).code != 230:
                    raise RuntimeError("login failed")
                # LIST has a total line; MLSD also lists "." and ".."; NLST only the names.
                for command, expected in (("LIST big", args.entries + 1),
                                          ("MLSD big", args.entries + 2),
                                          ("NLST big", args.entries)):
                    rates = []
                    for _ in range(args.runs):
                        elapsed, lines = timed_listing(client, command)
                        if lines != expected:
                            raise RuntimeError("%s sent %d of %d lines"
                                               % (command, lines, expected))
                        rates.append(args.entries / elapsed)
                    median = statistics.median(rates)
                    print("%-4s median %10.0f entries/s (%.3f s)  best %10.0f entries/s  runs: %s"
                          % (command.split()[0], median, args.entries / median, max(rates),
                             " ".join("%.0f" % r for r in rates)))
            print("server peak resident memory: %.1f MiB"
                  % (peak_memory_kib(server.process.pid) / 1024))
    finally:
        shutil.rmtree(work_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
