"""The management port of the real server, byte for byte: the greeting, the three commands and
their password check, unknown and empty lines, the line bound, non-ASCII bytes, many requests
on one connection, clients that close at once, and reloads of users.xml and rules.txt while
FTP sessions go on."""

import os
import shutil
import socket
import tempfile
import time
import unittest

from ftp_harness import LOOPBACK, CorvaneServer, User, gc_xml, users_xml

READY = "Users loaded from xml file"
UNAUTHORIZED = "Unauthorized request received at management port"
WELCOME = b"200 Welcome\r\n"
DONE = b"200 Done\r\n"
REFUSED = b"201 Authorization failed\r\n"
PASSWORDS = {"alice": "a1", "bob": "b2", "carol": "c3"}
LOGGED_IN = 230
NOT_LOGGED_IN = 530


def unknown(line):
    return b"400-Unknown Command\r\n400 " + line + b"\r\n"


def expect_clean_stop(test, server):
    """Registers a cleanup that stops the server and fails the test unless it ended cleanly."""
    def check():
        status = server.stop()
        stderr = server.stderr_text()
        test.assertFalse(status != 0 or "Sanitizer" in stderr or "runtime error" in stderr,
                         "server ended with %s:\n%s" % (status, stderr))
    test.addCleanup(check)


def send_and_close(port, line):
    """What the desktop's reload requests do: connect, send one line, close without reading."""
    with socket.create_connection((LOOPBACK, port), timeout=5) as sock:
        sock.sendall(line + b"\r\n")


def ftp_arrival(port):
    """What a new FTP client receives first: the greeting, or b"" when the access rules made
    the server close the connection without a word."""
    with socket.create_connection((LOOPBACK, port), timeout=5) as sock:
        data = b""
        deadline = time.monotonic() + 5
        while b"\r\n" not in data and time.monotonic() < deadline:
            try:
                chunk = sock.recv(4096)
            except ConnectionResetError:
                break
            if not chunk:
                break
            data += chunk
        return data


def wait_until(condition, what, timeout=10):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise TimeoutError("not in time: " + what)
        time.sleep(0.05)


class ManagementCase(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="corvane-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.accounts = {name: User(name, PASSWORDS[name], self.home) for name in ("alice", "bob")}

    def start(self, password=None, rules=None):
        server = CorvaneServer(users=self.accounts.values(), rules=rules)
        self.addCleanup(server.close)
        if password is not None:
            server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port,
                                               password=password))
        server.start()
        expect_clean_stop(self, server)
        server.wait_for_log(READY)
        self.server = server
        self.log_seen = len(server.main_log_messages())
        self.pw = server.password.encode()
        return server

    def new_log_lines(self):
        messages = self.server.main_log_messages()
        fresh = messages[self.log_seen:]
        self.log_seen = len(messages)
        return fresh

    def management(self):
        client = self.server.management_client()
        self.addCleanup(client.close)
        self.assertEqual(client.greeting.raw, WELCOME)
        return client

    def ask(self, client, line):
        client.send_raw(line + b"\r\n")
        return client.read_reply().raw

    def ftp(self, user=None):
        """An FTP control connection, logged in as the user when one is named."""
        client = self.server.ftp_client()
        self.addCleanup(client.close)
        if user is not None:
            self.assertEqual(self.login(client, user), LOGGED_IN)
        return client

    def login(self, client, user):
        client.command("USER " + user)
        return client.command("PASS " + PASSWORDS[user]).code

    def login_code(self, user):
        with self.server.ftp_client() as client:
            return self.login(client, user)

    def status(self):
        with self.server.management_client() as client:
            return self.ask(client, b"USERSSTATUS " + self.pw)


