"""The pymeasure driver and the example script against the headless simulated board."""

import csv
import math
import os
import socket
import struct
import subprocess
import sys
import threading
import time
import warnings

import pytest
import pyvisa

from conftest import close_driver, open_driver, start_server
from tq2604x_eval import TQ2604XError, TQ2604XPowerLossWarning, TQ2604XRunError

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "examples", "sweep_channel.py")


def test_channels_voltage_range_and_code(dac):
    dac.ch_b.voltage = 5
    assert dac.ch_b.voltage == 5.0
    assert abs(dac.bench_voltage(2) - 5.0) < 0.002
    dac.ch_c.range = 10.5263
    assert dac.ch_c.range == pytest.approx(10.5263)
    dac.ch_c.code = 0
    assert dac.ch_c.voltage == pytest.approx(-10.5263, abs=1e-4)
    dac.ch_d.fine_gain = -5
    dac.ch_d.offset = 12
    assert (dac.ch_d.fine_gain, dac.ch_d.offset) == (-5, 12)


def test_identity_temperature_and_settings(dac):
    assert dac.id.startswith("TQ2604X-EVAL,TQ2604X,SIMULATED,")
    assert 20 < dac.temperature < 30
    assert 1.0 < dac.temperature_voltage < 2.0
    assert dac.resolution == 16
    assert dac.pulse_after_write is True
    dac.pulse_after_write = False
    assert dac.pulse_after_write is False
    # pymeasure 0.9 left these two as property objects.
    assert (dac.status, dac.status_byte, dac.complete, dac.self_test()) == (0, 0, True, True)
    assert dac.scpi_version == "1999.0"


def _get(dac, path):
    owner, _, name = path.rpartition(".")
    return getattr(eval("dac" + ("." + owner if owner else ""), {"dac": dac}), name)


def _set(dac, path, value):
    owner, _, name = path.rpartition(".")
    setattr(eval("dac" + ("." + owner if owner else ""), {"dac": dac}), name, value)


# Each family's settings as the board takes and answers them: (property, value, read back).
ROUND_TRIPS = [
    ("coding", "twos-complement", "twos-complement"),
    # A word of a fixed set: the instrument's own, short or long, in any case.
    ("coding", "BIN", "binary"),
    ("coding", "TwosComplement", "twos-complement"),
    ("trigger_source", "BUS", "bus"),
    ("trigger_source", "imm", "immediate"),
    ("trigger_source", " IMMEDIATE ", "immediate"),
    ("digital[2].direction", "OUTPUT", "output"),
    ("digital[2].direction", "in", "input"),
    ("pulse", False, False),
    ("pins.ldac", False, False),  # after the pulse is off
    ("pins.clr", False, False),
    ("pins.rstin", False, False),
    ("local_ground_offset", True, True),
    ("serial_output", False, False),
    ("digital[1].direction", "output", "output"),
    ("digital[1].level", True, True),
    ("digital[2].drive", True, True),
    ("ch_b.range", 10.2564, pytest.approx(10.2564)),
    ("ch_b.fine_gain", -32, -32),
    ("ch_b.offset", -128, -128),
    ("ch_b.code", 3.0, 3),  # an integral float is a code
    # Each channel in its own range: DAC B's is 10.2564 V here.
    ("voltages", 2.5, [pytest.approx(2.5, abs=2e-4)] * 4),
    ("voltages", {"A": -1, 4: 0.2, "b": 10.2},
     [pytest.approx(v, abs=2e-4) for v in (-1, 10.2, 2.5, 0.2)]),
    ("output_enabled", False, False),
    ("output_enabled", True, True),
    ("ch_d.limits", (-1.5, 0.25), (-1.5, 0.25)),
    ("ch_d.limits", (None, 2), (None, 2)),
    ("ch_d.ramp", (0.5, 0.01), (0.5, 0.01)),
    ("ch_d.ramp", (None, 0), (None, 0)),
    ("list_dwell", 0.25, 0.25),
    ("list_count", 7, 7),
    ("list_count", math.inf, math.inf),
    ("safe_on_exit", True, True),
    ("safe_on_disconnect", True, True),
    ("safe_on_board_back", True, True),
    ("bench_temperature", 40, 40),
    ("meter.address", "TCPIP::192.168.1.20::5025::SOCKET", "TCPIP::192.168.1.20::5025::SOCKET"),
    ("meter.read_command", 'READ? "µV"', 'READ? "µV"'),  # beyond ASCII, quotes doubled
    ("meter.setup_commands", ["CONF:VOLT:DC 10", "SENS:VOLT:NPLC 10"],
     ["CONF:VOLT:DC 10", "SENS:VOLT:NPLC 10"]),
    ("meter.setup_commands", [], []),
    ("meter.select_command", 'ROUT:CLOS (@10{ch},"x")', 'ROUT:CLOS (@10{ch},"x")'),
    ("meter.timeout_ms", 600000, 600000),
    ("meter.settle_ms", 0, 0),
    ("meter.count", 100, 100),
    ("resolution", 14, 14),
    ("ch_c.offset", -4, -4),  # on the 14-bit device
    ("ch_c.code", 16383, 16383),
]


