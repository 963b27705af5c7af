"""The FTP control connection of the real server, byte for byte: dispatch, Telnet handling,
working directory, the informational commands, the line bound, the connection limit and how
bad clients are contained."""

import os
import shutil
import signal
import socket
import struct
import tempfile
import threading
import time
import unittest

from ftp_harness import ControlClient, CorvaneServer, User, gc_xml

GREETING = b"220 Corvane Server (https://www.corvane.example)\r\n"
NOT_LOGGED_IN = b"530 Not logged in.\r\n"
NOT_TAKEN = b"550 Requested file action not taken.\r\n"

HELP = (b"214-The following commands are recognized (* => unimplemented, + => extension).\r\n"
        b"214-    ABOR      CWD       MIC*      MSOM*     QUIT      SSCN      XMKD      \r\n"
        b"214-    ACCT*     DELE      MKD       NLST      REIN      STAT      XPWD      \r\n"
        b"214-    ALLO      ENC*      MLFL*     NOOP      REST      STOR      XRMD      \r\n"
        b"214-    APPE      EPRT      MLSD      OPTS      RETR      STOU      \r\n"
        b"214-    AUTH      EPSV      MLST      PASS      RMD       STRU      \r\n"
        b"214-    CCC       FEAT      MODE      PASV      RNFR      SYST      \r\n"
        b"214-    CDUP      HELP      MRCP*     PBSZ      RNTO      TYPE      \r\n"
        b"214-    CLNT      LIST      MRSQ*     PORT      SITE      USER      \r\n"
        b"214-    CONF*     MAIL*     MSAM*     PROT      SMNT      XCUP      \r\n"
        b"214-    CPSV      MFCT      MSND*     PWD       SPSV      XCWD      \r\n"
        b"214 \r\n")


def feat(mlst_line):
    return (b"211-Extensions supported:\r\n"
            b" AUTH TLS;AUTH TLS-C;SSL;TLS-P;\r\n CCC\r\n CPSV\r\n EPRT\r\n EPSV\r\n"
            b" LIST -laT\r\n MLSD\r\n " + mlst_line + b"\r\n"
            b" OPTS MLST;UTF8\r\n PBSZ\r\n PROT\r\n REST STREAM\r\n SITE ZONE\r\n SPSV\r\n"
            b" SSCN\r\n STAT -laT\r\n TVFS\r\n UTF8\r\n RFC 959 2389 2577 3659 4217\r\n"
            b"211 End of extentions.\r\n")


def ask(client, line):
    """Sends one line (bytes, sent as they stand, plus CR LF) and returns the raw reply."""
    client.send_raw(line + b"\r\n")
    return client.read_reply().raw


def read_exactly(client, count, timeout=5):
    """Exactly count bytes from the connection (what the harness buffered first)."""
    deadline = time.monotonic() + timeout
    data, client.buffer = client.buffer, b""
    while len(data) < count:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError("have %r" % data)
        client.sock.settimeout(remaining)
        chunk = client.sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError("closed; have %r" % data)
        data += chunk
    return data


def thread_ids(pid):
    return os.listdir("/proc/%d/task" % pid)


