"""Uploads against the real server: the bandwidth limit on the receiving side, and an upload
that fills the disk."""

import ftplib
import hashlib
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from ftp_harness import CorvaneServer, User, gc_xml

KIB = 1024


def login(server, user, password):
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", server.ftp_port, timeout=60)
    ftp.login(user, password)
    return ftp


class UploadThrottleTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="corvane-home-")
        self.addCleanup(shutil.rmtree, self.home, True)

    def test_upload_runs_at_the_users_limit_not_the_global_one(self):
        # Global 8 KiB/s, user 64 KiB/s: the upload must be slower than twice the user's limit
        # and faster than twice the global one (a wide band around 64 KiB/s).
        global_limit, user_limit = 8, 64
        server = CorvaneServer(users=[User("fast", "pw", self.home, bandwidth=str(user_limit))])
        self.addCleanup(server.close)
        server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port,
                                           bandwidth=global_limit))
        server.start()
        data = os.urandom(256 * KIB)
        ftp = login(server, "fast", "pw")
        self.addCleanup(ftp.close)
        started = time.monotonic()
        reply = ftp.storbinary("STOR up.bin", _Reader(data))
        elapsed = time.monotonic() - started
        self.assertEqual(reply, "226 Closing data connection.")
        with open(os.path.join(self.home, "up.bin"), "rb") as stored:
            self.assertEqual(hashlib.sha256(stored.read()).hexdigest(),
                             hashlib.sha256(data).hexdigest())
        rate = len(data) / KIB / elapsed
        self.assertLess(rate, 2 * user_limit, "upload not throttled: %.1f KiB/s" % rate)
        self.assertGreater(rate, 2 * global_limit,
                           "the global limit was used: %.1f KiB/s" % rate)


class _Reader:
    """A file-like object over bytes for storbinary."""

    def __init__(self, data):
        self.data = data
        self.offset = 0

    def read(self, size):
        piece = self.data[self.offset:self.offset + size]
        self.offset += len(piece)
        return piece


class FullDiskTest(unittest.TestCase):
    """The home is a 1 MiB file system of its own; the upload is three times as large."""

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="corvane-full-")
        self.addCleanup(shutil.rmtree, self.home, True)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", self.home],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if mounted.returncode != 0:
            self.skipTest("mounting a small file system is not permitted here")
        self.addCleanup(subprocess.run, ["umount", "-l", self.home],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server = CorvaneServer(users=[User("bob", "pw", self.home)])
        self.addCleanup(self.server.close)
        self.server.start()

    def test_a_failed_write_ends_the_upload_with_426_and_keeps_what_was_received(self):
        with open(os.path.join(self.home, "keep.txt"), "wb") as keep:
            keep.write(b"untouched")
        data = os.urandom(3 * 1024 * KIB)
        ftp = login(self.server, "bob", "pw")
        self.addCleanup(ftp.close)
        connection = ftp.transfercmd("STOR big.bin")
        try:
            connection.sendall(data)
        except OSError:
            pass  # the server stops reading once the disk is full
        finally:
            connection.close()
        with self.assertRaises(ftplib.error_temp) as failure:
            ftp.voidresp()
        self.assertEqual(str(failure.exception), "426 Data connection closed abnormally.")

        with open(os.path.join(self.home, "big.bin"), "rb") as partial:
            received = partial.read()
        self.assertGreater(len(received), 0)
        self.assertLess(len(received), len(data))
        self.assertEqual(received, data[:len(received)])

        # The connection and the rest of the home carry on as before.
        self.assertEqual(ftp.voidcmd("NOOP")[:3], "200")
        kept = []
        self.assertEqual(ftp.retrbinary("RETR keep.txt", kept.append),
                         "226 Closing data connection.")
        self.assertEqual(b"".join(kept), b"untouched")


if __name__ == "__main__":
    unittest.main()
