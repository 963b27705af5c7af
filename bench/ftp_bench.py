#!/usr/bin/env python3
"""Throughput of RETR and STOR over loopback, measured with curl.

Builds CorvaneServer in Release (into <source>/build-bench unless --no-build), stages a program
directory with one account whose home holds a file of --size-mib MiB of random bytes, starts
the real server on 127.0.0.1 and runs curl --runs times for each direction (passive mode, or
active with --active). Each run is checked for the full byte count; an upload is checked by
size and then deleted (with a sync, so every run starts alike). Prints the median and the best
run in MiB/s (curl's own average for the run, 1 MiB = 1,048,576 bytes).

With --compare the same runs go against vsftpd when it is installed (--install-vsftpd tries
apt-get first), serving the same directory anonymously. With --tls every transfer is
protected (explicit FTPS: curl --ssl-reqd, PROT P) and vsftpd is given the same certificate
and forced to TLS for logins and data.

The runs go in rounds: in each, the machine's limit for the direction is measured once
(machine_limits.py: sendfile of the payload to a discarding reader over loopback for RETR,
write(2) of the payload into a new file for STOR), then every server runs once, so all meet
the same states of a machine whose speed varies from minute to minute. With --tls the limit
is the rate one core encrypts AES-256-GCM in 16 KiB blocks (openssl speed), measured once.
Each median is printed as a share of the median limit and each best run as a share of the
best limit, with the CPU seconds per GiB of the server (when one process serves all
sessions) and of curl: on two cores, the one near its wall time per GiB bounds the rate.
Not a test: nothing here decides success beyond the byte counts.
"""

import argparse
import contextlib
import os
import shutil
import signal
import statistics
import subprocess
import tempfile
import time

from bench_build import add_build_options, server_binary  # also makes ftp_harness importable

import ftp_harness  # noqa: E402  (the integration tests' staging helpers)
import machine_limits  # noqa: E402

USER, PASSWORD = "bench", "bench-pw"
MIB = 1024 * 1024
CURL_TIME_LIMIT = 900  # seconds for one transfer


def make_payload(path, size_mib):
    with open(path, "wb") as out:
        for _ in range(size_mib):
            out.write(os.urandom(MIB))
        out.flush()
        os.fsync(out.fileno())  # so its write-back does not run during the first transfers


# Extra curl options of every run: ["--ssl-reqd", "-k"] with --tls.
CURL_OPTIONS = []


def curl(args):
    result = subprocess.run(["curl", "--silent", "--show-error", "--max-time",
                             str(CURL_TIME_LIMIT), *CURL_OPTIONS, *args],
                            check=True, capture_output=True, text=True,
                            timeout=CURL_TIME_LIMIT + 30)
    speed, size = result.stdout.split()
    return float(speed) / MIB, int(float(size))


def process_cpu_seconds(pid):
    """User and system CPU seconds a process has used so far (all its threads)."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Series:
    """One server's runs in one direction: curl's speeds, the server's CPU seconds per run
    (when its process is known) and curl's."""

    def __init__(self):
        self.speeds, self.cpu, self.client_cpu = [], [], []


def children_cpu_seconds():
    """User and system CPU seconds of the child processes that have ended (the curl runs)."""
    times = os.times()
    return times.children_user + times.children_system


class Target:
    """A server to measure: its name, its base URL, its process id when one process serves
    every session (its CPU time is then followed), and its runs by direction."""

    def __init__(self, name, base_url, pid=None):
        self.name, self.base_url, self.pid = name, base_url, pid
        self.series = {"RETR": Series(), "STOR": Series()}