def test_every_family_round_trips(dac):
    for path, value, expected in ROUND_TRIPS:
        _set(dac, path, value)
        assert _get(dac, path) == expected, path
    assert dac.errors == []
    # The pins as set above, seen from the board's side.
    assert dac.bench_digital(1) is True
    assert 39.9 < dac.temperature < 40.1


# Values the board would refuse: ValueError naming what is allowed, and nothing sent.
REFUSED = [
    ("ch_b.code", 1.7, "whole number from 0 to 65535, not 1.7"),
    ("ch_b.code", -1, "from 0 to 65535, not -1"),
    ("ch_b.code", 65536, "from 0 to 65535, not 65536"),
    ("ch_b.code", True, "whole number"),
    ("ch_b.voltage", 10.5, "DAC B: 10.5 V is outside the channel's range, -10 V to 10 V"),
    ("ch_b.voltage", -11, "-10 V to 10 V"),
    ("ch_b.voltage", math.nan, "finite number"),
    ("ch_b.voltage", "5", "number, not '5'"),
    ("ch_b.range", 11, "one of 10, 10.2564 or 10.5263"),
    ("ch_b.fine_gain", 32, "from -32 to 31, not 32"),
    ("ch_b.fine_gain", 1.5, "whole number from -32 to 31"),
    ("ch_b.offset", 128, "from -128 to 127, not 128"),
    ("ch_b.limits", (0.5, 2), "the low limit is from -10.5263 V to 0 V, not .5 V"),
    ("ch_b.limits", (-1, 11), "the high limit is from 0 V to 10.5263 V"),
    ("ch_b.ramp", (-1, 0), "positive number of volts"),
    ("ch_b.ramp", (1, 11), "the wait between ramp steps is from 0 s to 10 s"),
    ("ch_b.list_codes", [0, 1.5], "list code is a whole number"),
    ("ch_b.list_codes", [], "1 to 65,536 points, not 0"),
    ("ch_b.list_volts", [0, math.inf], "finite number"),
    ("all_channels.voltage", 10.2, "DAC A: 10.2 V is outside the channel's range"),
    ("all_channels.code", 0.5, "whole number"),
    ("coding", "gray", "one of 'binary', 'twos-complement'"),
    ("pins.clr", 2, "True or False"),
    ("digital[1].direction", "sideways", "one of 'output', 'input'"),
    ("trigger_source", "IMMED", "one of 'immediate', 'bus' (or the instrument's IMMediate, BUS"),
    ("coding", 1, "the coding is one of 'binary', 'twos-complement'"),
    ("output_enabled", "ON", "True or False"),
    ("voltages", {"B": 10.5}, "DAC B: 10.5 V is outside the channel's range, -10 V to 10 V"),
    ("voltages", {"E": 1}, "the channels are 1 to 4 or A to D"),
    ("voltages", math.nan, "DAC A's voltage is a finite number"),
    ("list_count", 0, "from 1 to 1000000000"),
    ("list_dwell", 3601, "from 0 s to 3600 s"),
    ("resolution", 12, "16 (TQ2604X) or 14 (TQ2404)"),
    ("meter.count", 0, "from 1 to 100"),
    ("meter.address", "TCPIP::a\n::5025::SOCKET", "line break"),
    ("meter.setup_commands", ["A;B"], "each set-up command on its own"),
]