def voluntary_switches(pid):
    """The voluntary context switches of every thread of the process, by thread id."""
    counts = {}
    for tid in thread_ids(pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as status:
                for row in status:
                    if row.startswith("voluntary_ctxt_switches:"):
                        counts[tid] = int(row.split()[1])
        except FileNotFoundError:
            continue
    return counts


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for row in status:
            if row.startswith("VmRSS:"):
                return int(row.split()[1])
    raise AssertionError("no VmRSS")


class ServerCase(unittest.TestCase):
    """One server for the whole class, with one account whose home is a fresh directory."""

    extra_env = {"TZ": "UTC-1"}  # one hour east of UTC

    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="corvane-home-")
        # The directories the working-directory tables enter (CWD needs them to exist).
        for directory in ("sub/x", "a/b", "a/x/.profile/ two  spaces", "etc", "\u20ac"):
            os.makedirs(os.path.join(cls.home, directory))
        cls.server = CorvaneServer(users=[User("bob", "pw", cls.home)], extra_env=cls.extra_env)
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        try:
            status = cls.server.stop()
            stderr = cls.server.stderr_text()
        finally:
            cls.server.close()
            shutil.rmtree(cls.home, ignore_errors=True)
        if status != 0 or "Sanitizer" in stderr or "runtime error" in stderr:
            raise AssertionError("server ended with %s:\n%s" % (status, stderr))

    def connect(self):
        client = self.server.ftp_client()
        self.addCleanup(client.close)
        self.assertEqual(client.greeting.raw, GREETING)
        return client

    def login(self):
        client = self.connect()
        self.assertEqual(ask(client, b"USER bob"), b"331 User name okay, need password.\r\n")
        self.assertEqual(ask(client, b"PASS pw"), b"230 User logged in, proceed.\r\n")
        return client

    def run_table(self, client, table):
        for line, expected in table:
            with self.subTest(line=line):
                self.assertEqual(ask(client, line), expected)


