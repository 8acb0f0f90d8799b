"""The Tango device server against the headless program on the simulated board, through
DeviceTestContext (one device server per process; no Tango database)."""

import contextlib
import os
import re
import socket
import subprocess
import tempfile
import time

import pytest

tango = pytest.importorskip("tango", reason="PyTango (python3-tango) is not installed")
from tango.test_context import DeviceTestContext  # noqa: E402

from conftest import BINARY, CONFIG_ROOT, start_server  # noqa: E402
from tq2604x_eval_tango import TQ2604XEval  # noqa: E402
from tq2604x_eval_tango import board_state  # noqa: E402

ON, MOVING, FAULT = tango.DevState.ON, tango.DevState.MOVING, tango.DevState.FAULT
ALARM = tango.DevState.ALARM


@contextlib.contextmanager
def device(resource):
    with DeviceTestContext(TQ2604XEval, properties={"Resource": resource}, process=True,
                           timeout=15) as proxy:
        proxy.set_source(tango.DevSource.DEV)  # not the polling buffer: what the board says now
        yield proxy


class Client:
    """A plain protocol client beside the device: another lab script, or the bench."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.answers = self.socket.makefile("r", encoding="utf-8")

    def ask(self, line):
        self.socket.sendall(line.encode() + b"\n")
        return self.answers.readline().strip()

    def send(self, line):
        """A setting; the program's error for it, or '0,"No error"'."""
        return self.ask(line + ";:SYST:ERR?")

    def close(self):
        self.socket.close()


def wait_for_state(proxy, state, seconds=10):
    deadline = time.monotonic() + seconds
    while proxy.state() != state and time.monotonic() < deadline:
        time.sleep(0.05)
    return proxy.state()


@pytest.fixture(scope="module")
def bench():
    """One program and one device for the tests that leave the board as they found it."""
    server = start_server()
    client = Client(server.port)
    with device(server.resource) as proxy:
        yield server, client, proxy
    client.close()
    assert server.stop() == 0


@pytest.fixture
def board(bench):
    server, client, proxy = bench
    yield client, proxy
    for n in (1, 2, 3, 4):
        client.send("SOUR%d:VOLT:LIM:LOW NONE;:SOUR%d:VOLT:LIM:HIGH NONE;:SOUR%d:VOLT:RAMP:STEP "
                    "NONE" % (n, n, n))
    assert client.send("ABOR;*RST;*CLS;SOUR:COD BIN;:LIST:CLE;:LIST:COUN 1") == '0,"No error"'


@pytest.mark.parametrize("attribute, value, query, expected", [
    ("voltage_b", 5.0, "BENC:VOLT2?", 5.0),          # the bench's meter reads the output
    ("voltage_a", -2.5, "SOUR1:VOLT?", -2.5),
    ("code_c", 49152, "SOUR3:DATA?", 49152),
    ("range_d", 10.5263, "SOUR4:VOLT:RANG?", 10.5263),
    ("coding", 1, "SOUR:COD?", "TWOS"),
    ("list_dwell", 0.02, "LIST:DWEL?", 0.02),
    ("list_count", 0, "LIST:COUN?", "INF"),
])
def test_a_setting_reaches_the_board_and_reads_back(board, attribute, value, query, expected):
    client, proxy = board
    proxy.write_attribute(attribute, value)
    answer = client.ask(query)
    if isinstance(expected, str):
        assert answer == expected
    else:
        assert float(answer) == pytest.approx(expected, abs=2e-3)
    assert proxy.read_attribute(attribute).value == pytest.approx(value, abs=2e-3)
    assert proxy.state() == ON


def test_a_voltage_on_dac_b_is_its_code(board):
    client, proxy = board
    proxy.voltage_b = 5
    assert proxy.code_b == 49152
    assert proxy.range_b == 10
    assert float(client.ask("BENC:VOLT2?")) == pytest.approx(5, abs=2e-3)


def test_the_die_temperature_is_read_and_polled(board):
    client, proxy = board
    assert client.send("BENC:TEMP 40") == '0,"No error"'
    assert proxy.temperature == pytest.approx(40, abs=0.3)
    assert proxy.get_attribute_poll_period("temperature") == 1000
    assert proxy.get_attribute_config("temperature").unit == "°C"
    client.send("BENC:TEMP 25")