# The same checks once the 14-bit device is chosen: its bounds, from the program's description.
REFUSED_ON_FOURTEEN_BITS = [
    ("ch_b.code", 16384, "DAC B's code on the 14-bit device is from 0 to 16383, not 16384"),
    ("ch_b.code", 1.5, "on the 14-bit device is a whole number from 0 to 16383, not 1.5"),
    ("ch_b.offset", -5, "DAC B's offset on the 14-bit device is from -4 to 3, not -5"),
    ("ch_b.list_codes", [0, 16384], "list code on the 14-bit device is from 0 to 16383"),
    ("all_channels.code", 20000, "the code on the 14-bit device is from 0 to 16383, not 20000"),
    ("all_channels.offset", 4, "the offset on the 14-bit device is from -4 to 3, not 4"),
    ("ch_b.fine_gain", -33, "the fine gain is from -32 to 31, not -33"),  # as on 16 bits
    ("ch_b.voltage", 10.5, "DAC B: 10.5 V is outside the channel's range, -10 V to 10 V"),
]


FOURTEEN_BITS = [("resolution", 14)]
# The driver's own change of a range: the bounds it kept for the wider one are not used again.
NARROWED = [("ch_b.range", 10.5263), ("ch_b.voltage", 10.4), ("ch_b.voltage", 0),
            ("ch_b.range", 10)]


@pytest.mark.parametrize("before, path, value, message",
                         [([],) + row for row in REFUSED]
                         + [(FOURTEEN_BITS,) + row for row in REFUSED_ON_FOURTEEN_BITS]
                         + [(NARROWED, "ch_b.voltage", 10.4, "-10 V to 10 V"),
                            (NARROWED, "all_channels.range", 10.3, "one of 10, 10.2564 or")])
def test_values_the_board_refuses_are_refused_before_sending(dac, before, path, value, message):
    for setting, earlier in before:
        _set(dac, setting, earlier)
    sent = []
    write = dac.adapter.write
    dac.adapter.write = lambda line: (sent.append(line), write(line))
    with pytest.raises(ValueError) as refused:
        _set(dac, path, value)
    assert message in str(refused.value)
    # Range checks may read the program's description of the bounds; nothing else goes out.
    assert all(line.endswith("?") for line in sent), sent
    assert dac.ch_b.code == (8192 if before == FOURTEEN_BITS else 32768)  # 0 V


def test_refusals_follow_what_the_board_says_now(dac, server):
    """The range and resolution the driver remembers are read again before it refuses: another
    client's change counts."""
    dac.resolution = 14
    with pytest.raises(ValueError, match="on the 14-bit device is from 0 to 16383, not 16384"):
        dac.ch_a.code = 16384
    with pytest.raises(ValueError, match="on the 14-bit device is from -4 to 3, not 4"):
        dac.ch_a.offset = 4
    with pytest.raises(ValueError, match="-10 V to 10 V"):
        dac.ch_a.voltage = 10.4
    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as other:
        other.sendall(b"SYST:RES 16;SOUR1:VOLT:RANG 10.5263;*OPC?\n")
        assert other.makefile().readline().strip() == "1"
    dac.ch_a.voltage = 10.4
    assert abs(dac.bench_voltage(1) - 10.4) < 0.005
    dac.ch_a.code = 65535
    dac.ch_a.offset = 100
    assert (dac.ch_a.code, dac.ch_a.offset) == (65535, 100)


def test_a_setting_is_one_line_with_its_error_check(dac):
    assert dac.resolution == 16  # known: a code above 16383 needs no question
    sent = []
    write = dac.adapter.write
    dac.adapter.write = lambda line: (sent.append(line), write(line))
    dac.ch_a.voltage = 2.5
    dac.ch_b.code = 49152
    dac.pins.clr = True
    dac.ch_c.limits = (-1, 1)
    assert sent == ["SOUR1:VOLT 2.5;:SYST:ERR?", "SOUR2:DATA 49152;:SYST:ERR?",
                    "PIN:CLR 1;:SYST:ERR?",
                    "SOUR3:VOLT:LIM:LOW -1;:SOUR3:VOLT:LIM:HIGH 1;:SYST:ERR?"]


