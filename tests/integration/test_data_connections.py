"""Data connections against the real server: PORT, EPRT, PASV, SPSV and EPSV replies and
refusals, passive and active connections, and concurrent passive transfers."""

import ftplib
import hashlib
import io
import os
import re
import select
import shutil
import socket
import tempfile
import time
import unittest

from ftp_harness import CorvaneServer, HomeFiles, User

ABOUT_TO_OPEN = "150 File status okay; about to open data connection."
CLOSING = "226 Closing data connection."
NO_CHANNEL = "425 Can't open data connection."
PORT_SYNTAX = "501 Syntax: PORT <sp> h1,h2,h3,h4,p1,p2 (each a number 0 to 255)"
EPRT_SYNTAX = "501 Syntax: EPRT <sp> |proto|addr|port| (port 0 to 65535)"
RESERVED = "504 PORT/EPRT Command disabled for reserved port range (1-1024)."
FOREIGN = "504 Data port can only be used by the same IP address used by the control connection."
WAIT = 20  # seconds any single wait in these tests may take


def login(client, user="bob", password="pw"):
    assert client.command("USER " + user).code == 331
    reply = client.command("PASS " + password)
    assert reply.code == 230, reply


def open_passive(client, source="127.0.0.1"):
    """EPSV, then a data connection to the port it names, from the given local address."""
    reply = client.command("EPSV")
    match = re.fullmatch(r"229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\)", reply.line)
    assert match, reply
    data = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    data.settimeout(WAIT)
    data.bind((source, 0))
    data.connect(("127.0.0.1", int(match.group(1))))
    return data


