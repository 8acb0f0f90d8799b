"""VXI-11 against the raw socket from PyVISA, and the soak of the headless program with every kind
of remote client at once, on the simulated board. Both need a portmapper for
TCPIP::127.0.0.1::INSTR: run them through bench/in_namespace.sh, which gives them one of their own.

    bench/in_namespace.sh /usr/bin/python3 bench/vxi11_bench.py compare build/app/tq2604x-eval

prints "vxi11_us,raw_us,vxi11_block_ms,raw_block_ms,vxi11_client_us,raw_client_us,
vxi11_server_us,raw_server_us": the medians of SOUR1:VOLT x;*OPC? and of a 65,536-code list sent
as one block (PyVISA's write_binary_values) with *OPC? after it, over VXI-11 and over the raw
socket, measured in turns in the same run; then where a round's time goes: the processor time
PyVISA spends in this process and the program spends serving, per round (means), which tell the
client's share of a round from the server's.

    bench/in_namespace.sh /usr/bin/python3 bench/vxi11_bench.py soak build/app/tq2604x-eval \
        [SECONDS [WORST_MS]]

runs the program for SECONDS (600 by default) with a raw client, two VXI-11 links (one taking
and giving back the lock), the Python driver and a client that connects and leaves 10 times a
second; it checks that resident memory stays within 5 MB of its first minute (its first third in
a shorter run), that every setting the program accepted reads back, that every client was
answered in every 5-second stretch, and that none waited WORST_MS (50 by default) or more for an
answer while it was not locked out. It prints one line of figures and ends with status 1 naming
what failed.
"""

import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import pyvisa  # noqa: E402

from tq2604x_eval import TQ2604X, TQ2604XError  # noqa: E402

INSTR = "TCPIP::127.0.0.1::INSTR"
STRETCH_S = 5.0
MEMORY_KB = 5 * 1024


class Program:
    """The headless program on the simulated board, on a free port."""

    def __init__(self, binary, config):
        env = dict(os.environ, XDG_CONFIG_HOME=config)
        self.process = subprocess.Popen([binary, "--simulate", "--headless", "--scpi", "0"],
                                        stderr=subprocess.PIPE, text=True, env=env)
        self.port = None
        for line in self.process.stderr:
            found = re.match(r"listening on 127\.0\.0\.1:(\d+)$", line.strip())
            if found:
                self.port = int(found.group(1))
                break
        if self.port is None:
            self.stop()
            sys.exit("the program did not start listening")
        # What it says later (the portmapper's registration) is read so that it never blocks.
        threading.Thread(target=lambda: [None for _ in self.process.stderr], daemon=True).start()

    def resident_kib(self):
        with open("/proc/%d/status" % self.process.pid) as status:
            return int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)


def open_resource(manager, name):
    """Waits for the portmapper's registration, which follows the listening line."""
    deadline = time.monotonic() + 10
    while True:
        try:
            resource = manager.open_resource(name, read_termination="\n",
                                             write_termination="\n", timeout=5000)
            return resource
        except pyvisa.errors.VisaIOError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.1)


