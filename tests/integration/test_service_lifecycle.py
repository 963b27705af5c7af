"""Start, stop, configuration and installation of the real CorvaneServer binary."""

import os
import signal
import socket
import tempfile
import unittest

from ftp_harness import (LOOPBACK, ControlClient, CorvaneServer, free_port, gc_xml, port_accepts,
                         port_listening, strip_stamp)

GREETING_PREFIX = "220 Corvane Server ("
STOP_EVENTS = ["Stoping Corvane service", "Corvane service is stoped"]


def is_subsequence(wanted, lines):
    remaining = iter(lines)
    return all(any(line == item for line in remaining) for item in wanted)


class StartAndStopTest(unittest.TestCase):
    def test_start_serves_both_ports_and_stop_reports_in_order(self):
        with CorvaneServer() as server:
            server.start()
            with server.ftp_client() as ftp:
                self.assertTrue(ftp.greeting.line.startswith(GREETING_PREFIX), ftp.greeting)
            with server.management_client() as management:
                self.assertEqual(management.greeting.raw, b"200 Welcome\r\n")
            self.assertEqual(server.stop(), 0)

            ftp_port, management_port = server.ftp_port, server.management_port
            self.assertEqual(server.event_lines(), [
                "Starting Corvane service",
                "Configuring Corvane Service on IP: 127.0.0.1:%d" % ftp_port,
                "Configuring Corvane Management Service on IP: 127.0.0.1:%d" % management_port,
                "Corvane Service started",
            ] + STOP_EVENTS)

            messages = server.main_log_messages()
            self.assertEqual(messages[0], "Initializing FTP server")
            self.assertEqual(messages[-1], " FTP Server stoped.")
            self.assertTrue(is_subsequence([
                "Initializing FTP server",
                "127.0.0.1:%d Loading ip bindings" % ftp_port,
                "127.0.0.1:%d Initialized" % ftp_port,
                "FTP Service activated",
                "Management Service activated",
                "Users loaded from xml file",
                " FTP Server stoped.",
            ], messages), messages)
            self.assertFalse(port_listening(ftp_port))
            self.assertFalse(port_listening(management_port))

    def test_log_lines_have_stamp_trailing_blank_and_crlf(self):
        with CorvaneServer() as server:
            server.start()
            server.stop()
            raw = server.main_log()
        self.assertTrue(raw.endswith(b" \r\n"), raw)
        for record in raw.split(b"\r\n")[:-1]:
            strip_stamp(record)  # raises on a malformed line
        self.assertNotIn(b"\n", raw.replace(b"\r\n", b""))

    def test_sigint_stops_like_sigterm_and_unknown_arguments_are_ignored(self):
        with CorvaneServer() as server:
            server.start(args=["--verbose", "/debug", "extra"])
            server.signal(signal.SIGINT)
            self.assertEqual(server.wait_exit(), 0)
            self.assertEqual(server.event_lines()[-2:], STOP_EVENTS)

    def test_connections_open_at_stop_are_closed(self):
        with CorvaneServer() as server:
            server.start()
            with server.ftp_client() as ftp, server.management_client() as management:
                self.assertEqual(server.stop(), 0)
                self.assertTrue(ftp.closed_by_peer())
                self.assertTrue(management.closed_by_peer())


