"""Starts the program as a headless instrument on the simulated board, on a free port."""

import os
import re
import signal
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))

BINARY = os.environ.get("TQ_EVAL_BINARY", "")


class Server:
    def __init__(self, process, port):
        self.process = process
        self.port = port
        self.resource = "TCPIP::127.0.0.1::%d::SOCKET" % port

    def stop(self):
        """SIGTERM; returns the exit status (it must end cleanly, with 0)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None


def start_server(*extra):
    if not BINARY or not os.path.exists(BINARY):
        pytest.fail("TQ_EVAL_BINARY must name the built tq2604x-eval program")
    env = dict(os.environ)
    # Headless means no display at all.
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("QT_QPA_PLATFORM", None)
    process = subprocess.Popen(
        [BINARY, "--headless", "--simulate", "--scpi", "0", *extra],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        env=env, text=True)
    for _ in range(20):
        line = process.stderr.readline()
        match = re.match(r"listening on 127\.0\.0\.1:(\d+)$", line.strip())
        if match:
            return Server(process, int(match.group(1)))
        if not line and process.poll() is not None:
            break
    process.kill()
    pytest.fail("the server did not start: %r" % process.stderr.read())


@pytest.fixture
def server():
    s = start_server()
    yield s
    assert s.stop() == 0
