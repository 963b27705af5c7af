"""Admission of FTP connections by rules.txt on the real server: the outcome table with its
main.log lines, CIDR and range entries, entries that cannot be interpreted, rule files as
operators write them, and RULESRELOAD. Clients connect to 127.0.0.1 from several loopback
source addresses, so one server sees many different peers."""

import os
import select
import socket
import time
import unittest

from ftp_harness import LOOPBACK, ControlClient, CorvaneServer, gc_xml

READY = "Users loaded from xml file"
DONE = b"200 Done\r\n"


def rules_file(policy, accept=(), reject=()):
    """A rules.txt with CR LF endings; a policy of None writes no POLICY line."""
    lines = [] if policy is None else ["POLICY " + policy]
    lines += ["ACCEPT " + entry for entry in accept] + ["REJECT " + entry for entry in reject]
    return "".join(line + "\r\n" for line in lines)


def accepted(address):
    return address + " Accepted as per rules."


def rejected(address):
    return address + " Rejecting as per rules."


def by_default(address):
    return address + " Rejecting as per default policy."


class SourceClient(ControlClient):
    """A control connection to the FTP port from a chosen loopback source address. The greeting
    is not read: arrival() tells whether one came."""

    def __init__(self, port, source, timeout=5):
        self.timeout = timeout
        if ":" in source:
            self.sock = socket.create_connection((source, port), timeout=timeout)
        else:
            self.sock = socket.create_connection((LOOPBACK, port), timeout=timeout,
                                                 source_address=(source, 0))
        self.buffer = b""
        self.greeting = None

    def arrival(self):
        """What the server sends up to its first line end: the greeting of an admitted client,
        or b"" when the server closed the connection without sending anything."""
        deadline = time.monotonic() + self.timeout
        data = b""
        while b"\r\n" not in data:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("neither a greeting nor a close in time; have %r" % data)
            readable, _, _ = select.select([self.sock], [], [], remaining)
            if not readable:
                continue
            try:
                chunk = self.sock.recv(4096)
            except ConnectionResetError:
                return data
            if not chunk:
                return data
            data += chunk
        return data


def ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as probe:
            probe.bind(("::1", 0))
        return True
    except OSError:
        return False


def wildcard_free_port():
    """A port that was free on every address a moment ago. A port free on 127.0.0.1 alone may
    still be held elsewhere, for instance by a client socket of 127.0.0.5 in TIME_WAIT."""
    with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as probe:
        probe.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
        probe.bind(("::", 0))
        return probe.getsockname()[1]


def expect_clean_stop(test, server):
    """Registers a cleanup that stops the server and fails the test unless it ended cleanly."""
    def check():
        status = server.stop()
        stderr = server.stderr_text()
        test.assertFalse(status != 0 or "Sanitizer" in stderr or "runtime error" in stderr,
                         "server ended with %s:\n%s" % (status, stderr))
    test.addCleanup(check)


class AdmissionCase(unittest.TestCase):
    wildcard = False

    def start(self, rules):
        """A running server with the rules text (None: no rules.txt), its start-up log read."""
        server = CorvaneServer(rules=rules)
        self.addCleanup(server.close)
        if self.wildcard:
            # No FTP address: the listener falls back to the IPv4 and IPv6 wildcards.
            server.ftp_port = wildcard_free_port()
            server.write_file("gc.xml", gc_xml(server.ftp_port, server.management_port,
                                               ftp_ips=()))
        server.start()
        expect_clean_stop(self, server)
        server.wait_for_log(READY)
        self.log_seen = len(server.main_log_messages())
        return server

    def new_log_lines(self, server):
        messages = server.main_log_messages()
        fresh = messages[self.log_seen:]
        self.log_seen = len(messages)
        return fresh

    def visit(self, server, source):
        """Connects from the source address; returns the open client and what arrived."""
        client = SourceClient(server.ftp_port, source)
        self.addCleanup(client.close)
        return client, client.arrival()

    def check_visit(self, server, source, admitted, log, keep=False):
        """One connection: admitted (greeting) or refused (closed with nothing sent), and the
        main.log lines it caused, in order. Lines are written before the greeting or the close,
        so they are all on disk once the outcome is seen. The client stays open when kept."""
        client, arrived = self.visit(server, source)
        lines = self.new_log_lines(server)
        if not keep:
            client.close()
        if admitted:
            self.assertTrue(arrived.startswith(b"220 "), arrived)
        else:
            self.assertEqual(arrived, b"")
        self.assertEqual(lines, log)
        return client

    def run_visits(self, rules, visits, label=None):
        """Visits in order on a server of their own, which is then stopped."""
        server = self.start(rules)
        for source, admitted, log in visits:
            with self.subTest(rules=label or (rules and rules[:60]), source=source):
                self.check_visit(server, source, admitted, log)
        server.stop()

    def run_table(self, table):
        """Rows of (policy, accept, reject, source, admitted, log); rows with the same rules
        share one server and run in table order."""
        groups = {}
        for policy, accept, reject, source, admitted, log in table:
            groups.setdefault(rules_file(policy, accept, reject), []).append(
                (source, admitted, log))
        for rules, visits in groups.items():
            self.run_visits(rules, visits)


