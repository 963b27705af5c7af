"""File commands against the real server: replies, confinement beneath the home, exclusive
opens between two clients and a resumed upload."""

import ftplib
import io
import os
import shutil
import tempfile
import unittest

from ftp_harness import CorvaneServer, HomeFiles, User


class FileOperationsTest(HomeFiles, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="corvane-files-")
        cls.home = os.path.join(cls.root, "home")
        cls.outside = os.path.join(cls.root, "outside")
        os.makedirs(cls.home)
        os.makedirs(cls.outside)
        cls.server = CorvaneServer(users=[User("bob", "pw", cls.home)])
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.root, True)

    def setUp(self):
        for name in os.listdir(self.home):
            path = os.path.join(self.home, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
        self.ftp = self.client()

    def tearDown(self):
        self.ftp.close()

    def client(self):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.server.ftp_port, timeout=30)
        ftp.login("bob", "pw")
        self.addCleanup(ftp.close)
        return ftp

    def reply(self, command):
        """The reply to a command as one line, whatever its code."""
        try:
            return self.ftp.sendcmd(command)
        except ftplib.all_errors as error:
            return str(error)

    def retrieve(self, ftp, name):
        """The final reply of a RETR, or its error reply."""
        try:
            return ftp.retrbinary("RETR " + name, lambda _: None)
        except ftplib.all_errors as error:
            return str(error)

    def test_delete_directories_and_rename_answer_as_written(self):
        self.write("a.txt", b"a")
        os.mkdir(os.path.join(self.home, "full"))
        self.write("full/f", b"f")
        expected = [
            ("DELE a.txt", "250 Requested file action okay, completed."),
            ("DELE a.txt", "550 File dont exist"),
            ("DELE full", "550 File dont exist"),
            ("MKD a/b", "550 Failed to create dir"),
            ("XMKD a/b", "551 Failed to create dir"),
            ("MKD newdir/", "257 Requested file action okay, completed."),
            ("RMD full", "550 Failed to remove dir"),
            ("XRMD full", "551 Failed to remove dir"),
            ("RMD newdir", "250 Requested file action okay, completed."),
            ("RNFR x", "350 Requested file action pending further information."),
            ("RNTO y", "550 Failed to rename"),
            ("RNFR full/f", "350 Requested file action pending further information."),
            ("RNTO g", "250 Ok"),
            ("RNTO h", "550 Failed to rename"),
            ("RNFR g", "350 Requested file action pending further information."),
            ("RNTO full", "550 Failed to rename"),
        ]
        for command, reply in expected:
            self.assertEqual(self.reply(command), reply, command)
        self.assertEqual(self.read("g"), b"f")
        self.assertTrue(os.path.isdir(os.path.join(self.home, "full")))

    def test_nothing_outside_the_home_is_reachable(self):
        with open(os.path.join(self.outside, "secret"), "wb") as secret:
            secret.write(b"secret")
        os.symlink("/etc/passwd", os.path.join(self.home, "passwd"))
        os.symlink(self.outside, os.path.join(self.home, "out"))
        missing = "550 Cannot open file \"%s%s\". No such file or directory"
        self.assertEqual(self.retrieve(self.ftp, "passwd"), missing % (self.home, "/passwd"))
        self.assertEqual(self.retrieve(self.ftp, "out/secret"),
                         missing % (self.home, "/out/secret"))
        self.assertEqual(self.retrieve(self.ftp, "../../etc/passwd"),
                         missing % (self.home, "/etc/passwd"))
        self.assertEqual(self.reply("DELE out/secret"), "550 File dont exist")
        with self.assertRaises(ftplib.error_perm) as refused:
            self.ftp.storbinary("STOR out/planted", io.BytesIO(b"x"))
        self.assertEqual(str(refused.exception), "550 Cannot create file \"%s/out/planted\". "
                         "No such file or directory" % self.home)
        self.assertEqual(os.listdir(self.outside), ["secret"])

    def test_a_file_under_transfer_is_not_opened_deleted_or_renamed_by_another_client(self):
        # Larger than what the loopback socket buffers hold, so the download stays running
        # while the first client does not read.
        self.write("big.bin", os.urandom(32 * 1024 * 1024))
        running = self.ftp.transfercmd("RETR big.bin")
        other = self.client()
        busy = ("550 Cannot open file \"%s/big.bin\". Resource temporarily unavailable"
                % self.home)
        self.assertEqual(self.retrieve(other, "big.bin"), busy)
        for command, reply in [("DELE big.bin", "550 Failed to delete"),
                               ("RNFR big.bin",
                                "350 Requested file action pending further information."),
                               ("RNTO moved.bin", "550 Failed to rename")]:
            try:
                answer = other.sendcmd(command)
            except ftplib.all_errors as error:
                answer = str(error)
            self.assertEqual(answer, reply, command)
        received = 0
        while True:
            chunk = running.recv(1 << 20)
            if not chunk:
                break
            received += len(chunk)
        running.close()
        self.assertEqual(received, 32 * 1024 * 1024)
        self.assertEqual(self.ftp.voidresp(), "226 Closing data connection.")
        self.assertEqual(other.sendcmd("DELE big.bin"),
                         "250 Requested file action okay, completed.")

    def test_store_after_rest_keeps_the_first_bytes(self):
        self.write("resume.bin", b"0123456789")
        self.ftp.sendcmd("TYPE I")
        self.ftp.storbinary("STOR resume.bin", io.BytesIO(b"abcdef"), rest=4)
        self.assertEqual(self.read("resume.bin"), b"0123abcdef")
        # Without REST the file is replaced.
        self.ftp.storbinary("STOR resume.bin", io.BytesIO(b"new"))
        self.assertEqual(self.read("resume.bin"), b"new")


if __name__ == "__main__":
    unittest.main()
