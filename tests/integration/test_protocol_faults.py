"""Faults that hostile and real clients found, against the real server: one final reply per
command, 64-bit restart offsets, stores that fail or are cut, uploads after a crash, ABOR sent
as urgent data, and CWD to a directory that does not exist."""

import ftplib
import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
import unittest

from ftp_harness import CorvaneServer, User, free_port
from test_data_connections import OneUserServerCase, login, open_passive, read_all

ABOUT_TO_OPEN = "150 File status okay; about to open data connection."
CLOSING = "226 Closing data connection."
ABNORMAL = "426 Data connection closed abnormally."
NOOP_OK = "200 NOOP Command successful."
REST_PENDING = "350 Requested file action pending further information."
REST_SYNTAX = "501 Syntax: REST <sp> position (a non-negative decimal number)"
WAIT = 20
GIB = 1 << 30


def refused_eprt(client):
    """EPRT naming a loopback port where nothing listens."""
    port = free_port()
    assert client.command("EPRT |1|127.0.0.1|%d|" % port).code == 200


def reset(data):
    """Closes a socket with a reset instead of an orderly end."""
    data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    data.close()


class ProtocolFaultsTest(OneUserServerCase):
    def sparse(self, name, size, marks):
        """A sparse file of the given size with bytes written at the given offsets."""
        path = os.path.join(self.home, name)
        with open(path, "wb") as out:
            out.truncate(size)
            for offset, data in marks.items():
                out.seek(offset)
                out.write(data)
        self.addCleanup(os.remove, path)
        return path

    def test_a_data_connection_that_cannot_be_opened_gets_one_final_reply(self):
        self.write("kept.txt", b"content that must survive")
        client = self.client()
        for command in ("RETR kept.txt", "STOR kept.txt", "APPE kept.txt", "STOU", "LIST",
                        "NLST", "MLSD"):
            refused_eprt(client)
            self.assertIn(client.command(command).code, (125, 150), command)
            self.assertEqual(client.read_reply().line, ABNORMAL, command)
            # The next command gets its own reply, not a second final reply of the transfer.
            self.assertEqual(client.command("NOOP").line, NOOP_OK, command)
        self.assertEqual(self.read("kept.txt"), b"content that must survive")

    def test_a_store_refused_for_a_foreign_peer_leaves_the_file(self):
        self.write("kept.txt", b"content")
        client = self.client()
        data = open_passive(client, source="127.0.0.2")
        self.addCleanup(data.close)
        client.send_line("STOR kept.txt")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        self.assertEqual(client.read_reply().code, 504)
        self.assertEqual(client.command("NOOP").line, NOOP_OK)
        self.assertEqual(self.read("kept.txt"), b"content")

    def test_restart_offsets_are_64_bit_and_bad_ones_change_nothing(self):
        beyond = 4 * GIB + 123
        self.sparse("big.bin", 5 * GIB, {beyond: b"tail-of-a-big-file"})
        client = self.client()
        # A download resumes beyond 4 GiB.
        self.assertEqual(client.command("REST %d" % beyond).line, REST_PENDING)
        data = open_passive(client)
        client.send_line("RETR big.bin")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        received = read_all(data)
        data.close()
        self.assertEqual(client.read_reply().line, CLOSING)
        self.assertEqual(received[:18], b"tail-of-a-big-file")
        self.assertEqual(len(received), 5 * GIB - beyond)

        # An upload resumes beyond 4 GiB: the first bytes stay, the file ends with the data.
        self.assertEqual(client.command("REST %d" % (4 * GIB + 18)).line, REST_PENDING)
        data = open_passive(client)
        client.send_line("STOR big.bin")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        data.sendall(b"+resumed")
        data.close()
        self.assertEqual(client.read_reply().line, CLOSING)
        path = os.path.join(self.home, "big.bin")
        self.assertEqual(os.path.getsize(path), 4 * GIB + 26)

        # Bad offsets are refused and keep the earlier one; the file is not touched.
        self.write("small.txt", b"0123456789")
        self.assertEqual(client.command("REST 4").line, REST_PENDING)
        for bad in ("REST -5", "REST 2.5", "REST 0x10", "REST 99999999999999999999"):
            self.assertEqual(client.command(bad).line, REST_SYNTAX, bad)
        data = open_passive(client)
        client.send_line("RETR small.txt")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        self.assertEqual(read_all(data), b"456789")
        data.close()
        self.assertEqual(client.read_reply().line, CLOSING)
        self.assertEqual(self.read("small.txt"), b"0123456789")

    def test_a_reset_upload_ends_with_426_and_keeps_what_arrived(self):
        self.write("up.bin", b"old content")
        client = self.client()
        data = open_passive(client)
        client.send_line("STOR up.bin")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        data.sendall(b"x" * 1000)
        time.sleep(0.3)  # let the server receive it before the reset
        reset(data)
        self.assertEqual(client.read_reply().line, ABNORMAL)
        self.assertEqual(self.read("up.bin"), b"x" * 1000)
        self.assertEqual(client.command("NOOP").line, NOOP_OK)

    def test_malformed_port_and_eprt_are_refused(self):
        client = self.client()
        for command in ("PORT 127,0,0,1,-1,200", "PORT 127,0,0,1,256,1", "PORT 127,0,0,1,4,1,7",
                        "EPRT |1|127.0.0.1|98505|", "EPRT |1|127.0.0.1|5000",
                        "EPRT |1|127.0.0.1|5000|x"):
            self.assertEqual(client.command(command).code, 501, command)
            # Nothing was prepared by the refused command.
            self.assertEqual(client.command("RETR x").code, 425, command)

    def test_abor_sent_with_telnet_ip_and_dm_as_urgent_data(self):
        self.write("large.bin", os.urandom(64 << 20))
        client = self.client()
        data = open_passive(client)
        self.addCleanup(data.close)
        client.send_line("RETR large.bin")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        data.recv(1 << 16)  # the transfer runs; the rest is never read
        # IAC IP, then IAC DM with the DM byte as urgent data, then ABOR.
        client.sock.sendall(b"\xff\xf4")
        client.sock.send(b"\xff\xf2", socket.MSG_OOB)
        client.sock.sendall(b"ABOR\r\n")
        replies = [client.read_reply().line, client.read_reply().line]
        self.assertEqual(sorted(replies), sorted([CLOSING, ABNORMAL]))
        self.assertEqual(client.command("NOOP").line, NOOP_OK)

    def test_ftplib_abort_during_a_download(self):
        self.write("large.bin", os.urandom(64 << 20))
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.server.ftp_port, timeout=WAIT)
        self.addCleanup(ftp.close)
        ftp.login("bob", "pw")
        connection = ftp.transfercmd("RETR large.bin")
        connection.recv(1 << 16)
        # ftplib sends ABOR with its last byte as urgent data and reads one reply; the client
        # reads no more of the data, so the server answers while its send is blocked.
        self.assertEqual(ftp.abort(), CLOSING)
        connection.close()
        with self.assertRaises(ftplib.error_temp) as aborted:
            ftp.getresp()
        self.assertEqual(str(aborted.exception), ABNORMAL)
        self.assertEqual(ftp.voidcmd("NOOP"), NOOP_OK)

    def test_cwd_to_a_missing_directory_is_550_and_keeps_the_working_directory(self):
        os.makedirs(os.path.join(self.home, "exists", "deeper"), exist_ok=True)
        self.write("plain.txt", b"x")
        client = self.client()
        self.assertEqual(client.command("CWD exists").code, 250)
        for command in ("CWD missing", "XCWD missing", "CWD ../plain.txt", "CWD /none/deeper"):
            reply = client.command(command)
            self.assertEqual(reply.code, 550, command)
            self.assertIn("No such directory", reply.text, command)
        self.assertEqual(client.command("PWD").line, '257 "/exists" is working directory.')
        self.assertEqual(client.command("CWD deeper").code, 250)
        self.assertEqual(client.command("CDUP").line, '250 "/exists/" is working directory.')

    def test_curl_creates_missing_directories_on_upload(self):
        source = os.path.join(self.home, "..", os.path.basename(self.home) + "-source.txt")
        with open(source, "wb") as out:
            out.write(b"made by curl")
        self.addCleanup(os.remove, source)
        result = subprocess.run(["curl", "-sS", "--ftp-create-dirs", "-T", source,
                                 self.url + "new/tree/file.txt"],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read("new/tree/file.txt"), b"made by curl")


