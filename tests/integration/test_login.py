"""Login on the real server: users.xml accounts (raw replies and a real client), the password
attempt limit, users.xml errors at activation, and machine accounts through PAM (pam_wrapper
with pam_matrix, so nothing under /etc is used)."""

import ftplib
import os
import pwd
import shutil
import tempfile
import unittest

from ftp_harness import CorvaneServer, User, gc_xml

LOGGED_IN = b"230 User logged in, proceed.\r\n"
NEED_PASSWORD = b"331 User name okay, need password.\r\n"
REFUSED = b"530 Not logged in.\r\n"
CLOSING = b"421 Service not available, closing control connection.\r\n"
LOGGING_IN = " Loging in...."


def expect_clean_stop(test, server):
    """Registers a cleanup that stops the server and fails the test if it did not end cleanly
    (a sanitizer report included)."""
    def check():
        status = server.stop()
        stderr = server.stderr_text()
        test.assertFalse(status != 0 or "Sanitizer" in stderr or "runtime error" in stderr,
                         "server ended with %s:\n%s" % (status, stderr))
    test.addCleanup(check)


def ask(client, line):
    client.send_raw(line + b"\r\n")
    return client.read_reply().raw


class HomeCase(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="corvane-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        os.makedirs(os.path.join(self.home, "sub", "deeper"))

    def run_table(self, client, table):
        for line, expected in table:
            with self.subTest(line=line):
                self.assertEqual(ask(client, line), expected)


class XmlLoginTest(HomeCase):
    def setUp(self):
        super().setUp()
        self.server = CorvaneServer(users=[
            User("bob", "Pw#1", self.home),
            User("carol", "c2", self.home, bandwidth="12a"),
            User("dave", "d", self.home, status="0"),
        ])
        self.addCleanup(self.server.close)
        self.server.start()
        expect_clean_stop(self, self.server)

    def client(self):
        client = self.server.ftp_client()
        self.addCleanup(client.close)
        return client

    def logins_logged(self):
        return self.server.main_log_messages().count(LOGGING_IN)

    def test_third_wrong_password_closes_the_connection(self):
        client = self.client()
        self.run_table(client, [
            (b"USER bob", NEED_PASSWORD),
            (b"PASS wrong", REFUSED),
            (b"PASS Pw#1 ", REFUSED),
            (b"PASS pw#1", CLOSING),
        ])
        self.assertTrue(client.closed_by_peer())
        self.assertEqual(self.logins_logged(), 3)

    def test_a_right_password_starts_the_count_again(self):
        client = self.client()
        self.run_table(client, [
            (b"USER bob", NEED_PASSWORD),
            (b"PASS a", REFUSED), (b"PASS b", REFUSED),
            (b"PASS Pw#1", LOGGED_IN),
            (b"USER bob", NEED_PASSWORD),
            (b"PASS c", REFUSED), (b"PASS d", REFUSED),
            (b"PWD", REFUSED),
            (b"USER bob", NEED_PASSWORD),
            (b"PASS e", CLOSING),
        ])
        self.assertTrue(client.closed_by_peer())

    def test_user_names_are_exact_and_disabled_accounts_refused(self):
        client = self.client()
        for user, password in [(b"BOB", b"Pw#1"), (b"dave", b"d"), (b"nobody", b"x")]:
            with self.subTest(user=user):
                self.assertEqual(ask(client, b"USER " + user), NEED_PASSWORD)
                self.assertEqual(ask(client, b"PASS " + password), REFUSED)
                client = self.client()  # a fresh attempt count
        self.assertEqual(self.logins_logged(), 3)

    def test_bandwidth_that_is_no_number_ends_the_login_with_503(self):
        client = self.client()
        self.run_table(client, [
            (b"USER carol", NEED_PASSWORD),
            (b"PASS c2", b"503 '12a' is not a valid bandwidth\r\n"),
            (b"PWD", REFUSED),
            (b"USER bob", NEED_PASSWORD),
            (b"PASS Pw#1", LOGGED_IN),
        ])
        other = self.client()
        self.run_table(other, [(b"USER bob", NEED_PASSWORD), (b"PASS Pw#1", LOGGED_IN)])

    def test_a_real_client_logs_in_and_moves_around(self):
        with ftplib.FTP() as ftp:
            welcome = ftp.connect("127.0.0.1", self.server.ftp_port, timeout=10)
            self.assertTrue(welcome.startswith("220 Corvane Server ("), welcome)
            self.assertTrue(ftp.login("bob", "Pw#1").startswith("230"))
            self.assertEqual(ftp.pwd(), "/")
            ftp.cwd("sub")
            self.assertEqual(ftp.pwd(), "/sub")
            ftp.cwd("..")
            self.assertEqual(ftp.pwd(), "/")
            ftp.cwd("/sub/deeper")
            self.assertEqual(ftp.sendcmd("CDUP"), '250 "/sub/" is working directory.')
            self.assertEqual(ftp.pwd(), "/sub/")
            self.assertIn("SITE ZONE", ftp.sendcmd("FEAT"))
            self.assertTrue(ftp.sendcmd("HELP").startswith("214-"))
            self.assertEqual(ftp.quit(), "221 Goodbye.")


class UsersFileErrorTest(HomeCase):
    def start(self, users_text):
        server = CorvaneServer()
        self.addCleanup(server.close)
        server.write_file("users.xml", users_text)
        server.start()
        return server

    def login(self, server, user, password):
        client = server.ftp_client()
        self.addCleanup(client.close)
        self.assertEqual(ask(client, b"USER " + user), NEED_PASSWORD)
        return ask(client, b"PASS " + password)

    def test_malformed_file_is_logged_and_no_one_logs_in(self):
        server = self.start("<users><user><username>bob</username><password>p</pass")
        server.wait_for_log("is not well-formed")
        self.assertNotIn("Users loaded from xml file", server.main_log_messages())
        self.assertEqual(self.login(server, b"bob", b"p"), REFUSED)

    def test_account_without_home_stops_the_load_and_keeps_earlier_accounts(self):
        server = self.start(
            "<users>"
            "<user><username>first</username><password>f</password>"
            "<homedir>%s</homedir><status>1</status></user>"
            "<user><username>broken</username><password>b</password><status>1</status></user>"
            "<user><username>after</username><password>a</password>"
            "<homedir>%s</homedir><status>1</status></user>"
            "</users>" % (self.home, self.home))
        server.wait_for_log("has no homedir text")
        self.assertNotIn("Users loaded from xml file", server.main_log_messages())
        self.assertEqual(self.login(server, b"first", b"f"), LOGGED_IN)
        self.assertEqual(self.login(server, b"broken", b"b"), REFUSED)
        self.assertEqual(self.login(server, b"after", b"a"), REFUSED)


def pam_wrapper_library():
    for directory in ("/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/lib64",
                      "/usr/lib"):
        library = os.path.join(directory, "libpam_wrapper.so")
        matrix = os.path.join(directory, "pam_wrapper", "pam_matrix.so")
        if os.path.exists(library) and os.path.exists(matrix):
            return library, matrix
    return None


@unittest.skipUnless(pam_wrapper_library(), "pam_wrapper is not installed")
class MachineAccountTest(HomeCase):
    def setUp(self):
        super().setUp()
        library, matrix = pam_wrapper_library()
        self.me = pwd.getpwuid(os.getuid()).pw_name
        pam = tempfile.mkdtemp(prefix="corvane-pam-")
        self.addCleanup(shutil.rmtree, pam, True)
        services = os.path.join(pam, "services")
        os.mkdir(services)
        passdb = os.path.join(pam, "passdb")
        with open(passdb, "w") as out:
            out.write("%s:Right#1:corvane\ncorvane-no-such-account:ghost:corvane\n" % self.me)
        with open(os.path.join(pam, "empty"), "w"):
            pass
        for service, database in (("corvane", passdb), ("other", os.path.join(pam, "empty"))):
            with open(os.path.join(services, service), "w") as out:
                for kind in ("auth", "account"):
                    out.write("%s required %s passdb=%s\n" % (kind, matrix, database))
        asan = os.environ.get("ASAN_OPTIONS")
        env = {
            "LD_PRELOAD": library,
            "PAM_WRAPPER": "1",
            # Deep binding breaks the sanitizer runtime; this version of the wrapper reads
            # the second name.
            "PAM_WRAPPER_DISABLE_DEEPBIND": "1",
            "UID_WRAPPER_DISABLE_DEEPBIND": "1",
            "PAM_WRAPPER_SERVICE_DIR": services,
            # The sanitizer runtime would refuse to start behind another preloaded library.
            "ASAN_OPTIONS": (asan + ":" if asan else "") + "verify_asan_link_order=0",
        }
        self.server = CorvaneServer(config=None, users=[User("alice", "Right#1", self.home)],
                                    extra_env=env)
        self.addCleanup(self.server.close)
        self.server.write_file("gc.xml", gc_xml(self.server.ftp_port, self.server.management_port,
                                                authoption="win"))
        self.server.start()
        expect_clean_stop(self, self.server)

    def test_machine_account_logs_in_through_pam(self):
        client = self.server.ftp_client()
        self.addCleanup(client.close)
        me = self.me.encode()
        self.run_table(client, [
            (b"USER " + me, NEED_PASSWORD),
            (b"PASS right#1", REFUSED),
            # users.xml is not consulted at all.
            (b"USER alice", NEED_PASSWORD), (b"PASS Right#1", REFUSED),
            (b"USER " + me, NEED_PASSWORD),
            (b"PASS Right#1", LOGGED_IN),
            (b"PWD", b'257 "/" is working directory.\r\n'),
            (b"CWD /", b"250 CWD Command successful.\r\n"),
            # Known to PAM but without a machine account: no home, no login.
            (b"USER corvane-no-such-account", NEED_PASSWORD), (b"PASS ghost", REFUSED),
            (b"PWD", REFUSED),
        ])
        self.assertEqual(self.server.main_log_messages().count(LOGGING_IN), 4)


if __name__ == "__main__":
    unittest.main()
