"""The board as PyVISA sees it: a raw-socket SCPI instrument."""

import struct
import time

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


# The status and synchronisation commands as docs/scpi.md gives them: the lines sent first, then
# the query and its answer.
STATUS_EXCHANGES = [
    ([], "*OPT?", "0"),
    (["NOPE"], "*ESR?;*ESR?", "32;0"),
    (["*ESE 48", "SOUR1:VOLT 11"], "*STB?;*ESE?", "36;48"),
    (["*SRE 4", "NOPE"], "*STB?;*SRE?", "68;4"),
    (["NOPE", "SOUR1:DATA 1.5"], "SYST:ERR:COUN?;SYST:ERR:ALL?;SYST:ERR:ALL?",
     '2;-113,"Undefined header",-224,"Illegal parameter value";0,"No error"'),
    # *CLS empties the queue and the events; MAV (16) is *ESR?'s answer waiting in the line.
    (["NOPE", "*CLS"], "*ESR?;*STB?;SYST:ERR:COUN?", "0;16;0"),
    (["*OPC"], "*ESR?", "1"),
    (["STAT:QUES:ENAB 1024", "SOUR2:VOLT:LIM:HIGH 2", "SOUR2:VOLT 3"], "*STB?;STAT:QUES?",
     "12;1024"),
    (["STAT:OPER:ENAB 264", "STAT:QUES:ENAB 1536", "STAT:PRES"],
     "STAT:OPER:ENAB?;STAT:QUES:ENAB?", "0;0"),
    (["SOUR1:LIST:VOLT 1,2,3", "INIT"], "*OPC?;STAT:OPER?;STAT:OPER:COND?", "1;8;0"),
    (["TRIG:SOUR BUS", "SOUR1:LIST:VOLT 1,2,3", "INIT"], "LIST:STAT?;STAT:OPER:COND?",
     'ARMED,0,3,0,100,0,"";32'),
    ([], "*TRG;SYST:ERR?", '-211,"Trigger ignored"'),
    (["SOUR:COD TWOS", "SOUR2:VOLT 5", "*SAV 3", "*RST"], "SOUR:COD?;SOUR2:VOLT?", "BIN;0"),
    ([], "*RCL 7;SYST:ERR?", '-224,"Illegal parameter value; setup slot 7 is empty"'),
]


@pytest.mark.parametrize("lines, query, answer", STATUS_EXCHANGES)
def test_status_commands_answer_as_documented(inst, lines, query, answer):
    for line in lines:
        inst.write(line)
    assert inst.query(query) == answer


def test_a_bus_triggered_run_is_armed_started_and_waited_for(inst, server):
    """The script of several boards started together, on one board: armed, triggered, waited
    for with *OPC? while another client is served."""
    inst.write("TRIG:SOUR BUS;SOUR1:LIST:VOLT 1,2,3,4,5,6,7,8,9,10;LIST:DWEL 0.02;INIT")
    assert inst.query("LIST:STAT?").startswith("ARMED,0,10,")
    inst.write("*TRG")
    inst.write("*OPC?")
    # The resource manager is the first one's: closing it would close both.
    other = pyvisa.ResourceManager("@py").open_resource(
        server.resource, read_termination="\n", write_termination="\n", timeout=5000)
    try:
        # Served while the first client's *OPC? waits.
        assert other.query("LIST:STAT?").startswith("RUNNING,")
        assert other.query("*OPC?;STAT:OPER:COND?") == "1;8"
    finally:
        other.close()
    assert inst.read() == "1"
    assert inst.query("LIST:STAT?").startswith("FINISHED,10,10,")
    assert abs(float(inst.query("BENC:VOLT1?")) - 10) < 0.005


