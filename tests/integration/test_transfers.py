"""Transfers against the real server: restart offsets, ALLO, one transfer per channel, ABOR
and other commands during a transfer, STOU, a throttled download, and real clients."""

import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from ftp_harness import CorvaneServer, HomeFiles, User, gc_xml
from test_data_connections import login, open_passive, read_all

ABOUT_TO_OPEN = "150 File status okay; about to open data connection."
CLOSING = "226 Closing data connection."
ABNORMAL = "426 Data connection closed abnormally."
NO_CHANNEL = "425 Can't open data connection."
WAIT = 20
KIB = 1024


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def tree_digest(root):
    """Relative path -> content hash of every file, and the set of directories, below root."""
    files, directories = {}, set()
    for directory, subdirectories, names in os.walk(root):
        for name in subdirectories:
            directories.add(os.path.relpath(os.path.join(directory, name), root))
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as stored:
                files[os.path.relpath(path, root)] = sha256(stored.read())
    return files, directories


class TransferTest(HomeFiles, unittest.TestCase):
    # The throttled user moves 100 KiB/s: a 32 KiB piece, then a pause of about 320 ms.
    SLOW_LIMIT = 100

    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="corvane-transfer-")
        cls.server = CorvaneServer(users=[
            User("bob", "pw", cls.home),
            User("slow", "pw", cls.home, bandwidth=str(cls.SLOW_LIMIT)),
        ])
        cls.server.start()
        cls.url = "ftp://bob:pw@127.0.0.1:%d/" % cls.server.ftp_port

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.home, True)

    def setUp(self):
        for name in os.listdir(self.home):
            path = os.path.join(self.home, name)
            if os.path.isdir(path):
                shutil.rmtree(path)
            else:
                os.remove(path)

    def client(self, user="bob"):
        client = self.server.ftp_client(timeout=WAIT)
        self.addCleanup(client.close)
        login(client, user)
        return client

    def download(self, client, command):
        """Runs a download on a new passive channel: (data, final reply line)."""
        with open_passive(client) as data:
            client.send_line(command)
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            content = read_all(data)
        return content, client.read_reply().line

    def upload(self, client, command, content):
        with open_passive(client) as data:
            client.send_line(command)
            preliminary = client.read_reply().line
            data.sendall(content)
        return preliminary, client.read_reply().line

    def run_client(self, args):
        result = subprocess.run(args, capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def test_rest_then_retr_starts_at_the_offset_once(self):
        content = os.urandom(300 * KIB)
        self.write("f.bin", content)
        client = self.client()
        self.assertEqual(client.command("REST 100000").line,
                         "350 Requested file action pending further information.")
        self.assertEqual(self.download(client, "RETR f.bin"), (content[100000:], CLOSING))
        self.assertEqual(self.download(client, "RETR f.bin"), (content, CLOSING))

    def test_rest_then_appe_appends_and_keeps_the_offset_pending(self):
        self.write("a.txt", b"0123456789")
        client = self.client()
        client.command("REST 4")
        self.assertEqual(self.upload(client, "APPE a.txt", b"abcde"), (ABOUT_TO_OPEN, CLOSING))
        self.assertEqual(self.read("a.txt"), b"0123456789abcde")
        self.assertEqual(self.download(client, "RETR a.txt"), (b"456789abcde", CLOSING))
        self.assertEqual(self.upload(client, "APPE new.txt", b"fresh"), (ABOUT_TO_OPEN, CLOSING))
        self.assertEqual(self.read("new.txt"), b"fresh")

    def test_allo_then_stor_keeps_only_the_data(self):
        client = self.client()
        self.assertEqual(client.command("ALLO 5000").line, "200 ALLO Command successful.")
        self.assertEqual(self.upload(client, "STOR ten.txt", b"0123456789"),
                         (ABOUT_TO_OPEN, CLOSING))
        self.assertEqual(self.read("ten.txt"), b"0123456789")
        # ALLO stays in force; a smaller one does not cut what APPE adds to.
        client.command("ALLO 3")
        self.upload(client, "APPE ten.txt", b"abc")
        self.assertEqual(self.read("ten.txt"), b"0123456789abc")

    def test_a_channel_serves_one_transfer(self):
        self.write("f.txt", b"once")
        client = self.client()
        self.assertEqual(self.download(client, "RETR f.txt"), (b"once", CLOSING))
        self.assertEqual(client.command("RETR f.txt").line, NO_CHANNEL)
        self.assertEqual(client.command("STOR g.txt").line, NO_CHANNEL)
        # A handler failure frees the channel too.
        client.command("PASV")
        self.assertTrue(client.command("RETR missing.txt").line.startswith(
            "550 Cannot open file \"%s/missing.txt\"." % self.home))
        self.assertEqual(client.command("RETR f.txt").line, NO_CHANNEL)

    def test_stou_stores_under_a_new_name_in_the_working_directory(self):
        os.mkdir(os.path.join(self.home, "sub"))
        client = self.client()
        client.command("CWD sub")
        preliminary, final = self.upload(client, "STOU whatever.txt", b"unique")
        match = re.fullmatch(r"150 FILE: (Temp[0-9A-F]{8})", preliminary)
        self.assertTrue(match, preliminary)
        self.assertEqual(final, CLOSING)
        self.assertEqual(self.read(os.path.join("sub", match.group(1))), b"unique")
        second, _ = self.upload(client, "STOU", b"other")
        self.assertNotEqual(second, preliminary)

    def test_abor_during_a_throttled_retr(self):
        content = os.urandom(2 * 1024 * KIB)  # about 20 s at the user's limit
        self.write("big.bin", content)
        client = self.client("slow")
        self.assertEqual(client.command("ABOR").line, "226 ABOR Command successful.")
        client.command("PASV")
        self.assertEqual(client.command("ABOR").line, CLOSING)
        self.assertEqual(client.command("RETR big.bin").line, NO_CHANNEL)
        with open_passive(client) as data:
            client.send_line("RETR big.bin")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            self.assertTrue(data.recv(1))
            client.send_line("ABOR")
            self.assertEqual(client.read_reply().line, CLOSING)
            self.assertEqual(client.read_reply().line, ABNORMAL)
            self.assertLess(len(read_all(data)) + 1, len(content))

    def test_commands_during_a_transfer(self):
        content = os.urandom(300 * KIB)  # a few seconds at the user's limit
        self.write("f.bin", content)
        client = self.client("slow")
        with open_passive(client) as data:
            client.send_line("RETR f.bin")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            first = data.recv(1)
            client.send_line("NOOP")
            client.send_line("STAT")
            # STAT runs at once, NOOP after the transfer's final reply.
            self.assertEqual(client.read_reply().lines, ["211-System status", "211 End of Status"])
            self.assertEqual(sha256(first + read_all(data)), sha256(content))
        self.assertEqual(client.read_reply().line, CLOSING)
        self.assertEqual(client.read_reply().line, "200 NOOP Command successful.")

    def test_a_client_that_drops_a_download_gets_426_and_is_served_again(self):
        content = os.urandom(32 * 1024 * KIB)
        self.write("big.bin", content)
        client = self.client()
        with open_passive(client) as data:
            client.send_line("RETR big.bin")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            self.assertTrue(data.recv(1))
        self.assertEqual(client.read_reply().line, ABNORMAL)
        self.assertEqual(self.download(client, "RETR big.bin")[1], CLOSING)

    @unittest.skipUnless(shutil.which("curl"), "curl is not installed")
    def test_curl_passive_and_active(self):
        content = os.urandom(3 * 1024 * KIB + 17)
        self.write("down.bin", content)
        work = tempfile.mkdtemp(prefix="corvane-curl-")
        self.addCleanup(shutil.rmtree, work, True)
        for mode in ([], ["-P", "127.0.0.1"]):
            with self.subTest(mode=mode):
                target = os.path.join(work, "down.bin")
                self.run_client(["curl", "-sS", "--max-time", "60", *mode, "-o", target,
                                 self.url + "down.bin"])
                with open(target, "rb") as received:
                    self.assertEqual(sha256(received.read()), sha256(content))
                self.run_client(["curl", "-sS", "--max-time", "60", *mode, "-T", target,
                                 self.url + "up.bin"])
                self.assertEqual(sha256(self.read("up.bin")), sha256(content))
                os.remove(os.path.join(self.home, "up.bin"))

    @unittest.skipUnless(shutil.which("lftp"), "lftp is not installed")
    def test_lftp_mirrors_a_tree_down_and_up(self):
        tree = os.path.join(self.home, "tree")
        for directory in ("sub/deeper", "empty-dir"):
            os.makedirs(os.path.join(tree, directory))
        sizes = {"a.bin": 700 * KIB, "sub/b.txt": 10, "sub/deeper/c.bin": 2 * 1024 * KIB,
                 "zero": 0}
        for name, size in sizes.items():
            self.write(os.path.join("tree", name), os.urandom(size))
        work = tempfile.mkdtemp(prefix="corvane-lftp-")
        self.addCleanup(shutil.rmtree, work, True)
        down = os.path.join(work, "down")
        # lftp's own defaults: the tree is read with MLSD. Down passive, up active.
        script = ("set ftp:ssl-allow no; set net:max-retries 1; "
                  "set net:timeout 20; open -u bob,pw -p %d 127.0.0.1; mirror tree %s; "
                  "set ftp:passive-mode off; mirror -R %s up; bye"
                  % (self.server.ftp_port, down, down))
        self.run_client(["lftp", "-c", script])
        self.assertEqual(tree_digest(down), tree_digest(tree))
        self.assertEqual(tree_digest(os.path.join(self.home, "up")), tree_digest(tree))


class ThrottledDownloadTest(unittest.TestCase):
    def test_a_download_runs_near_the_global_limit(self):
        limit = 64  # KiB/s: a 32 KiB piece, then 500 ms
        home = tempfile.mkdtemp(prefix="corvane-throttle-")
        self.addCleanup(shutil.rmtree, home, True)
        content = os.urandom(256 * KIB)
        with open(os.path.join(home, "f.bin"), "wb") as out:
            out.write(content)
        server = CorvaneServer(users=[User("bob", "pw", home)])
        self.addCleanup(server.close)
        server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port,
                                           bandwidth=limit))
        server.start()
        client = server.ftp_client(timeout=WAIT)
        self.addCleanup(client.close)
        login(client)
        with open_passive(client) as data:
            started = time.monotonic()
            client.send_line("RETR f.bin")
            self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
            received = read_all(data)
            elapsed = time.monotonic() - started
        self.assertEqual(client.read_reply().line, CLOSING)
        self.assertEqual(sha256(received), sha256(content))
        rate = len(content) / KIB / elapsed
        self.assertLess(rate, 2 * limit, "download not throttled: %.1f KiB/s" % rate)
        self.assertGreater(rate, limit / 3, "download far below the limit: %.1f KiB/s" % rate)


if __name__ == "__main__":
    unittest.main()