class ManagementRepliesTest(ManagementCase):
    def test_greeting_and_an_idle_connection_stays_open(self):
        self.start()
        client = self.management()
        self.assertFalse(client.closed_by_peer(timeout=0.5))
        self.assertEqual(client.buffer, b"")
        self.assertEqual(self.ask(client, b"USERSSTATUS " + self.pw), b"200 0\r\n")

    def test_replies_on_one_connection(self):
        self.start()
        pw = self.pw
        client = self.management()
        table = [
            (b"USERSSTATUS " + pw, b"200 0\r\n"),
            (b"usersstatus " + pw, b"200 0\r\n"),
            (b"UsersStatus " + pw + b" and further words", b"200 0\r\n"),
            (b"USERSSTATUS    " + pw + b"   ", b"200 0\r\n"),
            (b"USERSSTATUS " + pw[:-1], REFUSED),
            (b"USERSSTATUS " + pw + b"x", REFUSED),
            (b"USERSRELOAD wrong", REFUSED),
            (b"rulesreload wrong " + pw, REFUSED),
            (b"HELLO", unknown(b"HELLO")),
            (b"USERSSTATUSX " + pw, unknown(b"USERSSTATUSX " + pw)),
            (b"USERSSTATUS\t" + pw, unknown(b"USERSSTATUS\t" + pw)),
            (b" USERSSTATUS " + pw, unknown(b" USERSSTATUS " + pw)),
            (b"HELLO \x80\xff\xc3\xa9 x", unknown(b"HELLO ???? x")),
            (b"USERSSTATUS " + pw + b"\xe9", REFUSED),
            (b"USERSRELOAD " + pw, DONE),
            (b"RulesReload " + pw, DONE),
        ]
        for line, expected in table:
            with self.subTest(line=line):
                self.assertEqual(self.ask(client, line), expected)
        refusals = sum(1 for _, expected in table if expected == REFUSED)
        self.assertEqual(self.new_log_lines(), [UNAUTHORIZED] * refusals + [READY])

    def test_command_without_parameter_gets_one_500_line_and_no_log(self):
        self.start()
        client = self.management()
        for line in (b"USERSSTATUS", b"USERSRELOAD", b"RULESRELOAD", b"usersreload ",
                     b"USERSSTATUS     "):
            with self.subTest(line=line):
                reply = self.ask(client, line)
                self.assertTrue(reply.startswith(b"500 ") and len(reply) > 6, reply)
                self.assertEqual(reply.count(b"\r\n"), 1, reply)
        self.assertEqual(self.new_log_lines(), [])

    def test_empty_lines_get_no_reply(self):
        self.start()
        client = self.management()
        client.send_raw(b"\r\n\n\r\n" + b"USERSSTATUS " + self.pw + b"\r\n\n")
        self.assertEqual(client.read_reply().raw, b"200 0\r\n")
        self.assertEqual(client.read_available(wait=0.3), b"")
        self.assertEqual(self.ask(client, b"HELLO"), unknown(b"HELLO"))

    def test_line_bound(self):
        self.start()
        longest = b"A" * 16384
        client = self.management()
        self.assertEqual(self.ask(client, longest), unknown(longest))
        client.send_raw(longest + b"\n")
        self.assertEqual(client.read_reply().raw, unknown(longest))
        for too_long in (b"A" * 16385 + b"\r\n", b"B" * 100000):
            with self.subTest(length=len(too_long)):
                client = self.management()
                try:
                    client.send_raw(too_long)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # the server may close before it has read everything
                self.assertTrue(client.closed_by_peer())
                self.assertEqual(client.buffer, b"")
        self.assertEqual(self.status(), b"200 0\r\n")

    def test_hundreds_of_requests_on_one_connection(self):
        self.start()
        pw = self.pw
        cycle = [
            (b"USERSSTATUS " + pw, b"200 0\r\n"),
            (b"", None),
            (b"HELLO %d", b"400-Unknown Command\r\n400 HELLO %d\r\n"),
            (b"usersstatus " + pw + b" more", b"200 0\r\n"),
            (b"USERSSTATUS", None),
        ]
        requests, expected = [], []
        for number in range(100):
            for line, reply in cycle:
                request = line.replace(b"%d", b"%d" % number)
                requests.append(request)
                if request == b"USERSSTATUS":
                    expected.append(b"500 ")
                elif reply is not None:
                    expected.append(reply.replace(b"%d", b"%d" % number))
        client = self.management()
        # Sent in one piece: the server reads many requests from one receive.
        client.send_raw(b"".join(request + b"\r\n" for request in requests))
        for number, want in enumerate(expected):
            got = client.read_reply().raw
            if want == b"500 ":
                self.assertTrue(got.startswith(want), (number, got))
            else:
                self.assertEqual(got, want, number)
        self.assertEqual(client.read_available(wait=0.3), b"")
        self.assertEqual(self.new_log_lines(), [])

    def test_password_with_a_blank_refuses_every_request(self):
        self.start(password="two words")
        client = self.management()
        for line in (b"USERSSTATUS two words", b"USERSSTATUS two", b"USERSSTATUS two  words",
                     b"USERSRELOAD two words", b"RULESRELOAD two words",
                     b"USERSSTATUS " + self.pw):
            with self.subTest(line=line):
                self.assertEqual(self.ask(client, line), REFUSED)
        self.assertEqual(self.new_log_lines(), [UNAUTHORIZED] * 6)

    def test_configured_password_replaces_the_default(self):
        self.start(password="S3cret!")
        client = self.management()
        self.assertEqual(self.ask(client, b"USERSSTATUS S3cret!"), b"200 0\r\n")
        self.assertEqual(self.ask(client, b"USERSSTATUS s3cret!"), REFUSED)
        self.assertEqual(self.ask(client, b"USERSSTATUS " + self.pw), REFUSED)


