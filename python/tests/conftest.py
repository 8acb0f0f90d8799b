"""Starts the program as a headless instrument on the simulated board, on a free port."""

import atexit
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))

BINARY = os.environ.get("TQ_EVAL_BINARY", "")
# The program's version, as the build sets it (CTest passes it on).
VERSION = os.environ.get("TQ_EVAL_VERSION", "")

# The program keeps settings between runs, the output protection's limits among them: the runs
# of these tests keep theirs apart from the user's, each server in a folder of its own.
CONFIG_ROOT = tempfile.mkdtemp(prefix="tq2604x-eval-tests-")
atexit.register(shutil.rmtree, CONFIG_ROOT, True)
os.environ["XDG_CONFIG_HOME"] = CONFIG_ROOT


class Server:
    def __init__(self, process, port, early=""):
        self.process = process
        self.port = port
        self.early = early  # what it printed on standard error before it was listening
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


def start_server(*extra, config=None):
    """`config`: the folder the program keeps its settings in (the output protection's limits
    among them); by default a fresh empty one, so that no run sees what another, or the user,
    kept."""
    if not BINARY or not os.path.exists(BINARY):
        pytest.fail("TQ_EVAL_BINARY must name the built tq2604x-eval program")
    env = dict(os.environ)
    if config is None:
        config = tempfile.mkdtemp(dir=CONFIG_ROOT)
    env["XDG_CONFIG_HOME"] = str(config)
    # Headless means no display at all.
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("QT_QPA_PLATFORM", None)
    process = subprocess.Popen(
        [BINARY, "--headless", "--simulate", "--scpi", "0", *extra],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        env=env, text=True)
    early = ""
    for _ in range(20):
        line = process.stderr.readline()
        match = re.match(r"listening on 127\.0\.0\.1:(\d+)$", line.strip())
        if match:
            return Server(process, int(match.group(1)), early)
        early += line
        if not line and process.poll() is not None:
            break
    process.kill()
    pytest.fail("the server did not start: %r" % process.stderr.read())


@pytest.fixture
def version():
    if not VERSION:
        pytest.fail("TQ_EVAL_VERSION must hold the program's version (CTest sets it)")
    return VERSION


@pytest.fixture
def server():
    s = start_server()
    yield s
    assert s.stop() == 0


def open_driver(server, **kwargs):
    """The pymeasure driver on a server; close it with close_driver."""
    from tq2604x_eval import TQ2604X
    return TQ2604X(server.resource, **kwargs)


def close_driver(dac):
    dac.adapter.connection.close()
    dac.adapter.manager.close()


@pytest.fixture
def dac(server):
    dac = open_driver(server)
    yield dac
    close_driver(dac)