class AdmissionTableTest(AdmissionCase):
    def test_outcome_table(self):
        a5, a6, a15 = "127.0.0.5", "127.0.0.6", "127.0.0.15"
        self.run_table([
            # Default deny: the accept list decides first, the reject list can still refuse.
            ("REJECT", ["127.0.0.0/8"], [], a5, True, [accepted(a5)]),
            ("REJECT", ["127.0.0.0/8"], [a5], a5, False, [accepted(a5), rejected(a5)]),
            ("REJECT", ["127.0.0.0/8"], [a5], a6, True, [accepted(a6)]),
            ("REJECT", ["127.0.0.7"], ["127.0.0.8"], "127.0.0.8", False,
             [by_default("127.0.0.8")]),
            ("REJECT", ["127.0.0.7"], ["127.0.0.8"], "127.0.0.9", False,
             [by_default("127.0.0.9")]),
            ("REJECT", [], [], LOOPBACK, False, [by_default(LOOPBACK)]),
            # Default allow: only a rejected client is looked up in the accept list.
            ("ACCEPT", [], ["127.0.0.9"], "127.0.0.10", True, []),
            ("ACCEPT", [a5], ["127.0.0.9"], a5, True, []),
            ("ACCEPT", [a5], [a5], a5, True, [" " + accepted(a5)]),
            ("ACCEPT", ["127.0.0.10-20"], ["0.0.0.0"], a15, True, [" " + accepted(a15)]),
            ("ACCEPT", ["127.0.0.10-20"], ["0.0.0.0"], "127.0.0.21", False,
             [rejected("127.0.0.21")]),
            ("ACCEPT", ["127.0.0.10-20"], ["0.0.0.0"], "127.0.1.15", False,
             [rejected("127.0.1.15")]),
            # No POLICY line and a policy other than the exact text "REJECT" allow by default.
            (None, [], ["127.0.0.0/24"], "127.0.0.200", False, [rejected("127.0.0.200")]),
            (None, [], ["127.0.0.0/24"], "127.0.1.1", True, []),
            (" REJECT", [], [], a5, True, []),
        ])

    def test_no_rules_file_admits_everyone_without_a_log_line(self):
        self.run_visits(None, [(source, True, []) for source in
                               (LOOPBACK, "127.0.0.5", "127.3.4.5", "127.255.255.254")])

    def test_admitted_client_goes_on_to_ftp(self):
        server = self.start(rules_file("REJECT", ["127.0.0.5"]))
        client = self.check_visit(server, "127.0.0.5", True, [accepted("127.0.0.5")], keep=True)
        self.assertEqual(client.command("NOOP").code, 200)