class ConfigurationTest(unittest.TestCase):
    def test_two_ftp_addresses_give_two_bindings_in_document_order(self):
        with CorvaneServer() as server:
            ftp_port = server.ftp_port
            server.write_file("gc.xml", gc_xml(ftp_port, server.management_port,
                                               ftp_ips=("127.0.0.2", LOOPBACK)))
            server.start()
            for address in ("127.0.0.2", LOOPBACK):
                with socket.create_connection((address, ftp_port), timeout=5) as s:
                    s.settimeout(5)
                    self.assertTrue(s.recv(200).startswith(GREETING_PREFIX.encode()))
            self.assertFalse(port_accepts(ftp_port, host="127.0.0.3"))
            server.stop()
            self.assertEqual(server.event_lines()[1:3], [
                "Configuring Corvane Service on IP: 127.0.0.2:%d" % ftp_port,
                "Configuring Corvane Service on IP: 127.0.0.1:%d" % ftp_port,
            ])
            self.assertTrue(is_subsequence([
                "127.0.0.2:%d Loading ip bindings" % ftp_port,
                "127.0.0.2:%d Initialized" % ftp_port,
                "127.0.0.1:%d Loading ip bindings" % ftp_port,
                "127.0.0.1:%d Initialized" % ftp_port,
            ], server.main_log_messages()))

    def test_management_before_ftp_works_alike(self):
        with CorvaneServer() as server:
            ftp_port, management_port = server.ftp_port, server.management_port
            server.write_file("gc.xml", gc_xml(ftp_port, management_port, management_first=True))
            server.start()
            with server.management_client() as management:
                self.assertEqual(management.greeting.line, "200 Welcome")
            with server.ftp_client() as ftp:
                self.assertTrue(ftp.greeting.line.startswith(GREETING_PREFIX))
            server.stop()
            self.assertEqual(server.event_lines()[1:3], [
                "Configuring Corvane Management Service on IP: 127.0.0.1:%d" % management_port,
                "Configuring Corvane Service on IP: 127.0.0.1:%d" % ftp_port,
            ])

    def test_listeners_without_addresses_use_the_wildcard_at_the_configured_ports(self):
        with CorvaneServer() as server:
            ftp_port, management_port = server.ftp_port, server.management_port
            server.write_file("gc.xml", "<global><FTP><port>%d</port></FTP><Management>"
                              "<port>%d</port></Management></global>" % (ftp_port, management_port))
            server.start()
            # The wildcard answers on any loopback address, not only 127.0.0.1.
            with ControlClient(ftp_port, host="127.0.0.3") as ftp:
                self.assertTrue(ftp.greeting.line.startswith(GREETING_PREFIX))
            with ControlClient(management_port, host="127.0.0.3") as management:
                self.assertEqual(management.greeting.line, "200 Welcome")
            server.stop()
            self.assertEqual(server.event_lines(), [
                "Starting Corvane service", "Corvane Service started",
                "Stoping Corvane service", "Corvane service is stoped"])

    def test_element_names_in_other_letter_case_are_ignored(self):
        ignored_port = free_port()
        with CorvaneServer() as server:
            config = gc_xml(server.ftp_port, server.management_port).replace(
                "<global>",
                "<global><ftp><port>%d</port><IP>127.0.0.1</IP></ftp>"
                "<management><password>other</password></management>" % ignored_port)
            server.write_file("gc.xml", config)
            server.start()
            self.assertFalse(port_accepts(ignored_port))
            with server.management_client() as management:
                reply = management.command("USERSSTATUS " + server.password)
                self.assertEqual(reply.code, 200, reply)
            server.stop()
            self.assertFalse(any(str(ignored_port) in line for line in server.event_lines()))

    def test_empty_cert_and_logdir_keep_the_defaults(self):
        with CorvaneServer() as server:
            server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port,
                                               cert="", key="", logdir=""))
            os.rmdir(server.file("logs"))
            server.start()
            server.stop()
            self.assertTrue(os.path.isdir(server.file("logs")))
            self.assertIn("FTP Service activated", server.main_log_messages())

    def test_configured_log_directory_is_created_and_used(self):
        with CorvaneServer() as server:
            logs = server.file("ftplogs")
            server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port,
                                               logdir=logs))
            server.start()
            server.stop()
            messages = server.main_log_messages(logs)
            self.assertIn("FTP Service activated", messages)
            self.assertEqual(messages[-1], " FTP Server stoped.")
            # Only the line written before gc.xml was read goes to the default directory.
            self.assertEqual(server.main_log_messages(), ["Initializing FTP server"])

    def test_unreadable_configuration_fails_the_start(self):
        cases = [
            ("not well-formed", "<global><FTP><port>21</FTP></global>"),
            ("port not a number", gc_xml("abc", 1010)),
            ("maxcon not a number", gc_xml(21, 1010, maxcon="1.5")),
            ("bandwidth not a number", gc_xml(21, 1010, bandwidth="ten")),
            ("IP without text", gc_xml(21, 1010, ftp_ips=("",))),
            ("management port not a number", gc_xml(21, "x")),
        ]
        for name, config in cases:
            with self.subTest(name), CorvaneServer(config) as server:
                server.start(wait=False)
                self.assertNotEqual(server.wait_exit(), 0)
                events = server.event_lines()
                self.assertEqual(events[0], "Starting Corvane service")
                self.assertTrue(events[-1].startswith("Service failed on start: "), events)
                self.assertGreater(len(events[-1]), len("Service failed on start: "))
                self.assertNotIn("Corvane Service started", events)