def test_65536_codes_as_one_binary_block_read_back_and_run(inst):
    codes = [(n * 7919) & 0xFFFF for n in range(65536)]
    inst.write("FORM INT,16;FORM:BORD NORM")
    inst.write_binary_values("SOUR1:LIST:DATA ", codes, datatype="H", is_big_endian=True)
    assert inst.query("SYST:ERR?") == '0,"No error"'
    back = inst.query_binary_values("SOUR1:LIST:DATA?", datatype="H", is_big_endian=True)
    assert back == codes
    # The other byte order, both ways.
    inst.write("FORM:BORD SWAP")
    assert inst.query_binary_values("SOUR1:LIST:DATA?", datatype="H") == codes
    inst.write_binary_values("SOUR2:LIST:DATA ", codes[::-1], datatype="H")
    assert inst.query("FORM ASC;:SOUR2:LIST:DATA?").split(",")[:3] == ["57617", "49698", "41779"]
    inst.write("LIST:DWEL 0;COUN 1;:INIT")
    assert inst.query("*OPC?") == "1"
    deadline = time.monotonic() + 120
    state = inst.query("LIST:STAT?").split(",")
    while state[0] == "RUNNING" and time.monotonic() < deadline:
        time.sleep(0.05)
        state = inst.query("LIST:STAT?").split(",")
    assert state[:3] == ["FINISHED", "65536", "65536"], state
    assert inst.query("SOUR1:DATA?;SOUR2:DATA?") == "%d;%d" % (codes[-1], codes[0])
    assert inst.query("SYST:ERR?") == '0,"No error"'


def test_65536_volts_as_one_real32_block_read_back_equal(inst):
    volts = [((n * 7919) % 20001) / 1000.0 - 10.0 for n in range(65536)]
    singles = list(struct.unpack(">65536f", struct.pack(">65536f", *volts)))
    inst.write_binary_values("SOUR1:LIST:VOLT ", volts, datatype="f", is_big_endian=True)
    assert inst.query("SYST:ERR?") == '0,"No error"'
    inst.write("FORM REAL,32")
    back = inst.query_binary_values("SOUR1:LIST:VOLT?", datatype="f", is_big_endian=True)
    assert back == singles
    inst.write("FORM REAL,64;:FORM:BORD SWAP")
    assert inst.query_binary_values("SOUR1:LIST:VOLT?", datatype="d") == singles
    inst.write("FORM REAL,32")
    inst.write_binary_values("SOUR2:LIST:VOLT ", volts + [0.0], datatype="f")
    assert inst.query("SYST:ERR?") == '-223,"Too much data; a list holds at most 65536 points"'
    assert inst.query("FORM ASC;:FORM:BORD NORM;:SYST:ERR?") == '0,"No error"'


def test_a_setup_on_several_lines_opens_as_a_block(inst):
    setup = b'{\n  "format": 1,\n  "pins": {\n    "clr": false\n  },\n' \
            b'  "channels": {"B": {"data": 49152}}\n}\n'
    inst.write_binary_values("SYST:SET ", setup, datatype="B")
    assert inst.query("SYST:ERR?;PIN:CLR?;SOUR2:DATA?") == '0,"No error";0;49152'
    # White space at a block's end is its own.
    inst.write('SYST:SET #213{"format":1} ;:PIN:CLR 1')
    assert inst.query("SYST:ERR?;PIN:CLR?") == '0,"No error";1'


@pytest.mark.parametrize("query, answer", [
    ("SOUR1:VOLT? MAX;SOUR1:VOLT? MIN;SOUR1:DATA? DEF", "10;-10;32768"),
    ("SOUR1:DATA #H8001;SOUR1:DATA?;SOUR1:DATA #B1;SOUR1:DATA?", "32769;1"),
    ("SOUR2:VOLT 250000 UV;DATA?;VOLT? MAX;:SOUR1:DATA?", "33587;10;32768"),
    ("LIST:DWEL 0.002 KS;DWEL?;DWEL DEF;DWEL?;DWEL 5000;:SYST:ERR?",
     '2;0.01;-222,"Data out of range; 5000 s is outside 0 s to 3600 s"'),
])
def test_numbers_words_and_paths(inst, query, answer):
    assert inst.query(query) == answer
