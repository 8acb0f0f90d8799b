"""A setting through the pymeasure driver, as a lab script makes it (dac.ch_a.voltage = v: the
command, then SYST:ERR? as a second write from pyvisa-py, which leaves Nagle's algorithm on),
against the headless program on the simulated board.

    /usr/bin/python3 bench/pymeasure_setting.py build/app/tq2604x-eval

prints "median_ms,worst_ms" of 300 settings.
"""

import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

from tq2604x_eval import TQ2604X  # noqa: E402


def main(binary):
    with tempfile.TemporaryDirectory(prefix="tq2604x-eval-bench-") as config:
        env = dict(os.environ, XDG_CONFIG_HOME=config)
        program = subprocess.Popen([binary, "--simulate", "--headless", "--scpi", "0"],
                                   stderr=subprocess.PIPE, text=True, env=env)
        try:
            port = None
            for line in program.stderr:
                found = re.search(r"listening on [0-9.]+:(\d+)", line)
                if found:
                    port = int(found.group(1))
                    break
            if port is None:
                sys.exit("the program did not start listening")
            dac = TQ2604X("TCPIP::127.0.0.1::%d::SOCKET" % port)
            for i in range(20):  # warm up
                dac.ch_a.voltage = i * 0.25
            times = []
            for i in range(300):
                start = time.perf_counter()
                dac.ch_a.voltage = (i % 8) * 0.5
                times.append(time.perf_counter() - start)
            dac.adapter.connection.close()
            print("%.3f,%.3f" % (statistics.median(times) * 1e3, max(times) * 1e3))
        finally:
            program.send_signal(signal.SIGTERM)
            program.wait(timeout=10)


if __name__ == "__main__":
    main(sys.argv[1])
