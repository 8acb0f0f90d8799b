"""The command line as a user meets it over ssh: no display anywhere."""

import fcntl
import os
import re
import select
import signal
import socket
import subprocess
import time

import pytest

from conftest import BINARY, start_server


def run(*args):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    return subprocess.run([BINARY, *args], env=env, capture_output=True, text=True, timeout=30)


@pytest.mark.parametrize("args, status, text", [
    (["--help"], 0, "--headless"),
    (["--version"], 0, "tq2604x-eval {version}"),
    (["--headless"], 2, "--headless serves the protocol or the web page: it needs --scpi PORT"),
    (["--headless", "--scpi", "70000"], 2, "--scpi takes a port number from 0 to 65535"),
    (["--scpi", "0", "--listen", "nowhere"], 2, "--listen takes an IP address"),
    (["--resolution", "12", "--headless", "--scpi", "0"], 2, "--resolution is 16 or 14"),
])
def test_options_without_a_display(args, status, text, version):
    result = run(*args)
    assert result.returncode == status
    assert text.format(version=version) in result.stdout + result.stderr


def test_listening_beyond_loopback_warns():
    # Not advertised: a test's server stays off the LAN (tests/discovery advertises one in a
    # network namespace of its own).
    process = subprocess.Popen([BINARY, "--headless", "--simulate", "--scpi", "0", "--listen",
                                "0.0.0.0", "--no-advertise"], stderr=subprocess.PIPE, text=True,
                               stdin=subprocess.DEVNULL)
    try:
        first = process.stderr.readline()
        assert "anyone who can reach" in first
        assert process.stderr.readline().startswith("listening on 0.0.0.0:")
    finally:
        process.send_signal(signal.SIGINT)
        assert process.wait(timeout=10) == 0


def test_fourteen_bit_device():
    server = start_server("--resolution", "14")
    try:
        with socket.create_connection(("127.0.0.1", server.port), timeout=5) as s:
            s.sendall(b"*IDN?;SYST:RES?\n")
            assert s.makefile().readline().startswith("TQ2604X-EVAL,TQ2404,SIMULATED,")
    finally:
        assert server.stop() == 0


DROPPED = rb"(?m)^(\d+) lines? of this log were dropped: standard error was not read$"


def test_a_full_standard_error_holds_nothing_up():
    """Standard error a pipe that nobody reads: clients are served on, the log lines that do not
    fit are dropped and counted, and the count is said once the pipe is read again."""
    server = start_server()
    try:
        err = server.process.stderr.fileno()
        fcntl.fcntl(err, fcntl.F_SETPIPE_SZ, 4096)  # the smallest pipe: full after some 40 lines
        clients = 60
        for _ in range(clients):
            with socket.create_connection(("127.0.0.1", server.port), timeout=5) as s:
                s.sendall(b"*OPC?\n")
                assert s.makefile().readline() == "1\n"
        said, deadline = b"", time.monotonic() + 20
        told = lambda: sum(map(int, re.findall(DROPPED, said))) + said.count(b"client at ")
        while told() < 2 * clients and time.monotonic() < deadline:
            if select.select([err], [], [], 0.5)[0]:
                said += os.read(err, 65536)
        assert re.findall(DROPPED, said) and told() == 2 * clients, said
        assert b"QIODevice" not in said and b"QSocket" not in said, said
    finally:
        assert server.stop() == 0