def described(proxy, attribute, text, seconds=5):
    """The attribute's description once a State read has shown ``text`` there."""
    deadline = time.monotonic() + seconds
    while proxy.get_attribute_config(attribute).description != text:
        if time.monotonic() > deadline:
            break
        proxy.state()
        time.sleep(0.05)
    return proxy.get_attribute_config(attribute).description


@pytest.mark.parametrize("attribute, sixteen_bits, fourteen_bits", [
    ("code_b", "DAC B's data register: 0-65535 (the TQ2604X, 16 bits)",
     "DAC B's data register: 0-16383 (the TQ2404, 14 bits)"),
    ("range_c", "DAC C's full scale: 10, 10.2564 or 10.5263 V",
     "DAC C's full scale: 10, 10.2564 or 10.5263 V"),
])
def test_the_attribute_texts_follow_the_device_another_client_chose(
        board, attribute, sixteen_bits, fourteen_bits):
    client, proxy = board
    assert described(proxy, attribute, sixteen_bits) == sixteen_bits
    assert client.send("SYST:RES 14") == '0,"No error"'
    try:
        assert described(proxy, attribute, fourteen_bits) == fourteen_bits
    finally:
        client.send("SYST:RES 16")
    assert described(proxy, attribute, sixteen_bits) == sixteen_bits


@pytest.mark.parametrize("attribute, value, desc", [
    ("voltage_b", 3, '-221,"Settings conflict; DAC B: 3 V is above its limit of 2 V"'),
    ("voltage_b", -1.5, '-221,"Settings conflict; DAC B: -1.5 V is below its limit of -1 V"'),
    ("voltage_a", 11, '-222,"Data out of range; 11 V is outside the channel\'s range, -10 V to '
                      '10 V"'),
    ("code_a", 70000, None),
    ("range_a", 11, None),
])
def test_a_refusal_is_a_tango_error_with_the_programs_text(board, attribute, value, desc):
    client, proxy = board
    assert client.send("SOUR2:VOLT:LIM:HIGH 2;:SOUR2:VOLT:LIM:LOW -1") == '0,"No error"'
    proxy.voltage_b = 1
    with pytest.raises(tango.DevFailed) as refused:
        proxy.write_attribute(attribute, value)
    error = refused.value.args[0]
    assert error.reason == "TQ2604X_REFUSED"
    assert re.match(r'-2\d\d,".+"$', error.desc), error.desc
    if desc is not None:
        assert error.desc == desc
    # Nothing was written; the error queue is not left holding it for the next caller.
    assert float(client.ask("BENC:VOLT2?")) == pytest.approx(1, abs=2e-3)
    assert float(client.ask("BENC:VOLT1?")) == pytest.approx(0, abs=2e-3)
    assert proxy.state() == ON
    proxy.voltage_b = 1.5


def test_the_output_limits_are_the_voltages_alarm_levels(board):
    client, proxy = board
    client.send("SOUR2:VOLT:LIM:HIGH 2;:SOUR2:VOLT:LIM:LOW -1")
    proxy.voltage_b  # the limits are taken with the value
    alarms = proxy.get_attribute_config("voltage_b").alarms
    assert (float(alarms.min_alarm), float(alarms.max_alarm)) == (-1, 2)
    client.send("SOUR2:VOLT:LIM:HIGH NONE")
    proxy.voltage_b
    alarms = proxy.get_attribute_config("voltage_b").alarms
    assert alarms.max_alarm == "Not specified" and float(alarms.min_alarm) == -1
    # Tango does not judge writes itself: the program does.
    assert proxy.get_attribute_config("voltage_b").max_value == "Not specified"


def test_moving_while_a_ramp_runs_then_on(board):
    client, proxy = board
    assert client.send("SOUR2:VOLT:RAMP:STEP 0.5;:SOUR2:VOLT:RAMP:WAIT 0.3") == '0,"No error"'
    started = time.monotonic()
    proxy.voltage_b = 5  # ten steps, three seconds: the write returns while it ramps
    assert time.monotonic() - started < 2.5
    assert proxy.state() == MOVING
    assert "ramp" in proxy.status()
    # Another client's write to the ramping channel is the program's refusal.
    with pytest.raises(tango.DevFailed) as refused:
        proxy.voltage_b = 0
    assert refused.value.args[0].desc.startswith('-221,"Settings conflict;')
    assert wait_for_state(proxy, ON) == ON
    assert float(client.ask("BENC:VOLT2?")) == pytest.approx(5, abs=2e-3)
    proxy.SafeState()
    assert wait_for_state(proxy, ON) == ON
    assert float(client.ask("BENC:VOLT2?")) == pytest.approx(0, abs=2e-3)