def processor_ns(pid):
    """The processor time of every thread of process `pid` so far, in nanoseconds."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as stat:
            total += int(stat.read().split()[0])
    return total


def compare(binary):
    with tempfile.TemporaryDirectory(prefix="tq2604x-eval-bench-") as config:
        program = Program(binary, config)
        try:
            manager = pyvisa.ResourceManager("@py")
            links = {"vxi11": open_resource(manager, INSTR),
                     "raw": open_resource(manager, "TCPIP::127.0.0.1::%d::SOCKET" % program.port)}
            rounds = {name: [] for name in links}
            blocks = {name: [] for name in links}
            codes = [(i * 7919) & 0xFFFF for i in range(65536)]
            for name, link in links.items():  # warm up
                for i in range(20):
                    link.query("SOUR1:VOLT %g;*OPC?" % (i * 0.25))
            # In turns, so that both meet the same load of the machine.
            client_ns = {name: 0 for name in links}
            server_ns = {name: 0 for name in links}
            for turn in range(20):
                for name, link in links.items():
                    client, server = time.process_time_ns(), processor_ns(program.process.pid)
                    for i in range(25):
                        start = time.perf_counter()
                        assert link.query("SOUR1:VOLT %g;*OPC?" % ((i % 8) * 0.5)) == "1"
                        rounds[name].append(time.perf_counter() - start)
                    client_ns[name] += time.process_time_ns() - client
                    server_ns[name] += processor_ns(program.process.pid) - server
                    start = time.perf_counter()
                    link.write_binary_values("SOUR1:LIST:DATA ", codes, datatype="H",
                                             is_big_endian=True)
                    assert link.query("*OPC?") == "1"
                    blocks[name].append(time.perf_counter() - start)
            for link in links.values():
                link.close()
            manager.close()
            count = len(rounds["raw"]) * 1e3  # nanoseconds to microseconds a round
            print("%.1f,%.1f,%.2f,%.2f,%.1f,%.1f,%.1f,%.1f" % (
                statistics.median(rounds["vxi11"]) * 1e6, statistics.median(rounds["raw"]) * 1e6,
                statistics.median(blocks["vxi11"]) * 1e3, statistics.median(blocks["raw"]) * 1e3,
                client_ns["vxi11"] / count, client_ns["raw"] / count,
                server_ns["vxi11"] / count, server_ns["raw"] / count))
        finally:
            program.stop()


class Client(threading.Thread):
    """One kind of client, looping until `stop` is set; what it found wrong goes to `faults`."""

    def __init__(self, name, stop):
        super().__init__(name=name, daemon=True)
        self.stop = stop
        self.worst_ms = 0.0
        self.answers = 0
        self.last_answer = time.monotonic()
        self.longest_silence = 0.0  # seconds without an answer
        self.checked = 0   # settings accepted and read back
        self.refused = 0   # settings refused while another held the lock
        self.faults = []

    def timed(self, ask, *args):
        start = time.perf_counter()
        answer = ask(*args)
        self.worst_ms = max(self.worst_ms, (time.perf_counter() - start) * 1e3)
        self.answers += 1
        now = time.monotonic()
        self.longest_silence = max(self.longest_silence, now - self.last_answer)
        self.last_answer = now
        return answer

    def check(self, what, read, wanted):
        if abs(float(read) - wanted) > 1e-3:
            self.faults.append("%s: set %g, read back %s" % (what, wanted, read))
        else:
            self.checked += 1

    def run(self):
        try:
            n = 0
            while not self.stop.is_set():
                self.turn(n)
                n += 1
        except Exception as e:  # noqa: BLE001 - a soak reports whatever ended a client
            self.faults.append("%s ended: %r" % (self.name, e))


class RawClient(Client):
    """DAC B over the raw socket: refused with -200 while a link holds the lock."""

    def __init__(self, port, stop):
        super().__init__("raw client", stop)
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.file = self.socket.makefile("r")

    def ask(self, line):
        self.socket.sendall((line + "\n").encode())
        return self.file.readline().strip()

    def turn(self, n):
        volts = (n % 16) * 0.5
        error = self.timed(self.ask, "SOUR2:VOLT %g;:SYST:ERR?" % volts)
        if error.startswith("-200,"):
            self.refused += 1
        elif not error.startswith("0,"):
            self.faults.append("raw client: %s" % error)
        else:
            self.check("DAC B", self.timed(self.ask, "SOUR2:VOLT?"), volts)
        time.sleep(0.02)


class LockingLink(Client):
    """DAC A over VXI-11, each setting under the lock: the others are locked out meanwhile."""

    def __init__(self, manager, stop):
        super().__init__("locking VXI-11 link", stop)
        self.link = open_resource(manager, INSTR)

    def turn(self, n):
        volts = (n % 16) * 0.25
        self.timed(self.link.lock_excl, 5000)
        try:
            self.timed(self.link.write, "SOUR1:VOLT %g" % volts)
            self.check("DAC A", self.timed(self.link.query, "SOUR1:VOLT?"), volts)
            time.sleep(0.05)
        finally:
            self.link.unlock()
        time.sleep(0.15)


class OtherLink(Client):
    """DAC C over another VXI-11 link: its calls are refused (error 11) while the lock is held,
    and a setting that was on its way when the lock came is refused with -200."""

    def __init__(self, manager, stop):
        super().__init__("other VXI-11 link", stop)
        self.link = open_resource(manager, INSTR)

    def turn(self, n):
        volts = -(n % 16) * 0.5
        try:
            error = self.timed(self.link.query, "SOUR3:VOLT %g;:SYST:ERR?" % volts)
            if error.startswith("-200,"):
                self.refused += 1
            elif not error.startswith("0,"):
                self.faults.append("other VXI-11 link: %s" % error)
            else:
                self.check("DAC C", self.timed(self.link.query, "SOUR3:VOLT?"), volts)
        except pyvisa.errors.VisaIOError:
            # Locked out between its write and its read: the answer it did not read is given up
            # with a device clear once the lock has gone, as a lab script would.
            self.refused += 1
            while not self.stop.is_set():
                try:
                    self.link.clear()
                    break
                except pyvisa.errors.VisaIOError:
                    time.sleep(0.02)
        time.sleep(0.02)


class DriverClient(Client):
    """DAC D through the Python driver over the raw socket: its error check raises while
    locked out."""

    def __init__(self, port, stop):
        super().__init__("Python driver", stop)
        self.dac = TQ2604X("TCPIP::127.0.0.1::%d::SOCKET" % port)

    def set(self, volts):
        self.dac.ch_d.voltage = volts

    def turn(self, n):
        volts = (n % 16) * 0.125
        try:
            self.timed(self.set, volts)
        except TQ2604XError:
            self.refused += 1
        else:
            self.check("DAC D", self.timed(lambda: self.dac.ch_d.voltage), volts)
        time.sleep(0.02)


class Visitor(Client):
    """Connects, asks *IDN?, and leaves, 10 times a second."""

    def __init__(self, port, stop):
        super().__init__("connecting client", stop)
        self.port = port

    def visit(self):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        s.sendall(b"*IDN?\n")
        return s, s.makefile("r").readline()

    def turn(self, n):
        s, answer = self.timed(self.visit)
        s.close()
        if answer.startswith("TQ2604X-EVAL,"):
            self.checked += 1
        else:
            self.faults.append("connecting client: %r" % answer)
        time.sleep(0.1)


def soak(binary, seconds, worst_ms):
    with tempfile.TemporaryDirectory(prefix="tq2604x-eval-soak-") as config:
        program = Program(binary, config)
        faults = []
        try:
            manager = pyvisa.ResourceManager("@py")
            stop = threading.Event()
            clients = [RawClient(program.port, stop), LockingLink(manager, stop),
                       OtherLink(manager, stop), DriverClient(program.port, stop),
                       Visitor(program.port, stop)]
            for client in clients:
                client.start()
            first = min(60.0, seconds / 3)
            started = time.monotonic()
            baseline = 0
            highest = 0
            while time.monotonic() - started < seconds and program.process.poll() is None:
                time.sleep(1)
                kib = program.resident_kib()
                if time.monotonic() - started <= first:
                    baseline = max(baseline, kib)
                else:
                    highest = max(highest, kib)
            stop.set()
            for client in clients:
                client.join(10)
            if program.process.poll() is not None:
                faults.append("the program ended with status %s" % program.process.returncode)
            # A sanitizer build's allocator pads every block and holds freed ones back for a while:
            # there the bound is left to the normal build, and said so, after every other check.
            grew = highest - baseline > MEMORY_KB
            if grew and os.environ.get("TQ_SANITIZED") != "1":
                faults.append("resident memory grew from %d KiB to %d KiB" % (baseline, highest))
            for client in clients:
                faults += client.faults
                if client.worst_ms >= worst_ms:
                    faults.append("%s waited %.1f ms for an answer" % (client.name,
                                                                      client.worst_ms))
                if client.longest_silence >= STRETCH_S:
                    faults.append("%s had no answer for %.1f s" % (client.name,
                                                                   client.longest_silence))
                if client.checked == 0:
                    faults.append("%s had no setting accepted" % client.name)
            print("seconds=%d rss_first_kib=%d rss_after_kib=%d %s" % (
                seconds, baseline, highest, " ".join(
                    "[%s: %d answers, %d read back, %d refused, worst %.1f ms]" % (
                        c.name, c.answers, c.checked, c.refused, c.worst_ms) for c in clients)))
            manager.close()
        finally:
            program.stop()
        for fault in faults[:20]:
            print("FAULT: " + fault)
        if not faults and grew and os.environ.get("TQ_SANITIZED") == "1":
            print("SKIPPED: resident memory grew by %d KiB; the bound is checked in the normal "
                  "build, not under the sanitizer's allocator" % (highest - baseline))
            return 77
        return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "compare":
        compare(sys.argv[2])
    elif len(sys.argv) >= 3 and sys.argv[1] == "soak":
        sys.exit(soak(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 600,
                      float(sys.argv[4]) if len(sys.argv) > 4 else 50.0))
    else:
        sys.exit(__doc__)