class DispatchTest(ServerCase):
    def test_commands_before_login(self):
        client = self.connect()
        self.run_table(client, [
            (b"PASS x", b"503 Login with USER first.\r\n"),
            (b"foo bar", b"500 'FOO bar': command not understood.\r\n"),
            (b"   ", b"500 '   ': command not understood.\r\n"),
            (b"USERbob", b"500 'USERBOB': command not understood.\r\n"),
            (b"USER\tbob", b"500 'USER\tbob': command not understood.\r\n"),
            (b"noop extra words", b"200 NOOP Command successful.\r\n"),
            (b"NoOp", b"200 NOOP Command successful.\r\n"),
            # Commands that need login, and the ones that answer 550 instead of 530.
            (b"CWD /", NOT_LOGGED_IN), (b"PWD", NOT_LOGGED_IN), (b"SYST", NOT_LOGGED_IN),
            (b"REIN", NOT_LOGGED_IN), (b"SIZE a", NOT_LOGGED_IN), (b"STAT", NOT_LOGGED_IN),
            (b"TYPE I", NOT_LOGGED_IN), (b"ALLO 5", NOT_LOGGED_IN), (b"MD5 a", NOT_LOGGED_IN),
            (b"DELE a", NOT_TAKEN), (b"AVBL", NOT_TAKEN), (b"DSIZ", NOT_TAKEN),
            (b"RMDA a", NOT_TAKEN),
            # No facility behind them: the not-understood answer, also before login.
            (b"MDTM a.txt", b"500 'MDTM a.txt': command not understood.\r\n"),
            (b"mff x", b"500 'MFF x': command not understood.\r\n"),
            (b"xcrc f", b"500 'XCRC f': command not understood.\r\n"),
            (b"XMD5", b"500 'XMD5': command not understood.\r\n"),
            (b"XSHA1 f", b"500 'XSHA1 f': command not understood.\r\n"),
            (b"HOST example.com", b"500 'HOST example.com': command not understood.\r\n"),
            # Placeholders.
            (b"ACCT x", b'502 "ACCT" Command not implemented.\r\n'),
            (b"SMNT", b"502 Requested file action okay, completed.\r\n"),
            (b"mic", b'550 "MIC" Command not implemented.\r\n'),
            (b"CONF", b'550 "CONF" Command not implemented.\r\n'),
            (b"ENC", b'550 "ENC" Command not implemented.\r\n'),
            (b"COMB a b", b'550 "COMB" Command not implemented.\r\n'),
            (b"MLFL", b'502 "MLFL" Command not implemented.\r\n'),
            (b"MAIL x", b'502 "MAIL" Command not implemented.\r\n'),
            (b"MSND", b'502 "MSND" Command not implemented.\r\n'),
            (b"MSOM", b'502 "MSOM" Command not implemented.\r\n'),
            (b"MSAM", b'502 "MSAM" Command not implemented.\r\n'),
            (b"MRSQ", b'502 "MRSQ" Command not implemented.\r\n'),
            (b"MRCP", b'502 "MRCP" Command not implemented.\r\n'),
            (b"CLNT lftp 4.9", b"200 Noted.\r\n"),
            (b"USER", b"332 Need account for login.\r\n"),
            (b"user bob", b"331 User name okay, need password.\r\n"),
            (b"HELP user", b"214 Syntax: USER <sp> username\r\n"),
        ])

    def test_line_ends_and_telnet_sequences(self):
        client = self.connect()
        self.run_table(client, [
            # An empty line gets no answer: the next reply is the NOOP's.
            (b"\r\nNOOP", b"200 NOOP Command successful.\r\n"),
            # A bare LF is part of the line (only CR LF ends it); the reply text splits at it.
            (b"NO\nOP", b"500-'NO\r\n500 OP': command not understood.\r\n"),
            (b"NO\x00OP", b"500 'NO\x00OP': command not understood.\r\n"),
            (b"X\xff\xffY", b"500 'X\xffY': command not understood.\r\n"),
            (b"NOOPX\xff\xf7", b"200 NOOP Command successful.\r\n"),          # IAC EC
            (b"garbage\xff\xf8NOOP", b"200 NOOP Command successful.\r\n"),    # IAC EL
            (b"JUNK\xff\xf4 more\r\n junk\xff\xf2NOOP", b"200 NOOP Command successful.\r\n"),
            (b"NO\xff\xfa\x18\x01x\xff\xf0OP", b"200 NOOP Command successful.\r\n"),  # IAC SB
            (b"\xe9t\xe9 x", b"500 '\xe9T\xe9 x': command not understood.\r\n"),
            # CR NUL inside a line is a CR, and a reply text splits at it.
            (b"A\r\x00B", b"500-'A\r\n500 B': command not understood.\r\n"),
        ])
        # Option negotiation is refused on the spot, in the reply stream.
        for request, answer in [(b"\xff\xfd\x01", b"\xff\xfc\x01"), (b"\xff\xfb\x03", b"\xff\xfe\x03"),
                                (b"\xff\xf5", b"\xff\xf4\xff\xf2")]:
            with self.subTest(request=request):
                client.send_raw(request + b"NOOP\r\n")
                expected = answer + b"200 NOOP Command successful.\r\n"
                self.assertEqual(read_exactly(client, len(expected)), expected)

    def test_telnet_sequences_cut_across_packets(self):
        client = self.connect()
        client.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for byte in b"US\xff\xfa\x18\x01\xff\xf0ER\xff\xf7R b\xff\xffb\r":
            client.send_raw(bytes([byte]))
            time.sleep(0.002)
        client.send_raw(b"\n")
        self.assertEqual(client.read_reply().raw, b"331 User name okay, need password.\r\n")

    def test_encoding_follows_opts_utf8(self):
        client = self.login()
        self.run_table(client, [
            (b"\xe9", b"500 '\xe9': command not understood.\r\n"),
            (b"OPTS UTF8 ON", b"200 Ok\r\n"),
            (b"\xe9", b"500 '?': command not understood.\r\n"),
            (b"CWD \xe2\x82\xac", b"250 CWD Command successful.\r\n"),
            (b"PWD", b'257 "/\xe2\x82\xac" is working directory.\r\n'),
            (b"OPTS UTF8 OFF", b"200 Ok\r\n"),
            (b"PWD", b'257 "/?" is working directory.\r\n'),
            (b"OPTS UTF-8", b"200 Ok\r\n"),
            (b"\xc3\xa9", b"500 '\xc3\xa9': command not understood.\r\n"),
            (b"REIN", b"220 Service ready for new user.\r\n"),
            (b"\xe9", b"500 '\xe9': command not understood.\r\n"),
        ])