class ConnectionCountTest(ManagementCase):
    def test_status_counts_open_ftp_connections_logged_in_or_not(self):
        self.start()
        first = self.ftp("alice")
        second = self.ftp()
        self.assertEqual(self.status(), b"200 2\r\n")
        self.management()  # management connections are not FTP connections
        self.assertEqual(self.status(), b"200 2\r\n")
        first.close()
        second.close()
        wait_until(lambda: self.status() == b"200 0\r\n", "both FTP connections gone")


class ReloadTest(ManagementCase):
    def test_client_closing_right_after_sending_still_gets_its_command_done(self):
        self.start()
        self.server.write_file("rules.txt", "POLICY REJECT\r\n")
        send_and_close(self.server.management_port, b"RULESRELOAD " + self.pw)
        wait_until(lambda: ftp_arrival(self.server.ftp_port) == b"", "rules reloaded")

        del self.accounts["alice"]
        self.server.write_file("users.xml", users_xml(self.accounts.values()))
        send_and_close(self.server.management_port, b"USERSRELOAD " + self.pw)
        wait_until(lambda: self.server.main_log_messages().count(READY) == 2, "users reloaded")

    def test_users_reload_applies_to_new_logins_while_a_session_goes_on(self):
        self.start()
        session = self.ftp("alice")
        self.accounts = {"bob": self.accounts["bob"], "carol": User("carol", "c3", self.home)}
        self.server.write_file("users.xml", users_xml(self.accounts.values()))
        client = self.management()
        # Without its password the command is not carried out.
        self.assertTrue(self.ask(client, b"USERSRELOAD").startswith(b"500 "))
        self.assertEqual(self.login_code("carol"), NOT_LOGGED_IN)
        self.assertEqual(self.ask(client, b"USERSRELOAD " + self.pw), DONE)
        self.assertEqual(self.login_code("alice"), NOT_LOGGED_IN)
        self.assertEqual(self.login_code("carol"), LOGGED_IN)
        self.assertEqual(self.login_code("bob"), LOGGED_IN)
        self.assertEqual(session.command("PWD").code, 257)
        self.assertEqual(session.command("NOOP").code, 200)

    def test_users_reload_failures(self):
        self.start()
        session = self.ftp("alice")
        client = self.management()
        path = self.server.file("users.xml")
        cases = [
            # Not well-formed: the parser's message, and the emptied table stays empty.
            ("<users><user><username>bob</username><password>b2</pass",
             b"500 XML file " + path.encode() + b" is not well-formed: ",
             {"alice": False, "bob": False}),
            # An enabled account without a home stops the load: the accounts before it stay.
            ("<users><user><username>bob</username><password>b2</password><homedir>%s</homedir>"
             "<status>1</status></user><user><username>alice</username><password>a1</password>"
             "<status>1</status></user></users>" % self.home,
             b"500 ", {"bob": True, "alice": False}),
        ]
        for number, (text, reply_start, logins) in enumerate(cases):
            with self.subTest(case=number):
                self.server.write_file("users.xml", text)
                reply = self.ask(client, b"USERSRELOAD " + self.pw)
                self.assertTrue(reply.startswith(reply_start) and len(reply) > 40, reply)
                self.assertEqual(reply.count(b"\r\n"), 1, reply)
                for user, allowed in logins.items():
                    self.assertEqual(self.login_code(user),
                                     LOGGED_IN if allowed else NOT_LOGGED_IN, user)
        self.assertEqual(session.command("PWD").code, 257)
        # A missing file is no failure: the table is just empty.
        os.remove(path)
        self.assertEqual(self.ask(client, b"USERSRELOAD " + self.pw), DONE)
        self.assertEqual(self.login_code("bob"), NOT_LOGGED_IN)
        self.server.write_file("users.xml", users_xml(self.accounts.values()))
        self.assertEqual(self.ask(client, b"USERSRELOAD " + self.pw), DONE)
        self.assertEqual(self.login_code("alice"), LOGGED_IN)

    def test_rules_reload_needs_the_password_and_rules_never_bar_the_port(self):
        self.start(rules="POLICY REJECT\r\n")

        def ftp_admitted():
            return ftp_arrival(self.server.ftp_port).startswith(b"220 ")
        with socket.create_connection((LOOPBACK, self.server.management_port), timeout=5,
                                      source_address=("127.0.0.5", 0)) as stranger:
            stranger.settimeout(5)
            self.assertEqual(stranger.recv(100), WELCOME)
        self.server.write_file("rules.txt", "POLICY ACCEPT\r\n")
        client = self.management()
        self.assertEqual(self.ask(client, b"RULESRELOAD wrong"), REFUSED)
        self.assertTrue(self.ask(client, b"RULESRELOAD").startswith(b"500 "))
        self.assertFalse(ftp_admitted())
        self.assertEqual(self.ask(client, b"RULESRELOAD " + self.pw), DONE)
        self.assertTrue(ftp_admitted())


if __name__ == "__main__":
    unittest.main()