# A ramp of the device's cut short by another client: ALARM with the program's words until the
# device's next change completes.
def test_alarm_after_a_cut_ramp_then_on_after_the_next_change(board):
    client, proxy = board
    assert client.send("SOUR2:VOLT:RAMP:STEP 0.5;:SOUR2:VOLT:RAMP:WAIT 0.2") == '0,"No error"'
    proxy.voltage_b = 5
    assert proxy.state() == MOVING
    assert client.send("OUTP:SAFE") == '0,"No error"'
    assert wait_for_state(proxy, ALARM) == ALARM
    assert "DAC B ramp stopped at " in proxy.status()
    assert "another client's OUTPut:SAFE" in proxy.status()
    proxy.voltage_b = 0.25  # within one ramp step: it completes at once
    assert proxy.state() == ON
    assert "ramp stopped" not in proxy.status()


def test_a_list_run_is_moving_until_aborted(board):
    client, proxy = board
    proxy.list_a = [1, 2, 3]
    proxy.list_dwell = 0.05
    proxy.list_count = 0
    assert list(proxy.list_a) == [1, 2, 3]
    proxy.RunList()
    assert proxy.state() == MOVING
    assert "waveform run" in proxy.status()
    proxy.Abort()
    assert wait_for_state(proxy, ON, 2) == ON
    assert client.ask("LIST:STAT?").startswith("STOPPED,")


@pytest.mark.parametrize("command", ["SafeState", "Reset"])
def test_safe_state_and_reset_bring_every_output_to_zero(board, command):
    client, proxy = board
    proxy.voltage_b = 5
    proxy.voltage_d = -3
    proxy.command_inout(command)
    for n in (2, 4):
        assert float(client.ask("BENC:VOLT%d?" % n)) == pytest.approx(0, abs=2e-3)


# ---- FAULT: a board that does not answer, a program that does not -------------------------------

class HeadlessWithBenchLink:
    """The headless program; BENCh:LINK unplugs the simulated board."""

    def __init__(self):
        self.server = start_server()
        self.port, self.resource = self.server.port, self.server.resource
        self.client = Client(self.port)
        if self.client.send("BENC:LINK ON").startswith("-113,"):
            self.stop()
            pytest.skip("the program has no BENCh:LINK yet: the board is unplugged through the "
                        "console's sim commands in the other case")

    def plug(self, plugged):
        assert self.client.send("BENC:LINK %s" % ("ON" if plugged else "OFF")) == '0,"No error"'

    def stop(self):
        self.client.close()
        return self.server.stop()


