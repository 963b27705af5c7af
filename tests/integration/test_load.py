"""Under load, against the real server: a burst of simultaneous connects, the process's
descriptor limit, and a download whose reader stops reading."""

import os
import resource
import selectors
import shutil
import socket
import tempfile
import time
import unittest

from ftp_harness import CorvaneServer, User
from test_data_connections import login, open_passive

GREETING_PREFIX = b"220 "
BUSY = b"421 Service not available, closing control connection.\r\n"
WAIT = 30


def first_lines(sockets, timeout):
    """The first line each socket receives (b"" when it closed first, None when none came in
    time), read from all of them at once."""
    selector = selectors.DefaultSelector()
    received = {sock: b"" for sock in sockets}
    for sock in sockets:
        sock.setblocking(False)
        selector.register(sock, selectors.EVENT_READ)
    pending = set(sockets)
    deadline = time.monotonic() + timeout
    while pending and time.monotonic() < deadline:
        for key, _ in selector.select(timeout=0.5):
            sock = key.fileobj
            try:
                chunk = sock.recv(4096)
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                chunk = b""
            received[sock] += chunk
            if not chunk or b"\r\n" in received[sock]:
                pending.discard(sock)
                selector.unregister(sock)
    selector.close()
    return [received[sock].split(b"\r\n")[0] + b"\r\n" if sock not in pending else None
            for sock in sockets]


def connect_many(port, count):
    sockets = []
    for _ in range(count):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setblocking(False)
        sock.connect_ex(("127.0.0.1", port))
        sockets.append(sock)
    return sockets


def open_counts(pid):
    """(descriptors, threads) of the process."""
    return (len(os.listdir("/proc/%d/fd" % pid)), len(os.listdir("/proc/%d/task" % pid)))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class LoadTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="corvane-load-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.server = CorvaneServer(users=[User("bob", "pw", self.home)])
        self.addCleanup(self.server.close)
        self.server.start()
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        if soft < 1200:
            resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))

    def test_a_burst_of_500_connects_is_greeted_on_both_ports(self):
        for port, expected in ((self.server.ftp_port, GREETING_PREFIX),
                               (self.server.management_port, b"200 Welcome")):
            sockets = connect_many(port, 500)
            try:
                lines = first_lines(sockets, WAIT)
            finally:
                for sock in sockets:
                    sock.close()
            missing = [line for line in lines if not line or not line.startswith(expected)]
            self.assertEqual(missing, [], "%d of 500 got no greeting on port %d"
                             % (len(missing), port))

    @unittest.skipIf(os.environ.get("ASAN_OPTIONS") or os.environ.get("UBSAN_OPTIONS"),
                     "the sanitizers' runtime needs descriptors of its own (a pipe to check "
                     "memory for its type checks), so a sanitizer build cannot run at the limit")
    def test_clients_over_the_descriptor_limit_get_421_and_the_server_stays_idle(self):
        pid = self.server.process.pid
        baseline = open_counts(pid)
        resource.prlimit(pid, resource.RLIMIT_NOFILE, (64, 64))
        sockets = connect_many(self.server.ftp_port, 120)
        try:
            lines = first_lines(sockets, WAIT)
            greeted = sum(1 for line in lines if line and line.startswith(GREETING_PREFIX))
            busy = sum(1 for line in lines if line == BUSY)
            self.assertEqual(greeted + busy, len(sockets), lines)
            self.assertGreater(greeted, 10)
            self.assertGreater(busy, 10)
            # Held at the limit, the server uses next to no processor time.
            before = cpu_seconds(pid)
            time.sleep(2)
            self.assertLess(cpu_seconds(pid) - before, 0.5)
        finally:
            for sock in sockets:
                sock.close()
        # Once the clients leave, new ones are served again.
        deadline = time.monotonic() + WAIT
        while True:
            client = self.server.ftp_client(timeout=WAIT)
            try:
                if client.greeting.line.startswith("220 "):
                    login(client)
                    break
            finally:
                client.close()
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.2)
        # Every session's descriptor and thread is gone again (a finished thread is reaped
        # when the next connection is accepted).
        while any(now > then for now, then in zip(open_counts(pid), baseline)):
            self.assertLess(time.monotonic(), deadline, open_counts(pid))
            self.server.ftp_client(timeout=WAIT).close()
            time.sleep(0.2)

    def test_a_reader_that_stops_reading_cannot_hold_the_session_or_the_file(self):
        with open(os.path.join(self.home, "large.bin"), "wb") as out:
            out.write(os.urandom(64 << 20))
        client = self.server.ftp_client(timeout=WAIT)
        self.addCleanup(client.close)
        login(client)
        data = open_passive(client)
        self.addCleanup(data.close)
        client.send_line("RETR large.bin")
        self.assertEqual(client.read_reply().code, 150)
        data.recv(1 << 16)
        time.sleep(1)  # the server's send is blocked by now
        started = time.monotonic()
        client.send_line("ABOR")
        self.assertEqual(client.read_reply().line, "226 Closing data connection.")
        self.assertLess(time.monotonic() - started, 1.0)
        self.assertEqual(client.read_reply().line, "426 Data connection closed abnormally.")
        # Another session may take the file at once.
        other = self.server.ftp_client(timeout=WAIT)
        self.addCleanup(other.close)
        login(other)
        self.assertEqual(other.command("DELE large.bin").code, 250)


if __name__ == "__main__":
    unittest.main()
