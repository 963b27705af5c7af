"""Shared helpers for Corvane's integration tests (Python standard library only).

Every test runs the real CorvaneServer binary, named by the environment variable
CORVANE_SERVER, from a temporary program directory of its own, and talks to it
over loopback only.

Typical use::

    from ftp_harness import CorvaneServer, User

    class GreetingTest(unittest.TestCase):
        def test_greeting(self):
            with CorvaneServer(users=[User("alice", "pw", home)]) as server:
                server.start()
                with server.ftp_client() as ftp:
                    self.assertTrue(ftp.greeting.line.startswith("220 Corvane Server ("))
                    reply = ftp.command("USER alice")
            self.assertIn("Corvane service is stoped", server.event_lines())

Module functions
    free_port()              a TCP port that was free on every local address a moment ago
    certificate_pair()       (cert_path, key_path): a self-signed PEM pair made with the
                             openssl command, made once per test process and shared
    gc_xml(...)              the text of a gc.xml (see its docstring)
    users_xml(users)         the text of a users.xml for a list of User
    rules_txt(policy, rules) the text of a rules.txt
    port_accepts(port)       whether 127.0.0.1:port accepts a connection right now
    port_listening(port)     whether any socket listens on the port (no connection made)
    strip_stamp(line)        a main.log line without its time stamp, " - " and trailing blank

class HomeFiles
    Mixin for test cases with self.home: write(name, data), read(name) of files in it.

class User(name, password, home, status="1", bandwidth="0")
    One account of users.xml; home is a Linux directory path.

class CorvaneServer(config=DEFAULT, users=(), rules=None, certificate=True,
                    log_dir=True, extra_env=None)
    Stages a program directory on construction: the binary copied in, gc.xml
    (by default FTP and management on 127.0.0.1 at ports picked by the harness;
    a string is written as it stands; None writes no gc.xml), users.xml, rules.txt
    (when rules is a string), default.cer/default.key (when certificate is true)
    and the logs directory (when log_dir is true, as the desktop would make it).
    Attributes: program_dir, binary, ftp_port, management_port, password.
    start(wait=True, timeout=10, args=())  run the binary; with wait, return once
                                           both ports listen (raise if it exits)
    wait_until_accepting(ports, timeout)   bounded wait until the ports listen
    stop(timeout=10) -> int                SIGTERM and a bounded wait; exit status
    signal(signum)                         send a signal to the running server
    wait_exit(timeout=10) -> int           bounded wait for the process to end by itself
    running() -> bool
    run(args, timeout=10, env=None)        run the binary to completion (e.g. /install);
                                           returns subprocess.CompletedProcess (text)
    stderr_text(), event_lines()           what the server wrote to standard error
    main_log(log_dir=None) -> bytes        main.log exactly as on disk ("" when missing)
    main_log_messages(log_dir=None)        its messages, stamps stripped, in order
    wait_for_log(text, timeout=10)         bounded wait for a main.log message containing text
    wait_for_event(line, timeout=10)       bounded wait for a line on standard error
    ftp_client(timeout=5)                  a ControlClient on the FTP port, greeting read
    management_client(timeout=5)           a ControlClient on the management port
    file(name) -> str                      a path inside the program directory
    close()                                stop (or kill) and remove everything
    Also a context manager that calls close().

class ControlClient(port, host="127.0.0.1", timeout=5, read_greeting=True)
    A raw control connection for exact-reply tests.
    greeting                   the first Reply (when read_greeting)
    send_line(text)            send text + CR LF (text encoded as UTF-8)
    send_raw(data)             send bytes as they stand
    read_reply() -> Reply      one complete reply, multi-line replies included
    command(text) -> Reply     send_line then read_reply
    read_available(wait=0.5)   whatever bytes arrive within the wait
    closed_by_peer(timeout)    True when the server closes the connection in time
    close(); context manager.

Reply: code (int), lines (list of str: each line without CR LF), raw (bytes exactly as
received), line (the last line), text (the last line's text after the code).
"""