class WindowsBesideServer:
    """The program with windows (offscreen) and the automation console beside the server; the
    console's sim commands unplug the simulated board."""

    def __init__(self):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                   XDG_CONFIG_HOME=tempfile.mkdtemp(dir=CONFIG_ROOT))
        self.process = subprocess.Popen(
            [BINARY, "--simulate", "--automation", "--scpi", "0"], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        self.port = None
        for _ in range(50):
            match = re.search(r"listening on 127\.0\.0\.1:(\d+)", self.process.stderr.readline())
            if match:
                self.port = int(match.group(1))
                break
        assert self.port, "the program did not start"
        self.resource = "TCPIP::127.0.0.1::%d::SOCKET" % self.port

    def plug(self, plugged):
        self.process.stdin.write("sim %s\n" % ("plug" if plugged else "unplug"))
        self.process.stdin.flush()
        while True:
            line = self.process.stdout.readline()
            assert line, "the program ended"
            if line.strip() == "ok":
                return
            assert not line.startswith("error"), line

    def stop(self):
        self.process.stdin.write("quit\n")
        self.process.stdin.flush()
        return self.process.wait(timeout=10)


@pytest.mark.parametrize("program_with", [HeadlessWithBenchLink, WindowsBesideServer],
                         ids=["BENCh:LINK", "console"])
def test_fault_while_the_board_is_unplugged_and_on_when_it_returns(program_with):
    program = program_with()
    try:
        with device(program.resource) as proxy:
            assert proxy.state() == ON
            proxy.voltage_b = 2
            program.plug(False)
            assert wait_for_state(proxy, FAULT, 5) == FAULT
            assert "does not answer" in proxy.status()
            with pytest.raises(tango.DevFailed) as failed:
                proxy.voltage_b
            assert failed.value.args[0].reason == "TQ2604X_HARDWARE"
            assert failed.value.args[0].desc.startswith('-240,"Hardware error;')
            program.plug(True)
            assert wait_for_state(proxy, ON, 5) == ON
            assert proxy.voltage_b == pytest.approx(2, abs=2e-3)
    finally:
        assert program.stop() == 0


def test_alarm_after_a_power_loss_until_the_next_setting():
    program = HeadlessWithBenchLink()
    try:
        with device(program.resource) as proxy:
            proxy.voltage_b = 2
            assert program.client.ask("SOUR2:GAIN 5;:BENC:POW:CYCL;*ESR?") == "136"
            assert wait_for_state(proxy, ALARM, 5) == ALARM
            assert ("the board lost power: outputs at 0 V, ranges and calibration restored"
                    in proxy.status())
            assert proxy.voltage_b == pytest.approx(0, abs=2e-3)
            proxy.voltage_b = 1  # the setting's own answer is not the power loss's -315
            assert wait_for_state(proxy, ON, 5) == ON
            assert program.client.ask("SOUR2:GAIN?;:BENC:VOLT2?").split(";")[0] == "5"
    finally:
        assert program.stop() == 0


def test_fault_while_the_program_does_not_answer_and_on_once_it_does():
    with socket.socket() as placeholder:
        placeholder.bind(("127.0.0.1", 0))
        port = placeholder.getsockname()[1]
    resource = "TCPIP::127.0.0.1::%d::SOCKET" % port
    with device(resource) as proxy:
        assert proxy.state() == FAULT
        assert resource in proxy.status()
        with pytest.raises(tango.DevFailed) as failed:
            proxy.voltage_a = 1
        assert failed.value.args[0].reason == "TQ2604X_UNREACHABLE"
        # The program starts on that port (the last --scpi given counts).
        server = start_server("--scpi", str(port))
        try:
            assert wait_for_state(proxy, ON, 10) == ON
            proxy.voltage_a = 1
            client = Client(server.port)
            assert float(client.ask("BENC:VOLT1?")) == pytest.approx(1, abs=2e-3)
            client.close()
        finally:
            assert server.stop() == 0


# ---- The state from the status registers, where the program keeps them ---------------------------

@pytest.mark.parametrize("answer, errors, state, words", [
    ("0;0;25", [], "ON", "steady"),
    ("256;0;25", [], "MOVING", "a ramp is running"),
    ("8;0;25", [], "MOVING", "the waveform run is running"),
    ("264;0;25", [], "MOVING", "a ramp is running and the waveform run"),
    ("0;512;9.91E+37", [], "FAULT", "LINK"),
    ("256;0;9.91E+37", [(-240, "Hardware error; board request failed (-1)")], "FAULT",
     '-240,"Hardware error'),
    ("0;1;25", [], "ON", "steady"),  # other questionable bits are no fault of the link
])
def test_the_state_from_the_status_registers(answer, errors, state, words):
    reading = board_state.from_status_registers(answer, errors)
    assert reading.state == state
    assert words in reading.status


@pytest.mark.parametrize("answer, errors, expected", [
    ("0;0;25;136", [(-315, "Configuration memory lost; the board lost power: outputs at 0 V")],
     '-315,"Configuration memory lost; the board lost power: outputs at 0 V"'),
    ("0;0;25;128", [], "The board lost power (*ESR? PON)"),
    ("0;0;25;8", [(-315, "Configuration memory lost")], None),  # no PON: an older error
    ("0;0;25", [], None),
    ("0;0;25;136;14", [(-315, "Configuration memory lost")], '-315,"Configuration memory lost"'),
])
def test_a_power_loss_is_the_programs_315_with_pon(answer, errors, expected):
    assert board_state.power_loss(answer, errors) == expected


@pytest.mark.parametrize("answer, expected", [("0", True), ("768", True),
                                               ("9.91E+37", False), ("", False)])
def test_the_status_registers_are_used_where_the_program_answers_them(answer, expected):
    assert board_state.has_status_registers(answer) is expected
