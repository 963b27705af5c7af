#!/usr/bin/env python3
"""Throughput of RETR and STOR over loopback, measured with curl.

Builds CorvaneServer in Release (into <source>/build-bench unless --no-build), stages a program
directory with one account whose home holds a file of --size-mib MiB of random bytes, starts
the real server on 127.0.0.1 and runs curl --runs times for each direction (passive mode, or
active with --active). Each run is checked for the full byte count; an upload is checked by
size and then deleted (with a sync, so every run starts alike). Prints the median and the best
run in MiB/s (curl's own average for the run, 1 MiB = 1,048,576 bytes).

With --compare the same runs go against vsftpd when it is installed (--install-vsftpd tries
apt-get first), serving the same directory anonymously. With --tls every transfer is protected
(explicit FTPS: curl --ssl-reqd, PROT P) and vsftpd is given the same certificate and forced
to TLS for logins and data. In the same run it measures the machine's limits
(machine_limits.py): sendfile of the payload to a discarding reader over loopback for RETR,
write(2) of the payload into a new file for STOR, each once before every Corvane run of its
direction (so both meet the same state of a machine whose speed varies from minute to
minute), and with --tls the rate one core encrypts AES-256-GCM in 16 KiB blocks (openssl
speed). Corvane's median is printed as a share of the median limit and its best run as a share
of the best limit, with the server's CPU seconds per GiB (curl runs on the other core).
Not a test: nothing here decides success beyond the byte counts.
"""

import argparse
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
    """One direction's runs: curl's speeds, the limit measured just before each run (when
    limits are measured), and the server's CPU seconds per run (when its process is known)."""

    def __init__(self):
        self.speeds, self.limits, self.cpu = [], [], []


def measure(base_url, data_dir, payload_size, runs, active, limits=None, server_pid=None):
    """RETR then STOR, runs times each. limits maps a direction to a function that measures
    the machine's limit once; it runs before every transfer of that direction, so the limit
    and the server meet the same state of the machine, which varies widely here."""
    mode = ["--ftp-port", "-"] if active else []
    series = {"RETR": Series(), "STOR": Series()}
    upload = os.path.join(data_dir, "upload", "up.bin")
    transfers = {
        "RETR": [*mode, "-o", "/dev/null", "-w", "%{speed_download} %{size_download}",
                 base_url + "/big.bin"],
        "STOR": [*mode, "-T", os.path.join(data_dir, "big.bin"),
                 "-w", "%{speed_upload} %{size_upload}", base_url + "/upload/up.bin"],
    }
    for direction, arguments in transfers.items():
        runs_of = series[direction]
        for _ in range(runs):
            if limits and limits.get(direction):
                runs_of.limits.append(limits[direction]())
            cpu_before = process_cpu_seconds(server_pid) if server_pid else 0
            speed, size = curl(arguments)
            if server_pid:
                runs_of.cpu.append(process_cpu_seconds(server_pid) - cpu_before)
            if size != payload_size:
                raise RuntimeError("%s moved %d of %d bytes" % (direction, size, payload_size))
            if direction == "STOR":
                stored = os.path.getsize(upload)
                if stored != payload_size:
                    raise RuntimeError("STOR stored %d of %d bytes" % (stored, payload_size))
                os.remove(upload)
                os.sync()  # every upload starts with the same clean page cache
            runs_of.speeds.append(speed)
    return series


def report(server, direction, runs_of, payload_size, limit=None):
    """The median and best run; against the limit, the median run as a share of the median
    limit and the best as a share of the best; the server's CPU time per GiB."""
    speeds = runs_of.speeds
    median = statistics.median(speeds)
    line = "%-8s %-4s median %8.1f MiB/s  best %8.1f MiB/s" % (server, direction, median,
                                                                max(speeds))
    limits = runs_of.limits or ([limit] if limit else [])
    if limits:
        line += "  %5.1f %% / %5.1f %% of the limit" % (100 * median / statistics.median(limits),
                                                         100 * max(speeds) / max(limits))
    if runs_of.cpu:
        per_gib = statistics.median(runs_of.cpu) * (1024 * MIB) / payload_size
        line += "  server CPU %.2f s/GiB" % per_gib
    print(line + "  runs: " + " ".join("%.1f" % s for s in speeds))


def limit_functions(data_dir, tls):
    """What each direction's limit is measured with; None for both with --tls, where the limit
    is one core's cipher rate, measured once."""
    if tls:
        return None
    payload = os.path.join(data_dir, "big.bin")
    return {"RETR": lambda: machine_limits.sendfile_limit(payload),
            "STOR": lambda: machine_limits.write_limit(payload, os.path.join(data_dir, "upload"))}


def print_limits(series, tls):
    if tls:
        core = machine_limits.cipher_limit("aes-256-gcm")
        print("limit    one core encrypts AES-256-GCM (16 KiB blocks): %s"
              % ("%.1f MiB/s" % core if core else "unknown"))
        return core
    for direction, text in (("RETR", "sendfile to a discarding reader over loopback"),
                            ("STOR", "write(2) of the bytes into a new file         ")):
        limits = series[direction].limits
        print("limit    %s: %s  median %8.1f MiB/s  best %8.1f MiB/s  runs: %s"
              % (direction, text, statistics.median(limits), max(limits),
                 " ".join("%.1f" % value for value in limits)))
    return None


def run_corvane(binary, data_dir, payload_size, runs, active, limits):
    os.environ["CORVANE_SERVER"] = binary
    user = ftp_harness.User(USER, PASSWORD, data_dir)
    with ftp_harness.CorvaneServer(users=[user]) as server:
        server.start()
        url = "ftp://%s:%s@127.0.0.1:%d" % (USER, PASSWORD, server.ftp_port)
        return measure(url, data_dir, payload_size, runs, active, limits, server.process.pid)


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


def run_vsftpd(vsftpd, work_dir, data_dir, payload_size, runs, active, tls=False):
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
        return measure("ftp://anonymous:@127.0.0.1:%d" % port, data_dir, payload_size, runs,
                       active)  # vsftpd forks per session: its CPU time is not followed
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
        series = run_corvane(binary, data_dir, payload_size, args.runs, args.active,
                             limit_functions(data_dir, args.tls))
        core = print_limits(series, args.tls)
        for direction in ("RETR", "STOR"):
            report("Corvane", direction, series[direction], payload_size, core)

        if args.compare:
            vsftpd = find_vsftpd(args.install_vsftpd)
            if not vsftpd:
                print("vsftpd        not installed; no comparison")
            else:
                theirs = run_vsftpd(vsftpd, work_dir, data_dir, payload_size, args.runs,
                                    args.active, args.tls)
                for direction in ("RETR", "STOR"):
                    limit = core or max(series[direction].limits)
                    report("vsftpd", direction, theirs[direction], payload_size, limit)
    finally:
        shutil.rmtree(work_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
