# SPDX-License-Identifier: GPL-3.0-or-later
"""PyVISA over VXI-11 as a lab script uses it: TCPIP::ADDRESS::INSTR found through the portmapper.

Usage: vxi11_visa_check.py ADDRESS RAW_PORT

Writes and queries on both resource forms, the status byte with MAV, a trigger that starts the
armed list run, and a device clear that gives up a *OPC? the run holds, so that the next query is
answered at once; one link's lock_excl() keeping another link and a raw client off; the Python
driver given a bare host. Prints each failure and ends with status 1 when there was one.
"""

import os
import socket
import sys
import time

import pyvisa
from pyvisa_py.protocols import vxi11

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))
from tq2604x_eval import TQ2604X  # noqa: E402

address, raw_port = sys.argv[1], int(sys.argv[2])
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def raw_query(line):
    with socket.create_connection((address, raw_port), timeout=5) as raw:
        raw.sendall(line.encode() + b"\n")
        return raw.makefile().readline().strip()


rm = pyvisa.ResourceManager("@py")
for name in (f"TCPIP::{address}::INSTR", f"TCPIP::{address}::inst0::INSTR"):
    with rm.open_resource(name, read_termination="\n", write_termination="\n") as dac:
        identity = dac.query("*IDN?")
        check(identity.startswith("TQ2604X-EVAL,TQ2604X,SIMULATED,"), f"{name}: *IDN? {identity!r}")

dac = rm.open_resource(f"TCPIP::{address}::INSTR", read_termination="\n",
                       write_termination="\n", timeout=3000)
dac.write("SOUR2:DATA 49152")
check(dac.query("SOUR2:DATA?;SYST:ERR?") == '49152;0,"No error"', "a setting and its query")
check(raw_query("SOUR2:DATA?") == "49152", "the raw socket sees what VXI-11 set")

# MAV: set while an answer waits, in the status byte read beside the data and in *STB?.
check(dac.read_stb() == 0, "the status byte with nothing waiting")
dac.write("*IDN?")
deadline = time.monotonic() + 2
while not dac.read_stb() & 16 and time.monotonic() < deadline:
    time.sleep(0.01)
check(dac.read_stb() & 16, "read_stb() shows MAV with an answer waiting")
dac.read()
check(dac.read_stb() & 16 == 0, "MAV clears once the answer is read")
check(dac.query("*IDN?;*STB?").endswith(";16"), "*IDN?;*STB? ends in 16")
check(raw_query("*IDN?;*STB?").endswith(";16"), "*IDN?;*STB? ends in 16 on the raw socket too")

# The trigger starts the armed run.
dac.write("TRIG:SOUR BUS;SOUR1:LIST:VOLT 1,2,3;LIST:DWEL 2;INIT")
check(dac.query("LIST:STAT?").startswith("ARMED,"), "INIT with the bus trigger arms the run")
dac.assert_trigger()
check(dac.query("LIST:STAT?").startswith("RUNNING,"), "assert_trigger() starts the armed run")

# *OPC? waits for the run: the read times out, the device clear gives the wait up, and the next
# query is answered at once while the run goes on.
dac.timeout = 500
dac.write("*OPC?")
try:
    dac.read()
    check(False, "*OPC? answered before the run ended")
except pyvisa.errors.VisaIOError as error:
    check(error.error_code == pyvisa.constants.StatusCode.error_timeout, f"read: {error}")
dac.clear()
started = time.monotonic()
identity = dac.query("*IDN?")
check(identity.startswith("TQ2604X-EVAL,"), f"the query after the clear: {identity!r}")
check(time.monotonic() - started < 0.4, "the query after the clear waited")
check(dac.query("LIST:STAT?").startswith("RUNNING,"), "the clear stopped the run")
dac.write("ABOR")
check(dac.query("SYST:ERR?") == '0,"No error"', "errors left in the link's queue")

# One lock over every remote client: PyVISA's lock_excl() on this link keeps another link off
# (error 11, which pyvisa-py reports as an I/O error) and refuses a raw client's change naming the
# holder, while the raw client's queries and the safe state pass.
dac.timeout = 3000
dac.lock_excl()
other = rm.open_resource(f"TCPIP::{address}::INSTR", read_termination="\n",
                         write_termination="\n", timeout=1000)
try:
    other.write("SOUR2:DATA 1")
    check(False, "another link's write went through the lock")
except pyvisa.errors.VisaIOError:
    pass
core = vxi11.CoreClient(address)
error, link, _, _ = core.create_link(9, False, 0, "inst0")
check(error == 0, f"create_link beside the lock: {error}")
check(core.device_write(link, 1000, 0, 8, b"SOUR2:DATA 1\n")[0] == 11,
      "another link's write is error 11 while the lock is held")
core.destroy_link(link)
core.close()
locked = raw_query("SOUR2:DATA 2;:OUTP:SAFE;:SYST:ERR?;ERR?;:SOUR2:DATA?")
check(locked == '-200,"Execution error; the board is locked by VXI-11 link from 127.0.0.1";'
      '0,"No error";32768', f"a raw client beside the lock: {locked!r}")
dac.unlock()
other.write("SOUR2:DATA 3")
check(other.query("SOUR2:DATA?") == "3", "the other link once the lock is given back")
other.close()
dac.close()

# The driver given a bare host opens VISA's default LAN instrument; after a wait() that timed out
# the link is cleared, so abort() is answered at once.
board = TQ2604X(address)
# PyVISA names TCPIP::host::INSTR in full.
check(board.adapter.connection.resource_name == f"TCPIP0::{address}::inst0::INSTR",
      f"the driver opened {board.adapter.connection.resource_name}")
board.write("TRIG:SOUR IMM;SOUR1:LIST:VOLT 1,2,3;LIST:DWEL 2;INIT")
try:
    board.wait(timeout=1)
    check(False, "wait() returned before the run ended")
except TimeoutError:
    pass
started = time.monotonic()
board.abort()
check(time.monotonic() - started < 1, "abort() after a timed-out wait() took 1 s or more")
check(board.list_state.state != "RUNNING", "abort() did not stop the run")
board.adapter.connection.close()

sys.exit(1 if failures else 0)
