"""The pymeasure driver and the example script against the headless simulated board."""

import csv
import os
import subprocess
import sys

import pytest

from tq2604x_eval import TQ2604X, TQ2604XError

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "examples", "sweep_channel.py")


@pytest.fixture
def dac(server):
    dac = TQ2604X(server.resource)
    yield dac
    dac.adapter.connection.close()


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
    assert dac.resolution == 16
    assert dac.pulse_after_write is True
    dac.pulse_after_write = False
    assert dac.pulse_after_write is False


def test_a_refused_setting_raises_with_the_boards_error(dac):
    with pytest.raises(TQ2604XError) as refused:
        dac.ch_a.voltage = 12
    assert refused.value.code == -222
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


def test_reset_sends_every_output_to_zero(dac):
    dac.ch_a.voltage = 3
    dac.reset()
    assert abs(dac.bench_voltage(1)) < 0.001


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