def test_errors_return_every_queued_error(dac):
    for command in ("SOUR1:VOLT 11", "NOPE", "SOUR7:VOLT 1"):
        dac.write(command)
    assert dac.status_byte == 4
    codes = [code for code, _ in dac.errors]
    assert codes == [-222, -113, -114]
    assert (dac.errors, dac.status_byte) == ([], 0)
    dac.write("NOPE")
    dac.clear()
    assert dac.errors == []
    # A refused setting carries every error queued with it.
    dac.write("NOPE")
    with pytest.raises(TQ2604XError) as refused:
        dac.pins.ldac = False  # held high while the pulse is on
    assert [e[0] for e in refused.value.errors] == [-113, -221]
    assert "SOURce:PULSe is ON" in refused.value.errors[1][1]


def test_a_failed_query_raises_with_its_error(dac):
    with pytest.raises(TQ2604XError) as failed:
        dac.ask_checked("SOUR1:NOPE?")
    assert failed.value.code == -113
    assert dac.id.startswith("TQ2604X-EVAL,")


def test_channels_by_number_and_letter(dac):
    assert dac.channel(1) is dac.ch_a and dac.channel("d") is dac.ch_d
    assert [dac.channel(n).name for n in range(1, 5)] == ["DAC A", "DAC B", "DAC C", "DAC D"]
    for wrong in (0, 5, "E", True):
        with pytest.raises(ValueError, match="1 to 4 or A to D"):
            dac.channel(wrong)
    with pytest.warns(DeprecationWarning, match="counts from 0"):
        legacy = dac.channels
    assert legacy[0] is dac.ch_a and len(legacy) == 4
    with pytest.raises(IndexError, match="1 \\(D0\\) and 2 \\(D1\\)"):
        dac.digital[0]
    assert [line.name for line in dac.digital] == ["D0", "D1"]


def test_all_channels_registers_and_outputs(dac):
    dac.all_channels.range = 10.5263
    dac.all_channels.voltage = -3
    assert all(abs(dac.bench_voltage(n) + 3) < 0.002 for n in (1, 2, 3, 4))
    dac.all_channels.fine_gain = 4
    dac.all_channels.offset = -8
    assert {(dac.channel(n).fine_gain, dac.channel(n).offset) for n in (1, 2, 3, 4)} == {(4, -8)}
    with pytest.raises(LookupError):
        dac.all_channels.voltage
    dac.pulse = False
    dac.all_channels.code = 65535
    assert dac.bench_voltage(2) == pytest.approx(-3, abs=0.01)  # not loaded yet
    dac.load_outputs()
    assert dac.bench_voltage(2) > 10
    dac.clear_outputs()
    assert abs(dac.bench_voltage(2)) < 0.002
    dac.write_register(1, 2, 4660)
    assert dac.read_register(1, 2) == 4660 == dac.ch_b.code
    with pytest.raises(ValueError, match="the register is from 0 to 7, not 8"):
        dac.read_register(1, 8)


def test_multi_line_answers_leave_nothing_in_the_stream(dac):
    dac.write_checked("SYST:SET #233{\"format\":1,\"pins\":{\"clr\":false}}")
    setup = dac.setup_text()
    assert setup.startswith('{"format":1,') and setup.endswith("}")
    assert '"clr":false' in setup and '"fineGain"' in dac.setup_text(calibration_only=True)
    # The meter's report of a refused run and the empty linearity table: each block in one
    # read, and the next answers in step.
    assert dac.meter.report == "" and dac.meter.csv() == []
    assert dac.id.startswith("TQ2604X-EVAL,")
    assert dac.ch_a.code == 32768


def test_an_answer_that_comes_late_is_read_before_the_next(dac):
    """A ramp longer than the connection's timeout, set where the driver does not see it: the
    setting's answer comes after the timeout, and must not be read as the answer to a later
    query."""
    dac.write("SOUR2:VOLT:RAMP:STEP 1;:SOUR2:VOLT:RAMP:WAIT 0.15")
    dac.adapter.connection.timeout = 150
    with pytest.raises(pyvisa.errors.VisaIOError):
        dac.ch_b.voltage = 4  # four steps, 0.45 s of waits
    dac.adapter.connection.timeout = 5000
    assert dac.ch_b.code == 45875
    assert dac.id.startswith("TQ2604X-EVAL,")
    assert dac.complete is True