class WorkingDirectoryTest(ServerCase):
    def test_cwd_cdup_pwd(self):
        client = self.login()
        cwd_ok = b"250 CWD Command successful.\r\n"

        def pwd(path):
            return b'257 "' + path + b'" is working directory.\r\n'

        def cdup(path):
            return b'250 "' + path + b'" is working directory.\r\n'

        self.run_table(client, [
            (b"PWD", pwd(b"/")),
            (b"CWD sub", cwd_ok), (b"PWD", pwd(b"/sub")),
            (b"CDUP", cdup(b"/")), (b"PWD", pwd(b"/")),
            (b"CWD sub", cwd_ok), (b"CWD x", cwd_ok), (b"CDUP", cdup(b"/sub/")),
            (b"XPWD", pwd(b"/sub/")),
            (b"CWD /a/b", cwd_ok), (b"CWD ..", cwd_ok), (b"PWD", pwd(b"/a/")),
            (b"CWD b", cwd_ok), (b"CWD", cwd_ok), (b"PWD", pwd(b"/")),
            (b"CWD a", cwd_ok), (b"CWD /", cwd_ok), (b"PWD", pwd(b"/")),
            (b"CWD a", cwd_ok), (b"CWD \\", cwd_ok), (b"PWD", pwd(b"/")),
            (b"CWD a", cwd_ok), (b"CWD //", cwd_ok), (b"PWD", pwd(b"/")),
            (b"CWD ..", cwd_ok), (b"PWD", pwd(b"/")),
            (b"CDUP", cdup(b"/")), (b"XCUP", cdup(b"/")),
            (b"XCWD nosuchdir", b'550 "/nosuchdir": No such directory.\r\n'),
            (b"PWD", pwd(b"/")),
            (b"CWD ../../etc", cwd_ok), (b"PWD", pwd(b"/etc")),
            (b"CWD \\a\\b\\", cwd_ok), (b"PWD", pwd(b"/a/b")),
            (b"CWD .", cwd_ok), (b"PWD", pwd(b"/a/b")),
            (b"CWD ..x", cwd_ok), (b"PWD", pwd(b"/a/x")),
            (b"CWD .profile", cwd_ok), (b"PWD", pwd(b"/a/x/.profile")),
            (b"cwd  two  spaces", cwd_ok), (b"PWD", pwd(b"/a/x/.profile/ two  spaces")),
        ])

    def test_user_after_login_logs_out_and_rein_resets(self):
        client = self.login()
        self.run_table(client, [
            (b"CWD sub", b"250 CWD Command successful.\r\n"),
            (b"USER bob", b"331 User name okay, need password.\r\n"),
            (b"CWD /", NOT_LOGGED_IN),
            (b"PASS pw", b"230 User logged in, proceed.\r\n"),
            (b"PWD", b'257 "/" is working directory.\r\n'),
            (b"REIN", b"220 Service ready for new user.\r\n"),
            (b"PWD", NOT_LOGGED_IN),
            (b"PASS pw", b"503 Login with USER first.\r\n"),
            (b"QUIT", b"221 Goodbye.\r\n"),
        ])
        self.assertTrue(client.closed_by_peer())