def listen_active(client):
    """A listening socket announced with PORT."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.settimeout(WAIT)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    reply = client.command("PORT 127,0,0,1,%d,%d" % (port >> 8, port & 0xFF))
    assert reply.line == "200 PORT Command successful.", reply
    return listener


def read_all(data):
    chunks = []
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        chunk = data.recv(1 << 16)
        if not chunk:
            return b"".join(chunks)
        chunks.append(chunk)
    raise TimeoutError("data connection still open")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class OneUserServerCase(HomeFiles, unittest.TestCase):
    """One server for the whole class with the account bob/pw, whose home is a fresh
    directory; client() is a raw control connection logged in as bob."""

    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="corvane-data-")
        cls.server = CorvaneServer(users=[User("bob", "pw", cls.home)])
        cls.server.start()
        cls.url = "ftp://bob:pw@127.0.0.1:%d/" % cls.server.ftp_port

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.home, True)

    def client(self):
        client = self.server.ftp_client(timeout=WAIT)
        self.addCleanup(client.close)
        login(client)
        return client


class DataConnectionsTest(OneUserServerCase):

    def test_port_eprt_and_epsv_answer_as_written(self):
        mismatch = "522 Network protocol mismatch, use (1)"
        cases = [
            ("PORT 127,0,0,1,0,21", RESERVED),
            ("PORT 127,0,0,1,4,0", RESERVED),
            ("PORT 127,0,0,8,19,137", FOREIGN),
            ("PORT 127,0,0,1,junk,1", PORT_SYNTAX),
            ("PORT 127,0,0,1", PORT_SYNTAX),
            ("PORT 127,0,0,1,-1,200", PORT_SYNTAX),
            ("PORT 127,0,0,1,300,1", PORT_SYNTAX),
            ("PORT 127,0,0,1,19,137,1", PORT_SYNTAX),
            ("EPRT |1|127.0.0.1|98505|", EPRT_SYNTAX),
            ("EPRT |1|127.0.0.1|5000", EPRT_SYNTAX),
            ("EPRT |1|127.0.0.1|5000|junk", EPRT_SYNTAX),
            ("PORT 127,0,0,1,19,137", "200 PORT Command successful."),
            ("EPRT", "501 Invalid number of arguments EPRT"),
            ("EPRT |3|127.0.0.1|5000|", mismatch),
            ("EPRT |1|127.0.0.1|0|", "500 Invalid port number"),
            ("EPRT |1|127.0.0.1|junk|", "500 Invalid port number"),
            ("EPRT |1|127.0.0.1|21|", RESERVED),
            ("EPRT |1||5000|", "500 Invalid IP Address"),
            ("EPRT |1|10.1.2.3|5000|", FOREIGN),
            ("EPRT |1|127.0.0.1|5000|", "200 EPRT Command successful."),
            ("EPSV 3", "522 Protocol not supported, use (1)"),
        ]
        client = self.client()
        for command, expected in cases:
            self.assertEqual(client.command(command).line, expected, command)
        self.assertIn(client.command("EPSV 2").line,
                      (mismatch, "522 Network protocol not supported, use (1)"))
        self.assertIn(client.command("EPSV foo").line,
                      ("522 Network protocol not supported, use (1,2)",
                       "522 Network protocol not supported, use (1)"))

    def test_a_refused_port_blocks_transfers_until_a_new_channel(self):
        self.write("f.txt", b"data")
        client = self.client()
        self.assertEqual(client.command("RETR f.txt").line, NO_CHANNEL)
        self.assertEqual(client.command("PASV").code, 227)
        self.assertEqual(client.command("PORT 127,0,0,1,0,21").line, RESERVED)
        self.assertEqual(client.command("RETR f.txt").line, NO_CHANNEL)
        self.assertEqual(client.command("EPRT |1|127.0.0.9|6000|").line, FOREIGN)
        self.assertEqual(client.command("STOR g.txt").line, NO_CHANNEL)
        self.assertFalse(os.path.exists(os.path.join(self.home, "g.txt")))
        data = open_passive(client)
        with data:
            client.send_line("RETR f.txt")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            self.assertEqual(read_all(data), b"data")
        self.assertEqual(client.read_reply().line, CLOSING)

    def test_epsv_all_refuses_pasv_but_not_eprt(self):
        client = self.client()
        self.assertEqual(client.command("EPSV ALL").line,
                         "200  EPSV ALL sent, now only accepting EPSV connections")
        self.assertEqual(client.command("PASV").line, "501 PASV not allowed after EPSV ALL")
        self.assertEqual(client.command("SPSV").line, "501 SPSV not allowed after EPSV ALL")
        self.assertEqual(client.command("PORT 127,0,0,1,19,137").line,
                         "501 PORT not allowed after EPSV ALL")
        self.assertEqual(client.command("EPRT |1|127.0.0.1|5000|").line,
                         "200 EPRT Command successful.")
        self.assertEqual(client.command("EPSV").code, 229)

    def test_passive_replies_name_a_port_that_serves_the_transfer(self):
        self.write("f.txt", b"passive")
        forms = {
            "PASV": r"227 Entering Passive Mode \(127,0,0,1,(\d+),(\d+)\)\.",
            "SPSV": r"227 (\d+)",
            "EPSV": r"229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\)",
        }
        client = self.client()
        ports = set()
        for command, pattern in forms.items():
            reply = client.command(command)
            match = re.fullmatch(pattern, reply.line)
            self.assertTrue(match, reply)
            numbers = [int(group) for group in match.groups()]
            port = numbers[0] * 256 + numbers[1] if len(numbers) == 2 else numbers[0]
            self.assertGreater(port, 1024, command)  # chosen by the system, not port 20
            ports.add(port)
            with socket.create_connection(("127.0.0.1", port), timeout=WAIT) as data:
                client.send_line("RETR f.txt")
                self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
                self.assertEqual(read_all(data), b"passive", command)
            self.assertEqual(client.read_reply().line, CLOSING)
        self.assertEqual(len(ports), 3)

    def test_a_passive_connection_from_another_address_is_refused(self):
        self.write("secret.txt", b"not for others")
        client = self.client()
        with open_passive(client, source="127.0.0.2") as data:
            client.send_line("RETR secret.txt")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            self.assertEqual(client.read_reply().line, FOREIGN)
            self.assertEqual(read_all(data), b"")
        self.assertEqual(client.command("NOOP").line, "200 NOOP Command successful.")
        self.assertEqual(client.command("RETR secret.txt").line, NO_CHANNEL)

    def test_active_connections_come_from_the_data_port_when_allowed(self):
        self.write("f.txt", b"active")
        client = self.client()
        listener = listen_active(client)
        with listener:
            client.send_line("RETR f.txt")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            data, peer = listener.accept()
            with data:
                self.assertEqual(read_all(data), b"active")
        self.assertEqual(client.read_reply().line, CLOSING)
        # Port 20 needs privileges; without them any port will do.
        if os.geteuid() == 0:
            self.assertEqual(peer[1], 20)
        else:
            self.assertGreater(peer[1], 1024)

    def test_downloads_and_uploads_in_both_modes_keep_every_byte(self):
        content = os.urandom(5 * 1024 * 1024 + 321)
        self.write("down.bin", content)
        for passive in (True, False):
            with self.subTest(passive=passive):
                with ftplib.FTP() as ftp:
                    ftp.connect("127.0.0.1", self.server.ftp_port, timeout=WAIT)
                    ftp.login("bob", "pw")
                    ftp.set_pasv(passive)
                    received = io.BytesIO()
                    self.assertEqual(ftp.retrbinary("RETR down.bin", received.write), CLOSING)
                    self.assertEqual(sha256(received.getvalue()), sha256(content))
                    self.assertEqual(ftp.storbinary("STOR up.bin", io.BytesIO(content)), CLOSING)
                    self.assertEqual(sha256(self.read("up.bin")), sha256(content))

    def test_two_clients_download_at_the_same_time(self):
        files = {"one.bin": os.urandom(8 * 1024 * 1024), "two.bin": os.urandom(8 * 1024 * 1024)}
        for name, content in files.items():
            self.write(name, content)
        clients = {name: self.client() for name in files}
        sockets = {name: open_passive(client) for name, client in clients.items()}
        # Both transfers run before either is read: neither can finish on its own.
        for name, client in clients.items():
            client.send_line("RETR " + name)
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        received = {name: bytearray() for name in files}
        open_sockets = dict(sockets)
        deadline = time.monotonic() + WAIT
        while open_sockets and time.monotonic() < deadline:
            readable, _, _ = select.select(list(open_sockets.values()), [], [], 1)
            for data in readable:
                name = next(n for n, s in open_sockets.items() if s is data)
                chunk = data.recv(1 << 16)
                if chunk:
                    received[name] += chunk
                else:
                    data.close()
                    del open_sockets[name]
        self.assertEqual(open_sockets, {})
        for name, client in clients.items():
            self.assertEqual(client.read_reply().line, CLOSING, name)
            self.assertEqual(sha256(bytes(received[name])), sha256(files[name]), name)


if __name__ == "__main__":
    unittest.main()
