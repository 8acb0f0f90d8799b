"""The meter runs over the protocol, end to end: the headless program on the simulated board
reads the simulated meter (--sim-meter) over a loopback socket, as it would a bench meter."""

import re
import socket
import time

import pytest

from conftest import close_driver, open_driver, start_server
from tq2604x_eval import TQ2604XRunError

INL_BOW = 1.5


def model_lsb(ordinal):
    """The simulated converter's non-linearity (adapter/simulated/SimulatedBoard.h)."""
    x = ordinal / 65535.0
    lsb = INL_BOW * 4 * x * (1 - x)
    lsb += -0.25 * (ordinal >= 0x4000) + 0.5 * (ordinal >= 0x8000) - 0.25 * (ordinal >= 0xC000)
    return lsb


class Link:
    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.file = self.socket.makefile("rb")

    def send(self, line):
        self.socket.sendall((line + "\n").encode())

    def ask(self, line):
        self.send(line)
        return self.file.readline().decode().strip()

    def ask_block(self, line):
        self.send(line)
        assert self.file.read(1) == b"#"
        digits = int(self.file.read(1))
        length = int(self.file.read(digits)) if digits else 0
        body = self.file.read(length).decode()
        assert self.file.readline() == b"\n"
        return body

    def wait_until(self, query, done, most=2400):
        """Polls with a bound; the bound is there to end a hung run, not to time one."""
        for _ in range(most):
            answer = self.ask(query)
            if done(answer):
                return answer
            time.sleep(0.025)
        raise AssertionError("%s never reached the state wanted: %s" % (query, answer))

    def close(self):
        self.file.close()
        self.socket.close()


def run_server(*extra):
    server = start_server("--sim-meter", "0", *extra)
    link = Link(server.port)
    link.send("MET:SETT 1;MET:COUN 1")
    return server, link


def open_meter(link):
    link.send("MET:OPEN")
    link.wait_until("MET:STAT?", lambda a: a == "OPEN")
    assert link.ask("MET:IDN?") == '"TQ-SIM,DVM,0,1.0"'


def test_calibration_of_all_four_channels_leaves_them_within_one_lsb():
    server, link = run_server()
    try:
        open_meter(link)
        link.send("MET:CAL ALL")
        assert link.wait_until("MET:PROG?", lambda a: not a.startswith("RUNNING")) == \
            "FINISHED,16,16"
        report = link.ask_block("MET:RES?")
        assert "every error is within 1 LSB" in report, report
        for line in report.splitlines()[:4]:
            for field in line.split("(")[1:]:
                assert abs(float(field.split(" LSB")[0])) <= 1.0, line
        assert link.ask("SYST:ERR?") == '0,"No error"'
    finally:
        link.close()
        assert server.stop() == 0


def test_linearity_recovers_the_simulated_inl_and_dnl(tmp_path):
    setup = tmp_path / "bench.txt"
    setup.write_text("nonlinear on\n")
    server, link = run_server("--sim-setup", str(setup))
    try:
        open_meter(link)
        link.send("MET:LIN 3,129")
        assert link.wait_until("MET:PROG?", lambda a: not a.startswith("RUNNING")) == \
            "FINISHED,129,129"
        rows = [r.split(",") for r in link.ask_block("MET:CSV?").splitlines()[1:]]
        codes = [int(r[0]) for r in rows]
        assert codes[0] == 0 and codes[-1] == 65535 and len(codes) == 129
        first, last = model_lsb(codes[0]), model_lsb(codes[-1])
        for row, code in zip(rows, codes):
            expected = model_lsb(code) - first - (last - first) * code / 65535
            assert abs(float(row[3]) - expected) <= 0.05, row
            # 512-code steps: no DNL, whose column stays empty.
            assert row[4] == "", row
        report = link.ask_block("MET:RES?")
        assert "reading noise: 0.00 uV" in report
        assert "step error over steps of 511 to 512 codes" in report, report
        assert "\nDNL:" not in report, report
    finally:
        link.close()
        assert server.stop() == 0


def test_noisy_readings_are_reported_and_a_closed_meter_refuses_a_run():
    server, link = run_server()
    try:
        link.send("MET:LIN 1,9")
        assert link.ask("SYST:ERR?").startswith('-221,"Settings conflict; the meter is not '
                                                'connected')
        link.send('MET:SET "SIM:NOIS 50,11";MET:COUN 4')
        open_meter(link)
        link.send("MET:LIN 1,17")
        link.wait_until("MET:PROG?", lambda a: not a.startswith("RUNNING"))
        report = link.ask_block("MET:RES?")
        noise = float(report.split("reading noise: ")[1].split(" uV")[0])
        assert 25 < noise < 80, report
    finally:
        link.close()
        assert server.stop() == 0


def test_the_driver_calibrates_and_tests_linearity():
    """The driver's meter runs: the report comes back whole (several lines, read by its length)
    and every answer after it is in step."""
    server = start_server("--sim-meter", "0")
    dac = open_driver(server)
    try:
        dac.meter.settle_ms = 1
        dac.meter.count = 1
        dac.meter.open()
        assert dac.meter.is_open and dac.meter.idn == "TQ-SIM,DVM,0,1.0"
        report = dac.meter.calibrate("ALL")
        assert report.count("\n") >= 5 and "every error is within 1 LSB" in report, report
        assert dac.id.startswith("TQ2604X-EVAL,") and dac.meter.progress == ("FINISHED", 16, 16)
        assert dac.meter.report == report
        dac.meter.linearity(2, 33, 1024, 64512)
        rows = dac.meter.csv()
        assert [r.code for r in rows] == list(range(1024, 64513, 1984))
        assert all(abs(r.reading_volts - r.set_volts) < 0.002 for r in rows)
        assert all(abs(r.inl_lsb) < 0.5 for r in rows), rows
        # Without a scanner the run waits at each channel for the probe to be moved.
        # Without a scanner the run asks for the probe to be moved between channels; here the
        # simulated meter is told where the probe is.
        dac.meter.select_command = ""
        dac.meter.setup_commands = ["ROUT:CLOS (@101)"]
        dac.meter.open()  # the settings apply from the next opening
        meter_port = int(re.search(r"simulated meter on 127\.0\.0\.1:(\d+)",
                                   server.early).group(1))
        requests = []

        def move_probe(request):
            requests.append(request)
            channel = "ABCD".index(request.split("DAC ")[1][0]) + 1
            with socket.create_connection(("127.0.0.1", meter_port), timeout=10) as probe:
                probe.sendall(b"ROUT:CLOS (@10%d)\n" % channel)
                probe.sendall(b"ROUT:CLOS?\n")
                assert probe.makefile().readline().strip() == "(@10%d)" % channel

        assert "every error is within 1 LSB" in dac.meter.calibrate("ALL", on_probe=move_probe)
        assert [r[:33] for r in requests] == ["move the meter's probe to DAC %s's" % c
                                              for c in "BCD"]
        dac.meter.open()  # back on DAC A
        with pytest.raises(RuntimeError, match="move the meter's probe to DAC B's output"):
            dac.meter.calibrate("ALL")
        dac.meter.stop()
        with pytest.raises(TQ2604XRunError) as stopped:
            dac.meter.wait_for_run()
        assert stopped.value.state == "STOPPED"
        assert dac.errors == []
    finally:
        close_driver(dac)
        assert server.stop() == 0
