"""The board as PyVISA sees it: a raw-socket SCPI instrument."""

import pyvisa
import pytest


@pytest.fixture
def inst(server):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(server.resource, read_termination="\n", write_termination="\n",
                            timeout=5000)
    yield inst
    inst.close()
    rm.close()


def test_identity_and_opc(inst, version):
    assert inst.query("*IDN?") == "TQ2604X-EVAL,TQ2604X,SIMULATED," + version
    assert inst.query("*OPC?") == "1"


def test_dac_b_to_5_volts_reaches_the_output(inst):
    inst.write("SOUR2:VOLT 5")
    assert float(inst.query("SOUR2:VOLT?")) == 5.0
    # DAC B's fixed gain and offset errors are a few hundred microvolts at 5 V.
    assert abs(float(inst.query("BENC:VOLT2?")) - 5.0) < 0.002
    assert inst.query("SYST:ERR?") == '0,"No error"'


@pytest.mark.parametrize("command, error", [
    ("SOUR1:VOLT 11", '-222,"Data out of range; 11 V is outside the channel\'s range, -10 V to 10 V"'),
    ("SOUR1:VOLT ABC", '-104,"Data type error"'),
    ("SOUR1:VOLT 1 A", '-131,"Invalid suffix"'),
    ("SOUR1:DATA 1.5", '-224,"Illegal parameter value"'),
    ("SOUR1:NOPE 1", '-113,"Undefined header"'),
    ("SOUR7:VOLT 1", '-114,"Header suffix out of range"'),
])
def test_errors_are_queued_and_nothing_is_written(inst, command, error):
    inst.write(command)
    assert inst.query("SYST:ERR?") == error
    assert inst.query("SOUR1:DATA?") == "32768"


def test_several_queries_in_one_line(inst):
    assert inst.query("SOUR3:VOLT:RANG 10.2564;SOUR3:VOLT:RANG?;SOUR3:DATA?") == "10.2564;32768"