def transfer(target, direction, data_dir, payload_size, active):
    """One curl run against the target, checked for the full byte count."""
    mode = ["--ftp-port", "-"] if active else []
    if direction == "RETR":
        arguments = [*mode, "-o", "/dev/null", "-w", "%{speed_download} %{size_download}",
                     target.base_url + "/big.bin"]
    else:
        arguments = [*mode, "-T", os.path.join(data_dir, "big.bin"),
                     "-w", "%{speed_upload} %{size_upload}", target.base_url + "/upload/up.bin"]
    runs_of = target.series[direction]
    cpu_before = process_cpu_seconds(target.pid) if target.pid else 0
    client_before = children_cpu_seconds()
    speed, size = curl(arguments)
    runs_of.client_cpu.append(children_cpu_seconds() - client_before)
    if target.pid:
        runs_of.cpu.append(process_cpu_seconds(target.pid) - cpu_before)
    if size != payload_size:
        raise RuntimeError("%s moved %d of %d bytes" % (direction, size, payload_size))
    if direction == "STOR":
        upload = os.path.join(data_dir, "upload", "up.bin")
        stored = os.path.getsize(upload)
        if stored != payload_size:
            raise RuntimeError("STOR stored %d of %d bytes" % (stored, payload_size))
        os.remove(upload)
        os.sync()  # every upload starts with the same clean page cache
    runs_of.speeds.append(speed)


def measure(targets, data_dir, payload_size, runs, active, limits):
    """RETR then STOR, runs rounds each. In every round the machine's limit for the direction
    is measured once (when limits has a function for it), then each target runs once: all of
    them meet the same states of a machine whose speed varies from minute to minute. Returns
    the limits measured, by direction."""
    measured = {"RETR": [], "STOR": []}
    for direction in ("RETR", "STOR"):
        for _ in range(runs):
            if limits and limits.get(direction):
                measured[direction].append(limits[direction]())
            for target in targets:
                transfer(target, direction, data_dir, payload_size, active)
    return measured


def report(target, direction, payload_size, limits):
    """The median and best run; against the limits, the median run as a share of the median
    limit and the best as a share of the best; the server's and curl's CPU time per GiB
    (medians), which on two cores tell which of them bounds the rate."""
    runs_of = target.series[direction]
    speeds = runs_of.speeds
    median = statistics.median(speeds)
    line = "%-8s %-4s median %8.1f MiB/s  best %8.1f MiB/s" % (target.name, direction, median,
                                                                max(speeds))
    if limits:
        line += "  %5.1f %% / %5.1f %% of the limit" % (100 * median / statistics.median(limits),
                                                         100 * max(speeds) / max(limits))
    per_gib = (1024 * MIB) / payload_size
    line += "  CPU s/GiB:"
    if runs_of.cpu:
        line += " server %.2f" % (statistics.median(runs_of.cpu) * per_gib)
    line += " curl %.2f" % (statistics.median(runs_of.client_cpu) * per_gib)
    print(line + "  runs: " + " ".join("%.1f" % s for s in speeds))


def limit_functions(data_dir, tls):
    """What each direction's limit is measured with in every round; none with --tls, where the
    limit is one core's cipher rate, measured once."""
    if tls:
        return None
    payload = os.path.join(data_dir, "big.bin")
    return {"RETR": lambda: machine_limits.sendfile_limit(payload),
            "STOR": lambda: machine_limits.write_limit(payload, os.path.join(data_dir, "upload"))}


def print_limits(measured, tls):
    """Prints the limits; returns them by direction (a list of values each)."""
    if tls:
        core = machine_limits.cipher_limit("aes-256-gcm")
        print("limit    one core encrypts AES-256-GCM (16 KiB blocks): %s"
              % ("%.1f MiB/s" % core if core else "unknown"))
        return {"RETR": [core] if core else [], "STOR": [core] if core else []}
    for direction, text in (("RETR", "sendfile to a discarding reader over loopback"),
                            ("STOR", "write(2) of the bytes into a new file         ")):
        values = measured[direction]
        print("limit    %s: %s  median %8.1f MiB/s  best %8.1f MiB/s  runs: %s"
              % (direction, text, statistics.median(values), max(values),
                 " ".join("%.1f" % value for value in values)))
    return measured


@contextlib.contextmanager
def corvane_server(binary, data_dir):
    os.environ["CORVANE_SERVER"] = binary
    user = ftp_harness.User(USER, PASSWORD, data_dir)
    with ftp_harness.CorvaneServer(users=[user]) as server:
        server.start()
        yield Target("Corvane", "ftp://%s:%s@127.0.0.1:%d" % (USER, PASSWORD, server.ftp_port),
                     server.process.pid)


def find_vsftpd(install):
    found = shutil.which("vsftpd") or ("/usr/sbin/vsftpd" if os.path.exists("/usr/sbin/vsftpd")
                                       else None)
    if found or not install:
        return found
    subprocess.run(["apt-get", "install", "-y", "vsftpd"], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)
    return shutil.which("vsftpd") or ("/usr/sbin/vsftpd" if os.path.exists("/usr/sbin/vsftpd")
                                      else None)