class InformationTest(ServerCase):
    def test_help(self):
        client = self.connect()
        self.assertEqual(ask(client, b"HELP"), HELP)
        self.run_table(client, [
            (b"help Type", b"214 Syntax: TYPE <sp> [ A | E | I | L ]\r\n"),
            (b"HELP acct", b"214 ACCT        (specify account); unimplemented.\r\n"),
            (b"HELP EPSV", b"214 Syntax: EPSV (returns port |||port|)\r\n"),
            (b"HELP MFCT", b"214 Syntax: MFCT [ATime] [Path-name]\r\n"),
            (b"HELP SIZE", b"502 Unknown command SIZE.\r\n"),
            (b"HELP p@sw", b"502 Unknown command P@SW.\r\n"),
            (b"HELP nosuch", b"502 Unknown command NOSUCH.\r\n"),
        ])

    def test_feat_follows_the_mlst_selection(self):
        client = self.connect()
        self.assertEqual(ask(client, b"FEAT"), feat(b"MLST size*;Type*;Modify*;"))
        self.run_table(client, [
            (b"OPTS MLST size;", b"200 MLST OPTS size;\r\n"),
            (b"FEAT", feat(b"MLST size*;Type;Modify;")),
            (b"OPTS MLST Modify;TYPE;unix.mode;perm", b"200 MLST OPTS type;modify;\r\n"),
            (b"FEAT", feat(b"MLST size;Type*;Modify*;")),
            (b"OPTS MLST type;size;", b"200 MLST OPTS size;type;\r\n"),
            (b"OPTS MLST", b"200 MLST OPTS\r\n"),
            (b"FEAT", feat(b"MLST size;Type;Modify;")),
            (b"OPTS MLST size; type;", b"501 Invalid MLST options\r\n"),
            (b"FEAT", feat(b"MLST size;Type;Modify;")),
        ])

    def test_site(self):
        client = self.connect()
        before_login = [
            (b"SITE ZONE", b"210 UTC+60\r\n"),
            (b"site zone", b"210 UTC+60\r\n"),
            (b"SITE DIRSTYLE", b"500 Invalid SITE command.\r\n"),
            (b"SITE CHOWN bob f", b"553 Permission denied.\r\n"),
            (b"SITE CHGRP g f", b"553 Permission denied.\r\n"),
            (b"SITE HELP", NOT_LOGGED_IN), (b"SITE ATTRIB +R f", NOT_LOGGED_IN),
            (b"SITE UMASK 022", NOT_LOGGED_IN), (b"SITE CHMOD 644 f", NOT_LOGGED_IN),
            (b"SITE UTIME f", NOT_LOGGED_IN),
            (b"SITE FOO", b"500 'SITE FOO': command not understood.\r\n"),
            (b"site foo bar", b"500 'SITE foo bar': command not understood.\r\n"),
            (b"SITE", b"500 'SITE ': command not understood.\r\n"),
            (b"SITE ZONEX", b"500 'SITE ZONEX': command not understood.\r\n"),
        ]
        self.run_table(client, before_login)
        client = self.login()
        self.run_table(client, [
            (b"SITE HELP", b"214-The following SITE commands are supported:\r\n"
                           b"214     ZONE      \r\n"),
            (b"SITE ATTRIB +R f", b"500 Invalid SITE command.\r\n"),
            (b"SITE CHMOD 644 f", b"500 Invalid SITE command.\r\n"),
            (b"SITE UMASK 022", b'550 "UMASK" Command not implemented.\r\n'),
            (b"SITE CHOWN bob f", b"553 Permission denied.\r\n"),
            (b"SITE ZONE", b"210 UTC+60\r\n"),
        ])

    def test_opts(self):
        client = self.connect()
        self.run_table(client, [
            (b"OPTS UTF8 MAYBE", b"501 Invalid MAYBE options\r\n"),
            (b"OPTS UTF8 ON", b"200 Ok\r\n"),
            (b"OPTS utf8 off", b"200 Ok\r\n"),
            (b"OPTS UTF-8 NLST", b"200 Ok\r\n"),
            (b"OPTS UTF-8 X", b"501 Invalid X options\r\n"),
            (b"OPTS UTF8 OFF", b"200 Ok\r\n"),
            (b"OPTS MODE Z", b"200-MODE Z ENGINE set to ZLIB.\r\n200-MODE Z LEVEL set to 7.\r\n"
                             b"200 MODE Z METHOD set to 8.\r\n"),
            (b"OPTS MODE Z LEVEL 3 ENGINE zlib METHOD 8 BLOCKSIZE 4 EXTRA ON",
             b"200-MODE Z ENGINE set to ZLIB.\r\n200-MODE Z LEVEL set to 3.\r\n"
             b"200 MODE Z METHOD set to 8.\r\n"),
            (b"OPTS FOO", b"501 Option not recognized.\r\n"),
            (b"OPTS", b"501 Option not recognized.\r\n"),
            (b"OPTS MODE", b"501 Option not recognized.\r\n"),
        ])

    def test_parameter_commands(self):
        client = self.login()
        self.run_table(client, [
            (b"SYST", b"215 UNIX Type: L8\r\n"),
            (b"STAT", b"211-System status\r\n211 End of Status\r\n"),
            (b"TYPE i", b"200 Type set to I.\r\n"), (b"TYPE A N", b"200 Type set to A.\r\n"),
            (b"TYPE E", b"200 Ok\r\n"), (b"TYPE L 8", b"200 Ok\r\n"),
            (b"STRU f", b"200 Structure set to F.\r\n"), (b"STRU R", b"200 Structure set to R.\r\n"),
            (b"STRU P", b"200 Structure set to P.\r\n"), (b"STRU X", b"200 Ok\r\n"),
            (b"MODE s", b"200 Mode set to S.\r\n"), (b"MODE Z", b"504 Unimplemented mode.\r\n"),
            (b"MODE B", b"504 Unimplemented mode.\r\n"), (b"MODE ZZ", b"200 Ok\r\n"),
            (b"REST 100", b"350 Requested file action pending further information.\r\n"),
            (b"REST abc",
             b"501 Syntax: REST <sp> position (a non-negative decimal number)\r\n"),
            (b"REST 2500000000", b"350 Requested file action pending further information.\r\n"),
            (b"ALLO 1000", b"200 ALLO Command successful.\r\n"),
            (b"ALLO R 1000", b"200 ALLO Command successful.\r\n"),
            (b"ALLO 1000 R 64", b"200 ALLO Command successful.\r\n"),
            (b"ALLO abc", b"200 ALLO Command successful.\r\n"),
            (b"ALLO", b"504 Command not implemented for that parameter.\r\n"),
            (b"ALLO    ", b"504 Command not implemented for that parameter.\r\n"),
            (b"SIZE a.txt", b"500 'SIZE a.txt': command not understood.\r\n"),
            (b"MDTM a.txt", b"500 'MDTM a.txt': command not understood.\r\n"),
            (b"MFMT 20200101000000 a", b"500 'MFMT 20200101000000 a': command not understood.\r\n"),
            (b"MFCT 20200101000000 a", b"500 'MFCT 20200101000000 a': command not understood.\r\n"),
            (b"md5 a", b"500 'MD5 a': command not understood.\r\n"),
            (b"MMD5 a", b"500 'MMD5 a': command not understood.\r\n"),
            (b"AVBL", b'550 "AVBL" Command not implemented.\r\n'),
            (b"DSIZ", b'550 "DSIZ" Command not implemented.\r\n'),
            (b"RMDA x", b'550 "RMDA" Command not implemented.\r\n'),
        ])


