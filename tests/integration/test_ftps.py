"""Explicit FTPS against the real server: every TLS command reply on the wire, protected
listings, downloads and uploads over passive and active connections (Python's ssl module as the
raw client), SSCN and CPSV roles, REIN back to plain text, session resumption on data
connections, uploads cut inside a record, bytes pipelined behind AUTH, bad handshakes, and
curl, lftp and ftplib's FTP_TLS as real clients."""

import ftplib
import hashlib
import io
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

from ftp_harness import CorvaneServer, ControlClient, HomeFiles, User, certificate_pair, gc_xml
from test_access_rules import expect_clean_stop, ipv6_loopback, wildcard_free_port
from test_data_connections import listen_active, login, open_passive, read_all

WAIT = 20
KIB = 1024
AUTH_OK = "234 AUTH Command OK. Initializing SSL"
CLOSING = "226 Closing data connection."
ABNORMAL = "426 Data connection closed abnormally."
ABOUT_TO_OPEN = "150 File status okay; about to open data connection."
LIST_OPENING = "125 Opening ASCII mode data connection for /bin/ls."


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def client_context():
    """A TLS client context that accepts the self-signed test certificate."""
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


def server_context():
    """A TLS server context for data connections on which the server plays the TLS client."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*certificate_pair())
    return context


def start_tls(client, command="AUTH TLS"):
    """Sends AUTH and wraps the control connection in TLS."""
    reply = client.command(command)
    assert reply.line == AUTH_OK, reply
    assert client.buffer == b"", client.buffer
    # Data connections resume the control session only through the same context.
    client.tls_context = client_context()
    client.sock = client.tls_context.wrap_socket(client.sock)
    return client


def protect(client):
    """AUTH TLS, PBSZ 0 and PROT P."""
    start_tls(client)
    assert client.command("PBSZ 0").code == 200
    assert client.command("PROT P").code == 200


def passive_port(client, command="PASV"):
    reply = client.command(command)
    match = re.fullmatch(r"227 Entering Passive Mode \(127,0,0,1,(\d+),(\d+)\)\.", reply.line)
    assert match, reply
    return int(match.group(1)) * 256 + int(match.group(2))


class FtpsTest(HomeFiles, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="corvane-ftps-")
        # "slow" moves 100 KiB/s, so a transfer lasts long enough to send commands during it.
        cls.server = CorvaneServer(users=[User("bob", "pw", cls.home),
                                          User("slow", "pw", cls.home, bandwidth="100")])
        cls.server.start()
        cls.url = "ftp://bob:pw@127.0.0.1:%d/" % cls.server.ftp_port

    @classmethod
    def tearDownClass(cls):
        status = cls.server.stop()
        stderr = cls.server.stderr_text()
        cls.server.close()
        shutil.rmtree(cls.home, True)
        if status != 0 or "Sanitizer" in stderr or "runtime error" in stderr:
            raise AssertionError("server ended with %s:\n%s" % (status, stderr))

    def setUp(self):
        for name in os.listdir(self.home):
            path = os.path.join(self.home, name)
            if os.path.isdir(path):
                shutil.rmtree(path)
            else:
                os.remove(path)

    def client(self):
        client = self.server.ftp_client(timeout=WAIT)
        self.addCleanup(client.close)
        return client

    def protected_client(self, user="bob"):
        client = self.client()
        protect(client)
        login(client, user)
        return client

    def run_client(self, args, timeout=120):
        result = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
        self.assertEqual(result.returncode, 0, "%s failed: %s%s" % (args[0], result.stdout,
                                                                    result.stderr))
        return result

    def assert_usable(self, client):
        self.assertEqual(client.command("NOOP").code, 200)

    # --- command replies -----------------------------------------------------------------

    def test_tls_command_replies(self):
        # Each script runs on a new connection; "AUTH TLS" (and the other valid mechanisms)
        # switch the control connection to TLS when answered 234 on a plain connection.
        login_steps = [("USER bob", "331 User name okay, need password."),
                       ("PASS pw", "230 User logged in, proceed.")]
        scripts = {
            "lower-case mechanism": [("AUTH tls", "500 'AUTH tls': command not understood."),
                                     ("NOOP", None)],
            "unknown mechanism": [("AUTH KERBEROS", "500 'AUTH KERBEROS': command not understood."),
                                  ("AUTH", "500 'AUTH': command not understood.")],
            "PBSZ before AUTH": [("PBSZ 0", "503 AUTH Data required."),
                                 ("PROT P", "503 PBSZ Data Buffer Size required.")],
            "PROT before PBSZ": [("AUTH TLS", AUTH_OK),
                                 ("PROT P", "503 PBSZ Data Buffer Size required.")],
            "PBSZ arguments": [
                ("AUTH TLS", AUTH_OK),
                ("PBSZ", "501 Error in parameters to PBSZ"),
                ("PBSZ abc", "501 Error in parameters to PBSZ"),
                ("PBSZ -1", "501 Error in parameters to PBSZ"),
                ("PBSZ 1024", "200 PBSZ=0"),
                ("PBSZ 0", "200 PBSZ Command OK. Protection buffer size set to 0.")],
            "PROT levels": [
                ("AUTH TLS-C", AUTH_OK),
                ("PBSZ 0", "200 PBSZ Command OK. Protection buffer size set to 0."),
                ("PROT p", "504 Command not implemented for that parameter."),
                ("PROT X", "504 Command not implemented for that parameter."),
                ("PROT S", "536 Requested PROT level not supported by mechanism."),
                ("PROT E", "536 Requested PROT level not supported by mechanism."),
                ("PROT C", "200 PROT Command OK. Using Clear data connection"),
                ("PROT P", "200 PROT Command OK. Using Private data connection")],
            "CCC and SSCN need a login": [("CCC", "530 Not logged in."),
                                          ("SSCN ON", "530 Not logged in."),
                                          ("CPSV", "530 Not logged in.")],
            "CCC keeps TLS": [("AUTH TLS", AUTH_OK), *login_steps,
                              ("CCC", "534 Clear command channel is not permitted."),
                              ("NOOP", None)],
            "SSCN settings": [
                *login_steps,
                ("SSCN", "200 SSCN:SERVER METHOD"),
                ("SSCN on", "200 SSCN:CLIENT METHOD"),
                ("SSCN", "200 SSCN:CLIENT METHOD"),
                ("SSCN maybe", "504 Command not implemented for that parameter."),
                ("SSCN OFF", "200 SSCN:SERVER METHOD")],
            "unimplemented protection commands": [
                ("MIC x", '550 "MIC" Command not implemented.'),
                ("CONF x", '550 "CONF" Command not implemented.'),
                ("ENC x", '550 "ENC" Command not implemented.')],
            "a second AUTH uses the session": [
                ("AUTH SSL", AUTH_OK), ("AUTH TLS", AUTH_OK), ("PBSZ 0", None),
                ("PROT C", "200 PROT Command OK. Using Clear data connection")],
        }
        for name, steps in scripts.items():
            with self.subTest(name), self.server.ftp_client(timeout=WAIT) as client:
                protected = False
                for command, expected in steps:
                    reply = client.command(command)
                    if expected is None:
                        self.assertLess(reply.code, 300, (command, reply))
                    else:
                        self.assertEqual(reply.line, expected, command)
                    if reply.line == AUTH_OK and not protected:
                        client.sock = client_context().wrap_socket(client.sock)
                        protected = True

    def test_feat_lists_the_tls_features(self):
        client = self.client()
        lines = [line.strip() for line in client.command("FEAT").lines]
        for feature in ("AUTH TLS;AUTH TLS-C;SSL;TLS-P;", "CCC", "CPSV", "PBSZ", "PROT", "SSCN"):
            self.assertIn(feature, lines)

    # --- protected data connections --------------------------------------------------------

    def open_data(self, client, mode, control_session):
        """A protected data connection prepared by mode ("passive" or "active"): returns a
        function that runs the command and yields the connected TLS socket."""
        context = client.tls_context
        if mode == "passive":
            raw = open_passive(client)

            def connect():
                return context.wrap_socket(raw, session=control_session)
            return connect
        listener = listen_active(client)

        def accept():
            connection, _ = listener.accept()
            listener.close()
            connection.settimeout(WAIT)
            return context.wrap_socket(connection, session=control_session)
        return accept

    def test_protected_listing_download_and_upload_in_both_modes(self):
        content = os.urandom(3 * 1024 * KIB + 123)
        self.write("down.bin", content)
        for mode in ("passive", "active"):
            with self.subTest(mode=mode):
                client = self.protected_client()
                session = client.sock.session

                connect = self.open_data(client, mode, session)
                client.send_line("LIST")
                self.assertEqual(client.read_reply().line, LIST_OPENING)
                with connect() as data:
                    listing = read_all(data)
                self.assertEqual(client.read_reply().line, CLOSING)
                self.assertIn(b"down.bin", listing)

                connect = self.open_data(client, mode, session)
                client.send_line("RETR down.bin")
                self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
                with connect() as data:
                    received = read_all(data)
                    # The data connection resumes the control connection's TLS session.
                    self.assertTrue(data.session_reused)
                self.assertEqual(client.read_reply().line, CLOSING)
                self.assertEqual(sha256(received), sha256(content))

                connect = self.open_data(client, mode, session)
                client.send_line("STOR up.bin")
                self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
                with connect() as data:
                    data.sendall(content)
                    data.unwrap()
                self.assertEqual(client.read_reply().line, CLOSING)
                self.assertEqual(sha256(self.read("up.bin")), sha256(content))
                os.remove(os.path.join(self.home, "up.bin"))

    def test_every_transfer_command_is_protected(self):
        self.write("a.txt", b"first ")
        client = self.protected_client()
        session = client.sock.session
        # (command, bytes the client sends, preliminary code, check after the final reply)
        cases = [
            ("NLST", None, 125, lambda got: self.assertIn(b"a.txt", got)),
            ("MLSD", None, 125, lambda got: self.assertIn(b"type=file;", got)),
            ("APPE a.txt", b"second", 150, lambda got: self.assertEqual(self.read("a.txt"),
                                                                         b"first second")),
            ("STOU", b"unique", 150, lambda got: self.assertIn(
                b"unique", [self.read(n) for n in os.listdir(self.home)])),
        ]
        for command, upload, preliminary, check in cases:
            with self.subTest(command=command):
                raw = open_passive(client)
                client.send_line(command)
                self.assertEqual(client.read_reply().code, preliminary)
                with client.tls_context.wrap_socket(raw, session=session) as data:
                    self.assertTrue(data.session_reused)
                    if upload is None:
                        got = read_all(data)
                    else:
                        data.sendall(upload)
                        data.unwrap()
                        got = None
                self.assertEqual(client.read_reply().line, CLOSING)
                check(got)

    def test_auth_ssl_alone_protects_data(self):
        self.write("f.txt", b"protected")
        client = self.client()
        start_tls(client, "AUTH SSL")
        login(client)
        raw = open_passive(client)
        client.send_line("RETR f.txt")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        with client_context().wrap_socket(raw) as data:
            self.assertEqual(read_all(data), b"protected")
        self.assertEqual(client.read_reply().line, CLOSING)

    def test_sscn_and_cpsv_choose_the_tls_client(self):
        # (setup commands, transfer command, whether the server is the TLS client)
        content = os.urandom(200 * KIB)
        self.write("f.bin", content)
        cases = [
            (["SSCN ON"], "RETR f.bin", True),
            (["SSCN ON"], "LIST", False),
            (["SSCN OFF"], "RETR f.bin", False),
            ([], "CPSV RETR f.bin", True),
            ([], "CPSV LIST", True),
        ]
        for setup, command, server_is_client in cases:
            with self.subTest(setup=setup, command=command):
                client = self.protected_client()
                for line in setup:
                    self.assertEqual(client.command(line).code, 200)
                if command.startswith("CPSV "):
                    command = command[5:]
                    raw = socket.create_connection(("127.0.0.1", passive_port(client, "CPSV")),
                                                   timeout=WAIT)
                else:
                    raw = open_passive(client)
                client.send_line(command)
                self.assertIn(client.read_reply().code, (125, 150))
                if server_is_client:
                    data = server_context().wrap_socket(raw, server_side=True)
                else:
                    data = client_context().wrap_socket(raw)
                with data:
                    received = read_all(data)
                self.assertEqual(client.read_reply().line, CLOSING)
                if command.startswith("RETR"):
                    self.assertEqual(sha256(received), sha256(content))
                else:
                    self.assertIn(b"f.bin", received)

    def test_rein_returns_to_plain_text(self):
        self.write("f.txt", b"plain again")
        client = self.protected_client()
        plain = socket.socket(fileno=os.dup(client.sock.fileno()))
        client.sock.sendall(b"REIN\r\n")
        # Plain text right behind the REIN record, before its reply: it must reach the server
        # as a command, not be read into the ending TLS session.
        plain.sendall(b"USER bob\r\n")
        client.sock = plain  # the reply comes in plain text; no TLS shutdown exchange
        self.assertEqual(client.read_reply().line, "220 Service ready for new user.")
        self.assertEqual(client.read_reply().line, "331 User name okay, need password.")
        self.assertEqual(client.command("PASS pw").code, 230)
        # Data protection went back to clear; the auth mechanism stays, so PBSZ is accepted.
        with open_passive(client) as data:
            client.send_line("RETR f.txt")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            self.assertEqual(read_all(data), b"plain again")
        self.assertEqual(client.read_reply().line, CLOSING)
        self.assertEqual(client.command("PBSZ 0").code, 200)

    def test_stat_and_abor_during_a_protected_transfer(self):
        content = os.urandom(2 * 1024 * KIB)  # about 20 s at the user's limit
        self.write("big.bin", content)
        client = self.protected_client("slow")
        raw = open_passive(client)
        client.send_line("RETR big.bin")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        with client.tls_context.wrap_socket(raw, session=client.sock.session) as data:
            self.assertTrue(data.recv(1))
            # Both lines in one TLS record: the second waits decrypted inside the server's
            # session and must still be seen while the transfer runs.
            started = time.monotonic()
            client.send_raw(b"STAT\r\nABOR\r\n")
            self.assertEqual(client.read_reply().lines, ["211-System status", "211 End of Status"])
            self.assertEqual(client.read_reply().line, CLOSING)
            self.assertEqual(client.read_reply().line, ABNORMAL)
            self.assertLess(time.monotonic() - started, 5)
        self.assert_usable(client)

    # --- faults ------------------------------------------------------------------------------

    def upload_raw_records(self, client, records, end):
        """STOR over a protected passive connection whose TLS runs through memory BIOs, so the
        test decides which record bytes reach the server and how the connection ends."""
        raw = open_passive(client)
        client.send_line("STOR cut.bin")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = client_context().wrap_bio(incoming, outgoing)
        deadline = time.monotonic() + WAIT
        while True:
            self.assertLess(time.monotonic(), deadline, "handshake did not finish")
            try:
                tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                raw.sendall(outgoing.read())
                incoming.write(raw.recv(65536))
        raw.sendall(outgoing.read())
        for record in records:
            tls.write(record)
        wire = outgoing.read()
        if end == "cut inside a record":
            raw.sendall(wire[:-7])
        else:
            raw.sendall(wire)
        if end == "reset":
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        raw.close()
        return client.read_reply().line

    def test_uploads_end_cleanly_only_at_a_record_boundary(self):
        records = [os.urandom(16 * KIB) for _ in range(8)]
        cases = [("end at a record boundary", CLOSING, 8),
                 ("cut inside a record", ABNORMAL, 7),
                 ("reset", ABNORMAL, None)]
        for end, final, whole_records in cases:
            with self.subTest(end=end):
                client = self.protected_client()
                self.assertEqual(self.upload_raw_records(client, records, end), final)
                stored = self.read("cut.bin")
                if whole_records is not None:
                    self.assertEqual(stored, b"".join(records[:whole_records]))
                else:
                    self.assertTrue(b"".join(records).startswith(stored))
                self.assert_usable(client)

    def test_commands_pipelined_behind_auth_are_discarded(self):
        client = self.client()
        client.send_raw(b"AUTH TLS\r\nUSER bob\r\n")
        self.assertEqual(client.read_reply().line, AUTH_OK)
        client.sock = client_context().wrap_socket(client.sock)
        # The USER line never ran: PASS finds no user name.
        self.assertEqual(client.command("PASS pw").line, "503 Login with USER first.")

    def test_commands_queued_behind_auth_during_a_transfer_are_discarded(self):
        content = os.urandom(200 * KIB)  # about 2 s at the user's limit
        self.write("f.bin", content)
        client = self.client()
        login(client, "slow")
        with open_passive(client) as data:
            client.send_line("RETR f.bin")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            self.assertTrue(data.recv(1))
            # Queued during the transfer; AUTH runs after it, the DELE behind it must not.
            client.send_raw(b"AUTH TLS\r\nDELE f.bin\r\n")
            read_all(data)
        self.assertEqual(client.read_reply().line, CLOSING)
        self.assertEqual(client.read_reply().line, AUTH_OK)
        client.sock = client_context().wrap_socket(client.sock)
        self.assert_usable(client)
        self.assertEqual(self.read("f.bin"), content)

    def test_a_failed_control_handshake_is_answered_in_plain_text(self):
        client = self.client()
        self.assertEqual(client.command("AUTH TLS").line, AUTH_OK)
        client.send_raw(b"this is no TLS handshake\r\n")
        reply = client.read_reply()
        self.assertEqual(reply.code, 501)
        self.assertEqual(reply.lines[0], "501-Error accepting connection with SSL.")
        # What followed AUTH is never read as commands: the connection closes.
        self.assertTrue(client.closed_by_peer(timeout=WAIT))
        # A client that sends AUTH and leaves costs nothing to the others.
        with self.server.ftp_client(timeout=WAIT) as gone:
            gone.send_line("AUTH TLS")
        other = self.protected_client()
        self.assert_usable(other)

    def test_protection_mismatch_on_the_data_connection(self):
        self.write("f.txt", b"listing")
        # A plain data connection after PROT P: the handshake fails, the transfer ends with
        # 426 and the control connection stays usable.
        client = self.protected_client()
        with open_passive(client) as data:
            client.send_line("LIST")
            self.assertEqual(client.read_reply().line, LIST_OPENING)
            data.sendall(b"plain bytes, no handshake\r\n")
            self.assertEqual(client.read_reply().line, ABNORMAL)
        self.drain_to_noop(client)
        # A TLS handshake on a data connection after PROT C: the listing goes out in plain
        # text, the client's handshake fails, the server ends the transfer normally.
        client = self.client()
        start_tls(client)
        login(client)
        raw = open_passive(client)
        client.send_line("LIST")
        self.assertEqual(client.read_reply().line, LIST_OPENING)
        with self.assertRaises((ssl.SSLError, OSError)):
            client_context().wrap_socket(raw)
        raw.close()
        self.assertIn(client.read_reply().code, (226, 426))
        self.drain_to_noop(client)

    def test_bad_input_leaves_no_descriptor_or_thread_behind(self):
        pid = self.server.process.pid

        def resources():
            return (len(os.listdir("/proc/%d/fd" % pid)), len(os.listdir("/proc/%d/task" % pid)))

        baseline = resources()
        for _ in range(3):
            with self.server.ftp_client(timeout=WAIT) as gone:  # AUTH, then gone
                gone.send_line("AUTH TLS")
            with self.server.ftp_client(timeout=WAIT) as garbage:  # garbage after 234
                garbage.command("AUTH TLS")
                garbage.send_raw(b"\x16\x03\x01\x00\x05hello")
                garbage.closed_by_peer(timeout=WAIT)
            client = self.protected_client()  # a plain data connection after PROT P
            with open_passive(client) as data:
                client.send_line("NLST")
                client.read_reply()
                data.sendall(b"plain")
                self.assertEqual(client.read_reply().line, ABNORMAL)
            client.close()
        deadline = time.monotonic() + WAIT
        while resources() != baseline and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(resources(), baseline)

    def drain_to_noop(self, client):
        """Sends NOOP and reads replies until its 200 (a failed transfer may have one more)."""
        client.send_line("NOOP")
        for _ in range(3):
            if client.read_reply().code == 200:
                return
        self.fail("no NOOP reply")

    # --- real clients ------------------------------------------------------------------------

    def test_ftp_tls_with_prot_p(self):
        content = os.urandom(1024 * KIB)
        with ftplib.FTP_TLS(context=client_context(), timeout=WAIT) as ftp:
            ftp.connect("127.0.0.1", self.server.ftp_port)
            ftp.auth()
            ftp.login("bob", "pw")
            ftp.prot_p()
            ftp.storbinary("STOR up.bin", io.BytesIO(content))
            received = io.BytesIO()
            ftp.retrbinary("RETR up.bin", received.write)
            self.assertEqual(ftp.nlst(), ["up.bin"])
        self.assertEqual(sha256(received.getvalue()), sha256(content))
        self.assertEqual(sha256(self.read("up.bin")), sha256(content))

    @unittest.skipUnless(shutil.which("curl"), "curl is not installed")
    def test_curl_ssl_reqd_download_and_upload(self):
        content = os.urandom(5 * 1024 * KIB + 7)
        self.write("down.bin", content)
        work = tempfile.mkdtemp(prefix="corvane-curl-")
        self.addCleanup(shutil.rmtree, work, True)
        # Passive only: this curl does not start TLS on a data connection it accepts (active
        # mode); Python's ssl covers active protected transfers above.
        for mode in ([], ["--disable-epsv"]):
            with self.subTest(mode=mode):
                target = os.path.join(work, "down.bin")
                common = ["curl", "-sS", "--ssl-reqd", "-k", "--max-time", "60", *mode]
                self.run_client([*common, "-o", target, self.url + "down.bin"])
                with open(target, "rb") as received:
                    self.assertEqual(sha256(received.read()), sha256(content))
                self.run_client([*common, "-T", target, self.url + "up.bin"])
                self.assertEqual(sha256(self.read("up.bin")), sha256(content))
                os.remove(os.path.join(self.home, "up.bin"))

    @unittest.skipUnless(shutil.which("lftp"), "lftp is not installed")
    def test_lftp_mirrors_down_and_up_with_protection(self):
        tree = os.path.join(self.home, "tree")
        os.makedirs(os.path.join(tree, "sub"))
        files = {"a.bin": 700 * KIB, "sub/b.txt": 10, "sub/c.bin": 2 * 1024 * KIB, "zero": 0}
        contents = {name: os.urandom(size) for name, size in files.items()}
        for name, content in contents.items():
            self.write(os.path.join("tree", name), content)
        work = tempfile.mkdtemp(prefix="corvane-lftp-")
        self.addCleanup(shutil.rmtree, work, True)
        down = os.path.join(work, "down")
        script = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                  "set ssl:verify-certificate no; set net:max-retries 1; set net:timeout 20; "
                  "open -u bob,pw -p %d 127.0.0.1; mirror tree %s; mirror -R %s up; bye"
                  % (self.server.ftp_port, down, down))
        self.run_client(["lftp", "-c", script])
        for name, content in contents.items():
            for root in (down, os.path.join(self.home, "up")):
                with open(os.path.join(root, name), "rb") as copied:
                    self.assertEqual(sha256(copied.read()), sha256(content), (root, name))


class FtpsStopTest(unittest.TestCase):
    def test_stop_wakes_handshakes_and_protected_transfers(self):
        home = tempfile.mkdtemp(prefix="corvane-ftps-stop-")
        self.addCleanup(shutil.rmtree, home, True)
        for name in ("one.bin", "two.bin"):  # a file serves one transfer at a time
            with open(os.path.join(home, name), "wb") as out:
                out.write(os.urandom(2 * 1024 * KIB))
        server = CorvaneServer(users=[User("slow", "pw", home, bandwidth="100")])
        self.addCleanup(server.close)
        server.start()
        # One session waits in the control handshake: AUTH, then nothing.
        silent = server.ftp_client(timeout=WAIT)
        self.addCleanup(silent.close)
        self.assertEqual(silent.command("AUTH TLS").line, AUTH_OK)
        # One waits in a protected data handshake, one in a throttled protected download.
        waiting = server.ftp_client(timeout=WAIT)
        self.addCleanup(waiting.close)
        protect(waiting)
        login(waiting, "slow")
        idle_data = open_passive(waiting)
        self.addCleanup(idle_data.close)
        waiting.send_line("RETR one.bin")
        self.assertEqual(waiting.read_reply().line, ABOUT_TO_OPEN)
        moving = server.ftp_client(timeout=WAIT)
        self.addCleanup(moving.close)
        protect(moving)
        login(moving, "slow")
        raw = open_passive(moving)
        moving.send_line("RETR two.bin")
        self.assertEqual(moving.read_reply().line, ABOUT_TO_OPEN)
        data = moving.tls_context.wrap_socket(raw, session=moving.sock.session)
        self.addCleanup(data.close)
        self.assertTrue(data.recv(1))
        # And one uploads without pause for up to 15 s.
        sending = server.ftp_client(timeout=WAIT)
        self.addCleanup(sending.close)
        protect(sending)
        login(sending, "slow")
        raw = open_passive(sending)
        sending.send_line("STOR up.bin")
        self.assertEqual(sending.read_reply().line, ABOUT_TO_OPEN)
        upload = sending.tls_context.wrap_socket(raw, session=sending.sock.session)
        self.addCleanup(upload.close)

        def send_until_refused():
            deadline = time.monotonic() + 15
            try:
                while time.monotonic() < deadline:
                    upload.sendall(b"x" * 16384)
            except OSError:
                pass
        sender = threading.Thread(target=send_until_refused)
        sender.start()
        self.addCleanup(sender.join, 20)
        time.sleep(0.5)
        started = time.monotonic()
        self.assertEqual(server.stop(timeout=WAIT), 0)
        self.assertLess(time.monotonic() - started, 10)
        stderr = server.stderr_text()
        self.assertNotIn("Sanitizer", stderr)
        self.assertNotIn("runtime error", stderr)


@unittest.skipUnless(ipv6_loopback(), "no IPv6 loopback")
class FtpsIpv6Test(unittest.TestCase):
    def test_cpsv_is_not_understood_over_ipv6(self):
        home = tempfile.mkdtemp(prefix="corvane-ftps6-")
        self.addCleanup(shutil.rmtree, home, True)
        server = CorvaneServer(users=[User("bob", "pw", home)])
        self.addCleanup(server.close)
        # No FTP address: the listener falls back to the IPv4 and IPv6 wildcards.
        server.ftp_port = wildcard_free_port()
        server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port, ftp_ips=()))
        server.start()
        expect_clean_stop(self, server)
        with ControlClient(server.ftp_port, host="::1", timeout=WAIT) as client:
            self.assertNotIn(" CPSV", client.command("FEAT").lines)
            start_tls(client)
            login(client)
            self.assertEqual(client.command("CPSV").line, "500 'CPSV': command not understood.")
            self.assertEqual(client.command("PBSZ 0").code, 200)
            self.assertEqual(client.command("PROT P").code, 200)
            reply = client.command("EPSV")
            port = int(re.search(r"\|\|\|(\d+)\|", reply.line).group(1))
            raw = socket.create_connection(("::1", port), timeout=WAIT)
            client.send_line("NLST")
            self.assertEqual(client.read_reply().code, 125)
            with client.tls_context.wrap_socket(raw, session=client.sock.session) as data:
                self.assertEqual(read_all(data), b"")
            self.assertEqual(client.read_reply().line, CLOSING)


if __name__ == "__main__":
    unittest.main()
