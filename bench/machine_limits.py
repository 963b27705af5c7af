"""What this machine allows for the work a transfer does, measured the same way as the server:
the limits that the benchmarks print each figure against.

sendfile_limit(path)   MiB/s of sendfile(2) of the whole file over a loopback TCP connection to
                       a reader that discards it (the best a plain download can do)
write_limit(path, dir) MiB/s of writing the file's bytes, already in memory, into a new file
                       in dir with write(2) in 1 MiB pieces (the best an upload can do)
cipher_limit(cipher)   MiB/s that one core encrypts with the cipher in 16 KiB blocks, from
                       `openssl speed -evp` (the best a protected transfer can do)
"""

import os
import re
import socket
import subprocess
import threading
import time

MIB = 1024 * 1024
PIECE = MIB


def _discard(connection, done):
    buffer = bytearray(PIECE)
    view = memoryview(buffer)
    while connection.recv_into(view):
        pass
    done.set()


def sendfile_limit(path):
    """One run: sendfile of the whole file to a local reader, timed until the reader has it."""
    size = os.path.getsize(path)
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        sender = socket.create_connection(listener.getsockname())
        reader, _ = listener.accept()
    done = threading.Event()
    thread = threading.Thread(target=_discard, args=(reader, done), daemon=True)
    thread.start()
    with open(path, "rb") as source:
        started = time.perf_counter()
        offset = 0
        while offset < size:
            offset += os.sendfile(sender.fileno(), source.fileno(), offset, size - offset)
        sender.close()
        done.wait(600)
        elapsed = time.perf_counter() - started
    thread.join(10)
    reader.close()
    return size / MIB / elapsed


# The bytes of each payload write_limit has read, kept for its later runs: a fresh gigabyte of
# memory per run costs the first writes more here than the write itself (a virtual machine
# hands freed memory back to its host and takes it back slowly), and an upload's server has
# no such buffer to fill.
_payloads = {}


def write_limit(path, directory):
    """One run: the file's bytes written into a new file, timed through the close."""
    if path not in _payloads:
        with open(path, "rb") as source:
            _payloads[path] = source.read()
    data = _payloads[path]
    target = os.path.join(directory, "write-limit.bin")
    view = memoryview(data)
    started = time.perf_counter()
    fd = os.open(target, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    try:
        for offset in range(0, len(data), PIECE):
            os.write(fd, view[offset:offset + PIECE])
    finally:
        os.close(fd)
    elapsed = time.perf_counter() - started
    os.remove(target)
    subprocess.run(["sync"], check=False)
    return len(data) / MIB / elapsed


def cipher_limit(cipher="aes-256-gcm"):
    """One core's encryption rate with the cipher in 16 KiB blocks, in MiB/s (None when the
    openssl command cannot tell)."""
    result = subprocess.run(["openssl", "speed", "-evp", cipher, "-bytes", "16384",
                             "-seconds", "2"], capture_output=True, text=True, timeout=120)
    for line in result.stdout.splitlines():
        if line.lower().startswith(cipher.lower()):
            match = re.search(r"([\d.]+)k\s*$", line)
            if match:
                return float(match.group(1)) * 1000 / MIB
    return None