def test_lists_and_a_run_waited_for(dac):
    dac.ch_a.list_volts = [1, 2.5, -0.125]
    dac.ch_c.list_codes = [0, 65535]
    assert (dac.ch_a.list_volts, dac.ch_c.list_codes) == ([1, 2.5, -0.125], [0, 65535])
    assert (dac.ch_a.list_codes, dac.ch_b.list_volts) == ([], [])
    dac.list_dwell = 0.005
    dac.list_count = 2
    dac.run_list()
    state = dac.wait(timeout=30)
    assert (state.state, state.done, state.total) == ("FINISHED", 6, 6)
    # The last step: DAC A's third point, DAC C's list repeated within the longest.
    assert abs(dac.bench_voltage(1) + 0.125) < 0.002
    assert abs(dac.bench_voltage(3) + 10) < 0.005
    # A run until aborted has no end to wait for.
    dac.list_count = math.inf
    dac.run_list()
    with pytest.raises(RuntimeError, match="until dac.abort"):
        dac.wait(timeout=30)
    dac.abort()
    assert dac.list_state.state == "STOPPED"
    # A point beyond its channel's range refuses the whole run.
    dac.ch_a.list_volts = [0, 12]
    with pytest.raises(TQ2604XError) as refused:
        dac.run_list()
    assert refused.value.code == -222 and "12" in refused.value.message
    dac.clear_lists()
    assert dac.ch_a.list_volts == [] and dac.ch_c.list_codes == []


def test_a_run_that_fails_raises_from_wait(dac):
    dac.ch_b.list_volts = [0, 0.25, 3]
    dac.ch_b.limits = (-1, 1)
    with pytest.raises(TQ2604XError) as refused:  # a point beyond a limit: refused at once
        dac.run_list()
    assert refused.value.code == -221 and "DAC B" in refused.value.message
    dac.ch_b.limits = (None, None)
    dac.ch_b.ramp = (0.5, 0)
    dac.list_dwell = 0.001
    dac.run_list()  # the jump to 3 V ends the run
    with pytest.raises(TQ2604XRunError) as failed:
        dac.wait(timeout=30)
    assert failed.value.state == "FAILED" and "DAC B" in failed.value.reason
    # Said once: the next wait is for what comes next.
    assert dac.wait(timeout=30).state == "FAILED"
    assert abs(dac.bench_voltage(2) - 0.25) < 0.002


def _after(seconds, server, line):
    """Another client sends ``line`` after ``seconds``, in the background; join() when done."""
    def send():
        with socket.create_connection(("127.0.0.1", server.port), timeout=30) as other:
            other.sendall(line.encode() + b";*OPC?\n")
            other.makefile().readline()
    timer = threading.Timer(seconds, send)
    timer.start()
    return timer


# Whoever cuts a ramp short, the connection that started it hears why from its setting:
# TQ2604XError in the program's words (a run's: TQ2604XRunError from wait(), above). A power
# loss is warned of besides; a cable glitch is not one.
@pytest.mark.parametrize("cut, words, losses", [
    ("OUTP:SAFE", "another client's OUTPut:SAFE", 0),
    ("*RST", "another client's *RST", 0),
    ("BENC:LINK OFF", "board request failed (-1)", 0),
    ("BENC:POW:CYCL", "the board lost power and every output was brought to 0 V", 1),
])
def test_a_ramp_cut_short_raises_from_its_setting(dac, server, cut, words, losses):
    dac.ch_a.ramp = (0.5, 0.1)
    other = _after(0.35, server, cut)
    with warnings.catch_warnings(record=True) as told, pytest.raises(TQ2604XError) as cut_short:
        warnings.simplefilter("always")
        dac.ch_a.voltage = 9
    other.join()
    assert len([w for w in told if w.category is TQ2604XPowerLossWarning]) == losses
    dac.write("BENC:LINK ON")
    message = cut_short.value.message
    assert cut_short.value.code == -200, cut_short.value.errors
    assert message.startswith("Execution error; DAC A ramp stopped at ") and words in message
    assert " V of 9 V: " + words in message and dac.errors == []


def test_a_ramp_longer_than_the_timeout_is_waited_for(dac):
    dac.adapter.connection.timeout = 2000
    dac.ch_a.ramp = (0.5, 0.4)  # 15 steps to 7.5 V: 5.6 s of waits
    started = time.monotonic()
    dac.ch_a.voltage = 7.5
    assert time.monotonic() - started > 5
    assert abs(dac.bench_voltage(1) - 7.5) < 0.002 and dac.errors == []