class WestOfUtcTest(ServerCase):
    extra_env = {"TZ": "XYZ+5:30"}  # five and a half hours west of UTC

    def test_zone_is_negative_west_of_utc(self):
        self.assertEqual(ask(self.connect(), b"SITE ZONE"), b"210 UTC-330\r\n")


class LineBoundTest(ServerCase):
    def test_line_over_8_kib_is_answered_500_and_the_next_line_works(self):
        client = self.connect()
        self.run_table(client, [
            (b"NOOP " + b"x" * (8192 - 5), b"200 NOOP Command successful.\r\n"),
            (b"NOOP " + b"x" * (8192 - 4), b"500 Command line too long.\r\n"),
            (b"NOOP", b"200 NOOP Command successful.\r\n"),
        ])

    def test_huge_line_is_not_stored(self):
        client = self.connect()
        pid = self.server.process.pid
        before = resident_kib(pid)
        chunk = b"A" * (1 << 20)
        for _ in range(48):
            client.send_raw(chunk)
        self.assertEqual(ask(client, b""), b"500 Command line too long.\r\n")
        # 48 MiB went in; a server that kept the line would have grown by as much.
        self.assertLess(resident_kib(pid) - before, 16 * 1024)
        self.assertEqual(ask(client, b"NOOP"), b"200 NOOP Command successful.\r\n")


