"""The command line as a user meets it over ssh: no display anywhere."""

import os
import signal
import socket
import subprocess

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
