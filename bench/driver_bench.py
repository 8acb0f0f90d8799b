#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Times the Python driver against a raw socket on the headless simulated program.

    driver_bench.py PROGRAM [SETTINGS]

starts PROGRAM (tq2604x-eval) with --headless --simulate --scpi 0 in a settings folder of its
own and prints one line of milliseconds, each the median of 5 repetitions:

    driver_set,raw_set,two_writes_set,driver_get,raw_get

- driver_set: SETTINGS (default 1,000) ``dac.ch_a.voltage = v`` through the pymeasure driver;
- raw_set: the same lines (``SOUR1:VOLT v;:SYST:ERR?``) over a bare socket, each answer read;
- two_writes_set: the setting and ``SYST:ERR?`` as two writes on a bare socket, as the driver
  made them before, for 20 settings scaled to SETTINGS (each pays the server's delayed
  acknowledgement, some 40 ms);
- driver_get / raw_get: SETTINGS reads of ``dac.ch_a.voltage`` / ``SOUR1:VOLT?``.
"""

import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

from tq2604x_eval import TQ2604X  # noqa: E402

REPETITIONS = 5


def start(program, config):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["XDG_CONFIG_HOME"] = config
    process = subprocess.Popen([program, "--headless", "--simulate", "--scpi", "0"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True, env=env)
    for _ in range(20):
        match = re.match(r"listening on 127\.0\.0\.1:(\d+)$", process.stderr.readline().strip())
        if match:
            return process, int(match.group(1))
    process.kill()
    raise SystemExit("driver_bench: %s did not start listening" % program)


def volts(n):
    return (n % 200) / 20.0 - 5.0  # -5 V to +4.95 V in 50 mV steps


def timed(run):
    times = []
    for _ in range(REPETITIONS):
        started = time.perf_counter()
        run()
        times.append((time.perf_counter() - started) * 1000)
    return statistics.median(times)


class Raw:
    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.lines = self.socket.makefile("rb")

    def ask(self, line):
        self.socket.sendall(line.encode() + b"\n")
        return self.lines.readline()

    def two_writes(self, setting):
        self.socket.sendall(setting.encode() + b"\n")
        self.socket.sendall(b"SYST:ERR?\n")
        return self.lines.readline()


def main():
    program = sys.argv[1]
    settings = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    config = tempfile.mkdtemp(prefix="tq2604x-eval-bench-")
    process, port = start(program, config)
    try:
        dac = TQ2604X("TCPIP::127.0.0.1::%d::SOCKET" % port)
        raw = Raw(port)
        texts = ["%g" % volts(n) for n in range(settings)]

        def driver_set():
            for n in range(settings):
                dac.ch_a.voltage = volts(n)

        def raw_set():
            for text in texts:
                assert raw.ask("SOUR1:VOLT %s;:SYST:ERR?" % text) == b'0,"No error"\n'

        def two_writes_set():
            for text in texts[:20]:
                assert raw.two_writes("SOUR1:VOLT %s" % text) == b'0,"No error"\n'

        def driver_get():
            for _ in range(settings):
                dac.ch_a.voltage

        def raw_get():
            for _ in range(settings):
                float(raw.ask("SOUR1:VOLT?"))

        figures = [timed(driver_set), timed(raw_set), timed(two_writes_set) * settings / 20,
                   timed(driver_get), timed(raw_get)]
        print(",".join("%.1f" % f for f in figures))
        dac.adapter.connection.close()
        raw.socket.close()
    finally:
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=10)
        shutil.rmtree(config, ignore_errors=True)


if __name__ == "__main__":
    main()