class BadClientTest(ServerCase):
    def test_thousands_of_commands_in_one_packet(self):
        client = self.connect()
        count = 5000
        client.send_raw(b"NOOP\r\n" * count + b"SYST\r\n")
        replies = [client.read_reply().raw for _ in range(count + 1)]
        self.assertEqual(set(replies[:-1]), {b"200 NOOP Command successful.\r\n"})
        self.assertEqual(replies[-1], NOT_LOGGED_IN)

    def test_stalled_and_vanishing_clients_never_affect_another(self):
        # A client that sends an endless line, one that floods commands without reading a
        # single reply, and clients that vanish in the middle of replies.
        endless = self.connect()
        endless.send_raw(b"X" * (4 << 20))
        flood = self.connect()
        flood.sock.setblocking(False)
        flood_sent = 0
        for _ in range(2000):
            try:
                flood_sent += flood.sock.send(b"HELP\r\n" * 50)
            except BlockingIOError:
                break
        self.assertGreater(flood_sent, 0)
        for _ in range(5):
            vanishing = self.server.ftp_client()
            vanishing.send_raw(b"HELP\r\n" * 200)
            vanishing.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            vanishing.close()  # a reset while the server writes

        client = self.login()
        self.run_table(client, [
            (b"CWD sub", b"250 CWD Command successful.\r\n"),
            (b"PWD", b'257 "/sub" is working directory.\r\n'),
        ])
        self.assertEqual(ask(client, b"HELP"), HELP)
        self.assertTrue(self.server.running())

    def test_idle_connections_sleep_in_poll_and_stop_wakes_them(self):
        server = CorvaneServer(users=[User("bob", "pw", self.home)])
        self.addCleanup(server.close)
        server.start()
        clients = [server.ftp_client() for _ in range(8)]
        for client in clients:
            self.addCleanup(client.close)
        clients[0].send_raw(b"USER bo")       # idle in the middle of a line
        clients[1].send_raw(b"\xff\xfa\x18")  # idle inside a Telnet subnegotiation
        self.assertEqual(ask(clients[2], b"NOOP"), b"200 NOOP Command successful.\r\n")
        pid = server.process.pid
        start = voluntary_switches(pid)
        time.sleep(1.0)
        end = voluntary_switches(pid)
        woken = sum(end[tid] - start[tid] for tid in start if tid in end)
        # Threads blocked in poll do not wake at all; a reader that polled every millisecond
        # would wake about a thousand times per connection in that second.
        self.assertLess(woken, 200, (start, end))

        self.assertEqual(server.stop(), 0)
        for client in clients:
            self.assertTrue(client.closed_by_peer())


class ConnectionLimitTest(ServerCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="corvane-home-")
        server = CorvaneServer(config=None, users=[User("bob", "pw", cls.home)])
        server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port, maxcon=2))
        cls.server = server
        server.start()

    def test_connection_over_maxcon_gets_421_and_is_closed(self):
        first, second = self.connect(), self.connect()
        with ControlClient(self.server.ftp_port, read_greeting=False) as third:
            self.assertEqual(third.read_reply().raw,
                             b"421 Service not available, closing control connection.\r\n")
            self.assertTrue(third.closed_by_peer())
        self.assertEqual(ask(first, b"QUIT"), b"221 Goodbye.\r\n")
        self.assertTrue(first.closed_by_peer())
        # The freed place is taken by the next client (the server notices the close shortly).
        deadline = time.monotonic() + 10
        while True:
            probe = ControlClient(self.server.ftp_port, read_greeting=False)
            self.addCleanup(probe.close)
            reply = probe.read_reply().raw
            if reply == GREETING or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(reply, GREETING)
        self.assertEqual(ask(second, b"NOOP"), b"200 NOOP Command successful.\r\n")


if __name__ == "__main__":
    unittest.main()