def test_the_longest_lists(dac):
    """65,536 codes go as one binary block and come back as one; volts go as text while short,
    as one block of doubles once the text would be longer, and are kept exactly as sent."""
    codes = [(n * 7919) & 0xFFFF for n in range(65536)]
    dac.ch_d.list_codes = codes
    assert dac.ch_d.list_codes == codes
    assert dac.ask("FORM?;FORM:BORD?") == "ASC,0;NORM"  # the connection's format as before
    dac.resolution = 14
    with pytest.raises(ValueError, match="14-bit device"):
        dac.ch_d.list_codes = [0, 16384]
    dac.resolution = 16
    volts = [0.5, -0.25, 1e-3, 10.0]
    dac.ch_a.list_volts = volts
    assert dac.ch_a.list_volts == volts
    volts = [-1.2345678901234567 + n * 1e-12 for n in range(65536)]
    dac.ch_a.list_volts = volts  # 1.3 MB as text: beyond a line
    back = dac.ch_a.list_volts
    assert len(back) == 65536 and all(abs(b - v) < 1e-6 for b, v in zip(back, volts))
    kept = dac.read_block("FORM REAL,64;:SOUR1:LIST:VOLT?;:FORM ASC")
    assert list(struct.unpack(">65536d", kept)) == volts
    assert dac.ask("FORM?;FORM:BORD?") == "ASC,0;NORM"
    with pytest.raises(TQ2604XError, match="65536 points"):
        dac.write_reals("SOUR1:LIST:VOLT ", volts + [0.0])
    assert dac.ch_a.list_volts == back and dac.errors == []


def test_a_refused_setting_raises_with_the_boards_error(dac):
    with pytest.raises(TQ2604XError) as refused:
        dac.write_checked("SOUR1:VOLT 12")
    assert refused.value.code == -222
    assert refused.value.message.endswith("12 V is outside the channel's range, -10 V to 10 V")
    assert dac.check_errors() == []
    assert dac.ch_a.code == 32768


def test_limits_refuse_and_ramps_step_the_output(dac):
    """DAC B limited to -2 V..+2 V: nothing a script does puts it outside the window."""
    dac.ch_b.limits = (-2, 2)
    assert dac.ch_b.limits == (-2.0, 2.0)
    refusals = [
        lambda: setattr(dac.ch_b, "voltage", 3),
        lambda: setattr(dac.ch_b, "code", 65535),
        lambda: dac.write_checked("SOUR:ALL:VOLT -2.5"),
        lambda: dac.write_checked("SOUR:COD TWOS"),
        lambda: dac.write_checked("REG:WRIT 1,2,0"),
        lambda: dac.write_checked("SYST:SET " + _block('{"format":1,"channels":{"B":{"data":65000}}}')),
    ]
    for refused in refusals:
        with pytest.raises(TQ2604XError) as error:
            refused()
        assert error.value.code == -221, error.value.errors
        assert "DAC B: " in error.value.errors[0][1]
        assert abs(dac.bench_voltage(2)) < 0.001
    dac.ch_b.voltage = 1.99
    assert abs(dac.bench_voltage(2) - 1.99) < 0.002
    dac.ch_b.ramp = (0.5, 0.02)
    assert dac.ch_b.ramp == (0.5, 0.02)
    dac.ch_b.voltage = -1.99
    # The command completes with its ramp: *OPC? answers once the output is there.
    assert dac.ask("*OPC?").strip() == "1"
    assert abs(dac.bench_voltage(2) + 1.99) < 0.002
    dac.safe_state()
    assert all(abs(dac.bench_voltage(n)) < 0.001 for n in (1, 2, 3, 4))
    dac.ch_b.ramp = (None, 0)
    dac.ch_b.limits = (None, None)
    assert dac.ch_b.limits == (None, None)


def _block(text):
    length = str(len(text))
    return "#%d%s%s" % (len(length), length, text)


def test_reset_sends_every_output_to_zero_in_the_start_state(dac):
    dac.coding = "twos-complement"
    dac.ch_a.voltage = 3
    dac.ch_c.range = 10.5263
    dac.ch_c.fine_gain = 5
    dac.trigger_source = "bus"
    dac.reset()
    assert abs(dac.bench_voltage(1)) < 0.001
    assert (dac.coding, dac.ch_c.range, dac.ch_c.fine_gain, dac.trigger_source) == \
        ("binary", 10, 5, "immediate")


