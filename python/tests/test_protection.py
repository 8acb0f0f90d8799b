"""The output protection's options and kept limits in the headless instrument."""

import time

import pyvisa
import pytest

from conftest import start_server


def keep(config, text):
    """Writes the program's settings file as a previous run would have left it."""
    folder = config / "tq2604x-eval"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "tq2604x-eval.conf").write_text(text)


def session(resource):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(resource, read_termination="\n", write_termination="\n",
                            timeout=5000)
    return rm, inst


def output_b_after_reconnecting(server):
    """DAC B's output as the next client finds it once the previous one has gone."""
    volts = None
    # The server notices a client's leaving when it serves the socket next; each look is a
    # client of its own that leaves in turn.
    for _ in range(20):
        time.sleep(0.1)
        rm, inst = session(server.resource)
        volts = float(inst.query("BENC:VOLT2?"))
        inst.close()
        rm.close()
        if abs(volts) < 0.002:
            break
    return volts


@pytest.mark.parametrize("option, expected", [("true", 0.0), ("false", 4.0)])
def test_the_last_client_leaving_brings_the_outputs_to_zero_with_its_option(
        tmp_path, option, expected):
    keep(tmp_path, "[protection]\nsafeOnLastClient=%s\n" % option)
    server = start_server(config=tmp_path)
    try:
        rm, inst = session(server.resource)
        inst.write("SOUR2:VOLT 4")
        assert abs(float(inst.query("BENC:VOLT2?")) - 4.0) < 0.002
        inst.close()
        rm.close()
        assert abs(output_b_after_reconnecting(server) - expected) < 0.002
    finally:
        assert server.stop() == 0


def test_kept_limits_hold_from_the_start(tmp_path):
    keep(tmp_path, "[protection]\nB.low=-2\nB.high=2\n")
    server = start_server(config=tmp_path)
    try:
        rm, inst = session(server.resource)
        inst.write("SOUR2:VOLT 3")
        error = inst.query("SYST:ERR?")
        assert error.startswith("-221,") and "DAC B" in error, error
        assert abs(float(inst.query("BENC:VOLT2?"))) < 0.002
        inst.write("SOUR2:VOLT 1.5")
        assert abs(float(inst.query("BENC:VOLT2?")) - 1.5) < 0.002
        inst.close()
        rm.close()
    finally:
        assert server.stop() == 0


def test_kept_limits_that_cannot_work_are_named_and_left_off(tmp_path):
    keep(tmp_path, "[protection]\nB.low=1\nC.high=abc\n")
    server = start_server(config=tmp_path)
    try:
        rm, inst = session(server.resource)
        inst.write("SOUR2:VOLT 5")
        assert inst.query("SYST:ERR?") == '0,"No error"'
        inst.close()
        rm.close()
    finally:
        assert server.stop() == 0
    errors = server.early
    assert "the kept output limits were not used: DAC B: the low limit 1 V is above 0 V" in errors
    assert "DAC C: the kept high limit 'abc' is not a number" in errors