class AddressEntryTest(AdmissionCase):
    """Each entry as the only ACCEPT line under POLICY REJECT: a match admits with its log
    line, anything else is refused by the default policy."""

    ENTRIES = [
        ("0.0.0.0/0", {"127.0.0.1": True, "127.255.255.254": True}),
        ("10.0.0.0/0", {"127.0.0.5": True}),
        ("127.0.0.5/32", {"127.0.0.5": True, "127.0.0.4": False, "127.0.0.6": False}),
        ("127.0.0.5/40", {"127.0.0.5": True, "127.0.0.4": False}),
        ("127.0.0.4/31", {"127.0.0.4": True, "127.0.0.5": True, "127.0.0.6": False,
                          "127.0.0.3": False}),
        ("127.0.0.128/25", {"127.0.0.200": True, "127.0.0.100": False}),
        ("127.0.0.0/8", {"127.200.1.1": True}),
        ("127.0.0.10-20", {"127.0.0.10": True, "127.0.0.15": True, "127.0.0.20": True,
                           "127.0.0.9": False, "127.0.0.21": False, "127.0.1.15": False}),
        ("127.0.0.20-10", {"127.0.0.10": False, "127.0.0.15": False, "127.0.0.20": False}),
        ("127.0.0.7-7", {"127.0.0.7": True, "127.0.0.8": False}),
        ("0.0.0.0", {"127.0.0.1": True, "127.9.8.7": True}),
        ("127.0.0.5", {"127.0.0.5": True, "127.0.0.50": False}),
    ]

    def test_cidr_range_all_and_exact_entries(self):
        for entry, sources in self.ENTRIES:
            self.run_visits(rules_file("REJECT", [entry]), [
                (source, match, [accepted(source) if match else by_default(source)])
                for source, match in sources.items()])


class UninterpretableEntryTest(AdmissionCase):
    """An entry that cannot be interpreted stops the evaluation when it is reached: the client
    is closed without greeting and without a further log line. Entries are tried in list order
    (the reject list sorted), after a direct lookup of the exact address."""

    def test_entries_reached_and_not_reached(self):
        a5, a6 = "127.0.0.5", "127.0.0.6"
        self.run_table([
            ("REJECT", ["10.0.0.0/x", "127.0.0.0/8"], [], a5, False, []),
            ("REJECT", ["127.0.0.0/8", "10.0.0.0/x"], [], a5, True, [accepted(a5)]),
            ("REJECT", ["1.2.3-", a5], [], a5, True, [accepted(a5)]),
            ("REJECT", ["1.2.3-", a5], [], a6, False, []),
            ("REJECT", ["300.1.1.1/8"], [], a5, False, []),
            ("REJECT", ["a.b.c.d/8"], [], a5, False, []),
            ("REJECT", ["1.2.3/8"], [], a5, False, []),
            ("REJECT", ["1.2.3.x-9"], [], a5, False, []),
            ("REJECT", ["1.2.3.4-x"], [], a5, False, []),
            ("REJECT", ["1.2.3.256-300"], [], a5, False, []),
            # Under default deny the reject list is read only for accepted clients.
            ("REJECT", [a5], ["10.0.0.0/x"], a6, False, [by_default(a6)]),
            ("REJECT", [a5], ["10.0.0.0/x"], a5, False, [accepted(a5)]),
            # Under default allow every client reaches the reject list, in sorted order.
            ("ACCEPT", [], ["10.0.0.0/x"], a5, False, []),
            ("ACCEPT", [], ["127.0.0.0/8", "10.0.0.0/x"], a5, False, []),
            ("ACCEPT", [], ["127.0.0.0/8", "200.0.0.0/x"], a5, False, [rejected(a5)]),
            ("ACCEPT", [], [a5, "300.1.1.1/8"], a5, False, [rejected(a5)]),
            ("ACCEPT", ["10.0.0.0/x"], [a5], a5, False, []),
        ])

    def test_server_goes_on_after_an_uninterpretable_entry(self):
        server = self.start(rules_file("REJECT", ["127.0.0.9", "1.2.3-"]))
        for _ in range(3):
            self.check_visit(server, "127.0.0.5", False, [])
        self.check_visit(server, "127.0.0.9", True, [accepted("127.0.0.9")])