def test_status_follows_errors_refusals_and_runs(dac):
    dac.write("NOPE")
    assert dac.event_status == 32 and dac.event_status == 0
    assert dac.status_byte == 4
    assert dac.errors == [(-113, "Undefined header")]
    dac.ch_b.limits = (None, 2)
    with pytest.raises(TQ2604XError):
        dac.ch_b.voltage = 3
    assert dac.ask("STAT:QUES?").strip() == "1024"
    dac.ch_a.list_volts = [1, 2]
    dac.run_list()
    dac.wait(timeout=30)
    assert dac.ask("STAT:OPER?").strip() == "8"
    assert (dac.operation_condition, dac.event_status, dac.status_byte) == (0, 16, 0)
    # A power loss, each time: warned of by the next setting, which did what it was asked.
    for _ in range(2):
        dac.write("BENC:POW:CYCL")
        with pytest.warns(TQ2604XPowerLossWarning, match="^Configuration memory lost; the board "
                          "lost power: outputs at 0 V, ranges and calibration restored$"):
            dac.ch_b.voltage = 1
        assert (dac.event_status, dac.errors) == (136, [])
        assert abs(dac.bench_voltage(2) - 1) < 0.002 and abs(dac.bench_voltage(1)) < 0.001


def test_a_bus_trigger_starts_an_armed_run(dac):
    dac.trigger_source = "bus"
    assert dac.trigger_source == "bus"
    dac.ch_a.list_volts = [1, 2, 3]
    dac.list_dwell = 0.01
    dac.run_list()
    state = dac.list_state
    assert (state.state, state.done, state.total) == ("ARMED", 0, 3)
    assert dac.operation_condition == 32
    dac.trigger()
    state = dac.wait(timeout=30)
    assert (state.state, state.done, state.total) == ("FINISHED", 3, 3)
    assert abs(dac.bench_voltage(1) - 3) < 0.002
    with pytest.raises(TQ2604XError) as ignored:
        dac.trigger()
    assert ignored.value.code == -211


def test_a_wait_that_times_out_leaves_the_run_going(dac, server):
    dac.ch_a.list_volts = [n / 10 for n in range(100)]
    dac.list_dwell = 0.02  # 2 s
    dac.run_list()
    with pytest.raises(TimeoutError):
        dac.wait(timeout=0.2)
    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as other:
        other.sendall(b"ABOR;LIST:STAT?\n")
        assert other.makefile().readline().startswith("STOPPED,")
    # The late answer of *OPC? is read first; the connection goes on in step.
    assert dac.list_state.state == "STOPPED"
    assert dac.id.startswith("TQ2604X-EVAL,")


def test_setup_slots_are_kept_between_runs(tmp_path):
    first = start_server(config=tmp_path)
    try:
        dac = open_driver(first)
        dac.ch_b.voltage = 5
        dac.ch_c.fine_gain = -7
        dac.save_slot(3)
        with pytest.raises(TQ2604XError) as empty:
            dac.recall_slot(4)
        assert empty.value.errors == [(-224, "Illegal parameter value; setup slot 4 is empty")]
        with pytest.raises(ValueError, match="from 0 to 9"):
            dac.save_slot(10)
        close_driver(dac)
    finally:
        assert first.stop() == 0
    kept = tmp_path / "tq2604x-eval" / "setup-slot-3.json"
    assert '"fineGain": -7' in kept.read_text()
    second = start_server(config=tmp_path)
    try:
        dac = open_driver(second)
        dac.recall_slot(3)
        assert (dac.ch_b.voltage, dac.ch_c.fine_gain) == (5, -7)
        close_driver(dac)
    finally:
        assert second.stop() == 0


def test_example_writes_the_sweep(server, tmp_path):
    out = tmp_path / "sweep.csv"
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), ".."))
    subprocess.run([sys.executable, EXAMPLE, "--resource", server.resource, "--channel", "2",
                    "--start", "-5", "--stop", "5", "--points", "5", "--csv", str(out)],
                   check=True, env=env, timeout=60)
    rows = list(csv.DictReader(out.open()))
    assert [float(r["set_volts"]) for r in rows] == [-5, -2.5, 0, 2.5, 5]
    for row in rows:
        assert abs(float(row["meter_volts"]) - float(row["set_volts"])) < 0.002