class ListenerFailureTest(unittest.TestCase):
    """A listener that cannot start is logged; the service itself keeps running."""

    def assert_running_without_listeners(self, server, log_text):
        server.start(wait=False)
        server.wait_for_event("Corvane Service started")
        server.wait_for_log(log_text)
        self.assertTrue(server.running())
        self.assertFalse(port_accepts(server.management_port))
        messages = server.main_log_messages()
        self.assertNotIn("FTP Service activated", messages)
        self.assertNotIn("Management Service activated", messages)
        self.assertEqual(server.stop(), 0)
        self.assertEqual(server.event_lines()[-2:], STOP_EVENTS)
        self.assertEqual(server.main_log_messages()[-1], " FTP Server stoped.")

    def test_ftp_port_in_use(self):
        with CorvaneServer() as server, socket.socket() as occupant:
            occupant.bind((LOOPBACK, server.ftp_port))
            occupant.listen(1)
            self.assert_running_without_listeners(
                server, "Could not bind socket. Address and port are already in use.")

    def test_missing_certificate(self):
        with CorvaneServer(certificate=False) as server:
            self.assert_running_without_listeners(server, "Could not load certificate.")
            self.assertFalse(port_accepts(server.ftp_port))


def loopback_ports_free(*ports):
    for port in ports:
        with socket.socket() as probe:
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind((LOOPBACK, port))
            except OSError:
                return False
    return True


class NoConfigurationTest(unittest.TestCase):
    @unittest.skipUnless(loopback_ports_free(21, 1010), "127.0.0.1:21 or :1010 not bindable here")
    def test_defaults_bind_loopback_21_and_1010(self):
        with CorvaneServer(config=None) as server:
            server.ftp_port, server.management_port = 21, 1010
            server.start()
            with server.ftp_client() as ftp:
                self.assertTrue(ftp.greeting.line.startswith(GREETING_PREFIX))
            with server.management_client() as management:
                reply = management.command("USERSSTATUS 62#%8152@7&&")
                self.assertEqual(reply.code, 200, reply)
            self.assertFalse(port_accepts(21, host="127.0.0.2"))
            server.stop()
            self.assertEqual(server.event_lines(),
                             ["Starting Corvane service", "Corvane Service started"] + STOP_EVENTS)
            self.assertTrue(is_subsequence(["127.0.0.1:21 Loading ip bindings",
                                            "127.0.0.1:21 Initialized", "FTP Service activated",
                                            "Management Service activated"],
                                           server.main_log_messages()))


class InstallTest(unittest.TestCase):
    def test_install_and_uninstall_against_a_unit_directory(self):
        with CorvaneServer() as server, tempfile.TemporaryDirectory() as units:
            env = {"CORVANE_UNIT_DIR": units}
            unit = os.path.join(units, "CorvaneService.service")
            link = os.path.join(units, "multi-user.target.wants", "CorvaneService.service")

            result = server.run(["/install"], env=env)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (0, "Service installed successfully\n", ""))
            with open(unit) as text:
                content = text.read()
            self.assertIn("\nExecStart=%s\n" % os.path.realpath(server.binary), content)
            for line in ("Description=CorvaneServer", "Type=notify",
                         "WantedBy=multi-user.target"):
                self.assertIn("\n%s\n" % line, content)
            self.assertEqual(os.path.realpath(link), os.path.realpath(unit))

            result = server.run(["-INSTALL", "-Silent"], env=env)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (
                1, "", 'Service "CorvaneServer" failed to install with error: "File exists"\n'))

            result = server.run(["-UNINSTALL"], env=env)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (0, "Service uninstalled successfully\n", ""))
            self.assertFalse(os.path.lexists(unit))
            self.assertFalse(os.path.lexists(link))

            result = server.run(["/uninstall"], env=env)
            self.assertEqual((result.returncode, result.stdout), (1, ""))
            self.assertEqual(result.stderr, 'Service "CorvaneServer" failed to uninstall with '
                                            'error: "No such file or directory"\n')

            result = server.run(["/install", "/silent"], env=env)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
            self.assertTrue(os.path.exists(unit))
            # Installing never starts the service.
            self.assertFalse(os.path.exists(server.file("logs/main.log")))


if __name__ == "__main__":
    unittest.main()