import atexit
import os
import re
import select
import shutil
import signal as signal_module
import socket
import subprocess
import tempfile
import time
from xml.sax.saxutils import escape

LOOPBACK = "127.0.0.1"
DEFAULT = object()
DEFAULT_PASSWORD = "62#%8152@7&&"
STAMP = re.compile(r"^(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                   r"[ 123]\d \d\d:\d\d:\d\d \d{4} - ")

# Variables through which systemd marks its own children; the server must not see them, or
# it would stop echoing events to standard error.
SERVICE_MANAGER_VARIABLES = ("INVOCATION_ID", "NOTIFY_SOCKET", "JOURNAL_STREAM")


def server_binary():
    path = os.environ.get("CORVANE_SERVER")
    if not path:
        raise RuntimeError("CORVANE_SERVER must name the built CorvaneServer binary")
    return path


class HomeFiles:
    """For a test case with a home directory in self.home: write(name, data) and read(name)
    of a file inside it, in bytes."""

    def write(self, name, data):
        with open(os.path.join(self.home, name), "wb") as out:
            out.write(data)

    def read(self, name):
        with open(os.path.join(self.home, name), "rb") as stored:
            return stored.read()


def free_port(host="0.0.0.0"):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind((host, 0))
        return probe.getsockname()[1]


def port_listening(port):
    """Whether some socket listens on the TCP port (any address), read from /proc/net without
    connecting, so that waiting for a server leaves no connection in its logs."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as rows:
                next(rows)
                for row in rows:
                    fields = row.split()
                    if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                        return True
        except FileNotFoundError:
            continue
    return False


def port_accepts(port, host=LOOPBACK, timeout=0.5):
    try:
        with socket.create_connection((host, port), timeout=timeout):
            return True
    except OSError:
        return False


_certificate_cache = {}


def certificate_pair():
    """A self-signed certificate and key (PEM), made once per test process."""
    if "pair" not in _certificate_cache:
        directory = tempfile.mkdtemp(prefix="corvane-cert-")
        atexit.register(shutil.rmtree, directory, True)
        cert = os.path.join(directory, "default.cer")
        key = os.path.join(directory, "default.key")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
             "-days", "2", "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        _certificate_cache["pair"] = (cert, key)
    return _certificate_cache["pair"]


def _element(name, value):
    if value is None:
        return ""
    return "<%s>%s</%s>" % (name, escape(str(value)), name)


def gc_xml(ftp_port=21, management_port=1010, ftp_ips=(LOOPBACK,), management_ips=(LOOPBACK,),
           password=None, maxcon=None, authoption=None, logdir=None, cert=None, key=None,
           bandwidth=None, management_first=False):
    """The text of a gc.xml. A value of None leaves its element out; "" writes it empty."""
    ftp = "<FTP>%s%s%s%s%s%s%s%s</FTP>" % (
        _element("port", ftp_port), _element("maxcon", maxcon),
        _element("authoption", authoption), _element("logdir", logdir),
        _element("cert", cert), _element("key", key), _element("bandwidth", bandwidth),
        "".join(_element("IP", ip) for ip in ftp_ips))
    management = "<Management>%s%s%s</Management>" % (
        _element("port", management_port), _element("password", password),
        "".join(_element("IP", ip) for ip in management_ips))
    body = management + ftp if management_first else ftp + management
    return '<?xml version="1.0"?>\n<global>%s</global>\n' % body


class User:
    def __init__(self, name, password, home, status="1", bandwidth="0"):
        self.name = name
        self.password = password
        self.home = home
        self.status = status
        self.bandwidth = bandwidth


def users_xml(users):
    accounts = "".join(
        "<user>%s%s%s%s%s</user>" % (
            _element("username", u.name), _element("password", u.password),
            _element("homedir", u.home), _element("status", u.status),
            _element("bandwidth", u.bandwidth))
        for u in users)
    return '<?xml version="1.0"?>\n<users>%s</users>\n' % accounts


def rules_txt(policy="ACCEPT", rules=()):
    return "".join(line + "\r\n" for line in ["POLICY " + policy, *rules])


def strip_stamp(line):
    """A main.log line (bytes or str, with or without its CR LF) reduced to its message."""
    if isinstance(line, bytes):
        line = line.decode("utf-8", "replace")
    line = line.rstrip("\r\n")
    match = STAMP.match(line)
    if not match:
        raise AssertionError("not a main.log line: %r" % line)
    message = line[match.end():]
    if not message.endswith(" "):
        raise AssertionError("main.log line without its trailing blank: %r" % line)
    return message[:-1]


class Reply:
    def __init__(self, raw):
        self.raw = raw
        self.lines = raw.decode("utf-8", "replace").split("\r\n")[:-1]
        self.code = int(self.lines[-1][:3])

    @property
    def line(self):
        return self.lines[-1]

    @property
    def text(self):
        return self.lines[-1][4:]

    def __repr__(self):
        return "Reply(%r)" % self.raw


class ControlClient:
    def __init__(self, port, host=LOOPBACK, timeout=5, read_greeting=True):
        self.timeout = timeout
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.buffer = b""
        self.greeting = self.read_reply() if read_greeting else None

    def send_line(self, text):
        self.send_raw(text.encode("utf-8") + b"\r\n")

    def send_raw(self, data):
        self.sock.sendall(data)

    def _read_line(self, deadline):
        while b"\r\n" not in self.buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("no complete line in time; have %r" % self.buffer)
            self.sock.settimeout(remaining)
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("connection closed; have %r" % self.buffer)
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line + b"\r\n"

    def read_reply(self):
        """One complete reply: "ddd text", a bare "ddd", or "ddd-..." up to the line "ddd ..."."""
        deadline = time.monotonic() + self.timeout
        first = self._read_line(deadline)
        raw = first
        if len(first) > 5 and first[3:4] == b"-":
            end = first[:3] + b" "
            while True:
                line = self._read_line(deadline)
                raw += line
                if line.startswith(end):
                    break
        return Reply(raw)

    def command(self, text):
        self.send_line(text)
        return self.read_reply()

    def read_available(self, wait=0.5):
        """Bytes already buffered plus whatever arrives within the wait."""
        data, self.buffer = self.buffer, b""
        deadline = time.monotonic() + wait
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return data
            readable, _, _ = select.select([self.sock], [], [], remaining)
            if not readable:
                return data
            chunk = self.sock.recv(65536)
            if not chunk:
                return data
            data += chunk

    def closed_by_peer(self, timeout=5):
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return False
            readable, _, _ = select.select([self.sock], [], [], remaining)
            if readable:
                try:
                    chunk = self.sock.recv(65536)
                except ConnectionResetError:
                    return True
                if not chunk:
                    return True
                self.buffer += chunk

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class CorvaneServer:
    def __init__(self, config=DEFAULT, users=(), rules=None, certificate=True, log_dir=True,
                 extra_env=None):
        self.program_dir = tempfile.mkdtemp(prefix="corvane-it-")
        self.binary = os.path.join(self.program_dir, "CorvaneServer")
        shutil.copy2(server_binary(), self.binary)
        self.ftp_port = free_port()
        self.management_port = free_port()
        while self.management_port == self.ftp_port:
            self.management_port = free_port()
        self.password = DEFAULT_PASSWORD
        self.extra_env = dict(extra_env or {})
        self.process = None
        self._stderr = None
        self._stdout = None
        if config is DEFAULT:
            config = gc_xml(self.ftp_port, self.management_port)
        if config is not None:
            self.write_file("gc.xml", config)
        self.write_file("users.xml", users_xml(users))
        if rules is not None:
            self.write_file("rules.txt", rules)
        if certificate:
            cert, key = certificate_pair()
            shutil.copyfile(cert, self.file("default.cer"))
            shutil.copyfile(key, self.file("default.key"))
        if log_dir:
            os.mkdir(self.file("logs"))

    def file(self, name):
        return os.path.join(self.program_dir, name)

    def write_file(self, name, text):
        with open(self.file(name), "w", encoding="utf-8", newline="") as out:
            out.write(text)

    def environment(self, env=None):
        result = {k: v for k, v in os.environ.items() if k not in SERVICE_MANAGER_VARIABLES}
        result.update(self.extra_env)
        result.update(env or {})
        return result

    def start(self, wait=True, timeout=10, args=()):
        if self.process is not None:
            raise RuntimeError("already started")
        self._stderr = open(self.file("stderr.txt"), "wb")
        self._stdout = open(self.file("stdout.txt"), "wb")
        self.process = subprocess.Popen(
            [self.binary, *args], cwd=self.program_dir, env=self.environment(),
            stdin=subprocess.DEVNULL, stdout=self._stdout, stderr=self._stderr)
        if wait:
            self.wait_until_accepting((self.ftp_port, self.management_port), timeout)
        return self

    def wait_until_accepting(self, ports, timeout=10):
        deadline = time.monotonic() + timeout
        waiting = list(ports)
        while waiting:
            if self.process.poll() is not None:
                raise RuntimeError("server exited with %s before accepting; stderr:\n%s"
                                   % (self.process.returncode, self.stderr_text()))
            if time.monotonic() > deadline:
                raise TimeoutError("ports %s not accepting; stderr:\n%s\nmain.log:\n%s"
                                   % (waiting, self.stderr_text(), self.main_log()))
            if port_listening(waiting[0]):
                waiting.pop(0)
            else:
                time.sleep(0.05)

    def running(self):
        return self.process is not None and self.process.poll() is None

    def signal(self, signum):
        self.process.send_signal(signum)

    def wait_exit(self, timeout=10):
        return self.process.wait(timeout=timeout)

    def stop(self, timeout=10):
        if self.process is None:
            raise RuntimeError("not started")
        if self.process.poll() is None:
            self.process.send_signal(signal_module.SIGTERM)
        return self.process.wait(timeout=timeout)

    def run(self, args, timeout=10, env=None):
        return subprocess.run([self.binary, *args], cwd=self.program_dir,
                              env=self.environment(env), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=timeout)

    def stderr_text(self):
        try:
            with open(self.file("stderr.txt"), "rb") as stream:
                return stream.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def event_lines(self):
        return self.stderr_text().splitlines()

    def main_log(self, log_dir=None):
        path = os.path.join(log_dir or self.file("logs"), "main.log")
        try:
            with open(path, "rb") as stream:
                return stream.read()
        except FileNotFoundError:
            return b""

    def main_log_messages(self, log_dir=None):
        raw = self.main_log(log_dir)
        if not raw:
            return []
        if not raw.endswith(b" \r\n"):
            raise AssertionError("main.log does not end with a whole line: %r" % raw[-80:])
        # A message may hold a line break of its own; records end with " \r\n".
        return [strip_stamp(record + b" ") for record in raw[:-3].split(b" \r\n")]

    def wait_for_log(self, message, timeout=10, log_dir=None):
        """Bounded wait until main.log holds a line whose message contains the text."""
        return self._wait_for(lambda: any(message in m for m in self.main_log_messages(log_dir)),
                              "main.log line %r" % message, timeout)

    def wait_for_event(self, text, timeout=10):
        """Bounded wait until standard error holds the line."""
        return self._wait_for(lambda: text in self.event_lines(), "event %r" % text, timeout)

    def _wait_for(self, condition, what, timeout):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                raise TimeoutError("no %s in time; stderr:\n%s\nmain.log:\n%r"
                                   % (what, self.stderr_text(), self.main_log()))
            time.sleep(0.05)

    def ftp_client(self, timeout=5):
        return ControlClient(self.ftp_port, timeout=timeout)

    def management_client(self, timeout=5):
        return ControlClient(self.management_port, timeout=timeout)

    def close(self):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal_module.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        for stream in (self._stderr, self._stdout):
            if stream is not None:
                stream.close()
        shutil.rmtree(self.program_dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
