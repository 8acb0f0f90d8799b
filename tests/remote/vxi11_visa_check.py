# SPDX-License-Identifier: GPL-3.0-or-later
"""PyVISA over VXI-11 as a lab script uses it: TCPIP::ADDRESS::INSTR found through the portmapper.

Usage: vxi11_visa_check.py ADDRESS RAW_PORT

Writes and queries on both resource forms, the status byte with MAV, a trigger that starts the
armed list run, and a device clear that gives up a *OPC? the run holds, so that the next query is
answered at once. Prints each failure and ends with status 1 when there was one.
"""

import socket
import sys
import time

import pyvisa

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
dac.close()

sys.exit(1 if failures else 0)