class RuleFileTextTest(AdmissionCase):
    """Rule files as operators write them: each text with the visits it decides."""

    def test_rule_file_texts(self):
        a5, a6, a7 = "127.0.0.5", "127.0.0.6", "127.0.0.7"
        deny_but_5 = [(a5, True, [accepted(a5)]), (a6, False, [by_default(a6)])]
        long_lines = (
            "POLICY ACCEPT\r\n"
            # Read in pieces of 999 characters: the second piece of this line is junk, and the
            # second piece of the next one is a rule of its own.
            + "REJECT 127.0.0.5 ".ljust(1500, "z") + "\r\n"
            + ("x" * 999 + "REJECT 127.0.0.6 ").ljust(1500, "y") + "\r\n"
            + "REJECT " + "1" * 1493 + "\r\n")
        cases = [
            ("POLICY REJECT\nACCEPT 127.0.0.5\n", deny_but_5),
            ("POLICY REJECT\r\nACCEPT 127.0.0.5\r\n", deny_but_5),
            ("POLICY REJECT\r\nACCEPT 127.0.0.5", deny_but_5),
            ("# access rules\r\n\r\nhello world\r\n ACCEPT 127.0.0.6\r\nACCEPT\r\n"
             "POLICY REJECT\r\nACCEPT127.0.0.5\r\nREJECT \r\nDELAY 127.0.0.6 5\r\n"
             "ROUTE 127.0.0.6 gateway\r\n\x00\x01\xff junk\r\n", deny_but_5),
            ("policy reject\r\nreject 127.0.0.5\r\n", [(a5, True, [])]),
            ("POLICY REJECT\r\naccept 127.0.0.5\r\n", [(a5, False, [by_default(a5)])]),
            ("POLICY ACCEPT\r\nACCEPT 127.0.0.5\r\nPOLICY REJECT\r\n", deny_but_5),
            ("POLICY REJECT\r\nACCEPT 127.0.0.5\r\nPOLICY ACCEPT\r\n", [(a6, True, [])]),
            ("POLICY REJECTED\r\nACCEPT 127.0.0.5\r\n", deny_but_5),
            (long_lines, [(a5, False, [rejected(a5)]), (a6, False, [rejected(a6)]),
                          (a7, True, [])]),
        ]
        for number, (text, visits) in enumerate(cases):
            self.run_visits(text, visits, label="text %d" % number)


@unittest.skipUnless(ipv6_loopback(), "no IPv6 loopback")
class WildcardListenerTest(AdmissionCase):
    """On the wildcard listeners an IPv6 client's address text matches only exact entries and
    "0.0.0.0"; a CIDR or range entry cannot be interpreted for it. IPv4 clients keep their
    dotted address, never a mapped IPv6 form."""

    wildcard = True

    def test_ipv6_and_ipv4_clients(self):
        a5 = "127.0.0.5"
        self.run_table([
            ("REJECT", ["::1", a5], [], "::1", True, [accepted("::1")]),
            ("REJECT", ["::1", a5], [], a5, True, [accepted(a5)]),
            ("REJECT", ["0.0.0.0"], [], "::1", True, [accepted("::1")]),
            ("REJECT", ["127.0.0.0/8", "::2"], [], "::1", False, []),
            ("REJECT", ["127.0.0.0/8", "::2"], [], a5, True, [accepted(a5)]),
            # The exact address is looked up before any entry is tried.
            ("REJECT", ["127.0.0.0/8", "::1"], [], "::1", True, [accepted("::1")]),
            ("ACCEPT", [], ["127.0.0.1-9"], "::1", False, []),
            ("ACCEPT", [], ["::1"], "::1", False, [rejected("::1")]),
        ])


class RulesReloadTest(AdmissionCase):
    def reload(self, server, rules):
        if rules is None:
            os.remove(server.file("rules.txt"))
        else:
            server.write_file("rules.txt", rules)
        with server.management_client() as management:
            self.assertEqual(management.command("RULESRELOAD " + server.password).raw, DONE)

    def test_reload_decides_the_next_connections_only(self):
        a5, a6 = "127.0.0.5", "127.0.0.6"
        server = self.start(rules_file("ACCEPT", [], [a5]))
        self.check_visit(server, a5, False, [rejected(a5)])
        earlier = self.check_visit(server, a6, True, [], keep=True)
        steps = [
            (rules_file("REJECT", [a5]),
             [(a5, True, [accepted(a5)]), (a6, False, [by_default(a6)])]),
            # No POLICY line: the policy in force stays.
            ("ACCEPT 127.0.0.6\r\n", [(a6, True, [accepted(a6)]), (a5, False, [by_default(a5)])]),
            # No file: no rules, and still the same policy.
            (None, [(a6, False, [by_default(a6)])]),
            (rules_file("ACCEPT"), [(a5, True, []), (a6, True, [])]),
        ]
        for rules, visits in steps:
            self.reload(server, rules)
            for source, admitted, log in visits:
                with self.subTest(rules=rules and rules[:60], source=source):
                    self.check_visit(server, source, admitted, log)
            # The connection admitted at the start is never examined again.
            self.assertEqual(earlier.command("NOOP").code, 200)
        self.assertEqual(self.new_log_lines(server), [])


if __name__ == "__main__":
    unittest.main()