def vsftpd_tls_lines(work_dir):
    cert, key = ftp_harness.certificate_pair()
    return ["ssl_enable=YES", "rsa_cert_file=%s" % cert, "rsa_private_key_file=%s" % key,
            "allow_anon_ssl=YES", "force_anon_logins_ssl=YES", "force_anon_data_ssl=YES",
            "ssl_tlsv1=YES", "ssl_sslv2=NO", "ssl_sslv3=NO", "require_ssl_reuse=NO",
            "ssl_ciphers=HIGH"]


@contextlib.contextmanager
def vsftpd_server(vsftpd, work_dir, data_dir, tls=False):
    """vsftpd serving data_dir anonymously; it forks per session, so its CPU time is not
    followed."""
    empty = os.path.join(work_dir, "vsftpd-empty")
    os.mkdir(empty, 0o755)
    port = ftp_harness.free_port()
    config = os.path.join(work_dir, "vsftpd.conf")
    with open(config, "w") as out:
        out.write("\n".join([
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "listen_port=%d" % port,
            "background=NO", "anonymous_enable=YES", "no_anon_password=YES", "local_enable=NO",
            "anon_root=%s" % data_dir, "write_enable=YES", "anon_upload_enable=YES",
            "anon_other_write_enable=YES", "anon_umask=022", "seccomp_sandbox=NO",
            "secure_chroot_dir=%s" % empty, "xferlog_enable=NO", "connect_from_port_20=NO",
            "pasv_enable=YES", *(vsftpd_tls_lines(work_dir) if tls else []), ""]))
    process = subprocess.Popen([vsftpd, config], stdin=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while not ftp_harness.port_listening(port):
            if process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("vsftpd did not start")
            time.sleep(0.05)
        yield Target("vsftpd", "ftp://anonymous:@127.0.0.1:%d" % port)
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size-mib", type=int, default=1024)
    add_build_options(parser)
    parser.add_argument("--active", action="store_true", help="active mode (curl -P -)")
    parser.add_argument("--tls", action="store_true",
                        help="protected control and data connections (curl --ssl-reqd)")
    parser.add_argument("--compare", action="store_true", help="also measure vsftpd")
    parser.add_argument("--install-vsftpd", action="store_true",
                        help="with --compare: apt-get install vsftpd when it is missing")
    parser.add_argument("--work-dir", default=None,
                        help="where the payload is made (default: the system's temp directory)")
    args = parser.parse_args()

    if args.tls:
        CURL_OPTIONS.extend(["--ssl-reqd", "-k"])
    binary = server_binary(args)
    work_dir = tempfile.mkdtemp(prefix="corvane-bench-", dir=args.work_dir)
    try:
        os.chmod(work_dir, 0o755)
        data_dir = os.path.join(work_dir, "data")
        os.mkdir(data_dir, 0o755)
        upload_dir = os.path.join(data_dir, "upload")
        os.mkdir(upload_dir, 0o777)
        os.chmod(upload_dir, 0o777)
        make_payload(os.path.join(data_dir, "big.bin"), args.size_mib)
        payload_size = args.size_mib * MIB
        print("payload %d MiB, %d runs per direction, %s mode, %s, curl over 127.0.0.1"
              % (args.size_mib, args.runs, "active" if args.active else "passive",
                 "FTPS (PROT P)" if args.tls else "plain FTP"))
        with contextlib.ExitStack() as servers:
            targets = [servers.enter_context(corvane_server(binary, data_dir))]
            if args.compare:
                vsftpd = find_vsftpd(args.install_vsftpd)
                if vsftpd:
                    targets.append(servers.enter_context(
                        vsftpd_server(vsftpd, work_dir, data_dir, args.tls)))
                else:
                    print("vsftpd        not installed; no comparison")
            measured = measure(targets, data_dir, payload_size, args.runs, args.active,
                               limit_functions(data_dir, args.tls))
        limits = print_limits(measured, args.tls)
        for target in targets:
            for direction in ("RETR", "STOR"):
                report(target, direction, payload_size, limits[direction])
    finally:
        shutil.rmtree(work_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
