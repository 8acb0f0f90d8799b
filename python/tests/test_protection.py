"""The output protection's options and kept limits in the headless instrument."""

import contextlib
import time

import pyvisa
import pytest

from conftest import start_server


@contextlib.contextmanager
def server_keeping(config, text):
    """A server started with the program's settings file as a previous run would have left it."""
    folder = config / "tq2604x-eval"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "tq2604x-eval.conf").write_text(text)
    server = start_server(config=config)
    try:
        yield server
    finally:
        started = time.monotonic()
        assert server.stop() == 0
        server.took_to_stop = time.monotonic() - started


@contextlib.contextmanager
def client(server):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(server.resource, read_termination="\n", write_termination="\n",
                            timeout=5000)
    try:
        yield inst
    finally:
        inst.close()
        rm.close()


def output_b_after_reconnecting(server):
    """DAC B's output as the next client finds it once the previous one has gone."""
    volts = None
    # The server notices a client's leaving when it serves the socket next; each look is a
    # client of its own that leaves in turn.
    for _ in range(20):
        time.sleep(0.1)
        with client(server) as inst:
            volts = float(inst.query("BENC:VOLT2?"))
        if abs(volts) < 0.002:
            break
    return volts


@pytest.mark.parametrize("option, expected", [("true", 0.0), ("false", 4.0)])
def test_the_last_client_leaving_brings_the_outputs_to_zero_with_its_option(
        tmp_path, option, expected):
    with server_keeping(tmp_path, "[protection]\nsafeOnLastClient=%s\n" % option) as server:
        with client(server) as inst:
            inst.write("SOUR2:VOLT 4")
            assert abs(float(inst.query("BENC:VOLT2?")) - 4.0) < 0.002
        assert abs(output_b_after_reconnecting(server) - expected) < 0.002


def test_kept_limits_hold_from_the_start(tmp_path):
    with server_keeping(tmp_path, "[protection]\nB.low=-2\nB.high=2\n") as server:
        with client(server) as inst:
            inst.write("SOUR2:VOLT 3")
            error = inst.query("SYST:ERR?")
            assert error.startswith("-221,") and "DAC B" in error, error
            assert abs(float(inst.query("BENC:VOLT2?"))) < 0.002
            inst.write("SOUR2:VOLT 1.5")
            assert abs(float(inst.query("BENC:VOLT2?")) - 1.5) < 0.002


def test_kept_limits_that_cannot_work_are_named_and_left_off(tmp_path):
    with server_keeping(tmp_path, "[protection]\nB.low=1\nC.high=abc\n") as server:
        with client(server) as inst:
            inst.write("SOUR2:VOLT 5")
            assert inst.query("SYST:ERR?") == '0,"No error"'
    assert ("the kept output limits were not used: DAC B: the low limit 1 V is above 0 V"
            in server.early)
    assert "DAC C: the kept high limit 'abc' is not a number" in server.early


@pytest.mark.parametrize("option", ["true", "false"])
def test_the_program_ends_after_ramping_the_outputs_down_with_its_option(tmp_path, option):
    kept = "[protection]\nB.rampStep=1\nB.rampWait=0.5\nsafeOnExit=%s\n" % option
    with server_keeping(tmp_path, kept) as server:
        with client(server) as inst:
            # Up in three steps of at most 1 V, half a second apart.
            inst.write("SOUR2:VOLT 2.5")
            for _ in range(50):
                if abs(float(inst.query("BENC:VOLT2?")) - 2.5) < 0.002:
                    break
                time.sleep(0.1)
            assert abs(float(inst.query("BENC:VOLT2?")) - 2.5) < 0.002
    # Down the same way before the board is let go: the two waits between the three steps.
    if option == "true":
        assert server.took_to_stop >= 0.95, server.took_to_stop
    else:
        assert server.took_to_stop < 0.95, server.took_to_stop