class CrashDuringUploadTest(unittest.TestCase):
    """After the server is killed during an upload, the file is a prefix of what was sent."""

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="corvane-crash-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.server = CorvaneServer(users=[User("bob", "pw", self.home)])
        self.addCleanup(self.server.close)
        self.server.start()

    def test_the_file_holds_a_prefix_of_the_upload_after_kill_9(self):
        with open(os.path.join(self.home, "up.bin"), "wb") as old:
            old.write(b"\x01" * 4096)
        payload = os.urandom(4 << 20)
        client = self.server.ftp_client(timeout=WAIT)
        self.addCleanup(client.close)
        login(client)
        data = open_passive(client)
        self.addCleanup(data.close)
        client.send_line("STOR up.bin")
        self.assertEqual(client.read_reply().line, ABOUT_TO_OPEN)
        sent = 0
        for _ in range(64):  # a few pieces, with pauses, so the server writes while it runs
            data.sendall(payload[sent:sent + 40000])
            sent += 40000
            time.sleep(0.005)
        time.sleep(0.3)
        self.server.signal(signal.SIGKILL)
        self.server.wait_exit()
        with open(os.path.join(self.home, "up.bin"), "rb") as stored:
            kept = stored.read()
        self.assertGreater(len(kept), 0)
        self.assertLessEqual(len(kept), sent)
        self.assertEqual(kept, payload[:len(kept)])


if __name__ == "__main__":
    unittest.main()
