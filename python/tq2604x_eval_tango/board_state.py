# SPDX-License-Identifier: GPL-3.0-or-later
"""The board's state as the device shows it: ON, MOVING while a ramp or a waveform run drives
an output, FAULT while the board does not answer, ALARM after it lost power (until the next
setting completes); each with a status text.

Where the program keeps the IEEE 488.2 status registers, they say it: STATus:OPERation's
RAMPing (bit 8) and SWEeping (bit 3) condition bits for MOVING, STATus:QUEStionable's LINK (bit
9) for FAULT. Elsewhere the device asks what the protocol shows: OUTPut:RAMP? and LIST:STATe? for
MOVING, and a board read (the die temperature) that fails with -240 for FAULT. The probe read is
made either way, so a board that went away is noticed even before the program has tried it.
"""

import collections

from tq2604x_eval._protocol import CONFIGURATION_MEMORY_LOST

OPERATION_RAMPING = 1 << 8
OPERATION_SWEEPING = 1 << 3
QUESTIONABLE_LINK = 1 << 9
EVENT_POWER_ON = 1 << 7

# One line each: the answers come back joined by ';'. LIST:STATe? goes last, since its reason
# text may hold a ';'. *ESR? is the device's own connection's: PON says the board lost power.
# SYSTem:RESolution? tells when another client chose the other device, whose bounds the
# attributes' texts then show.
STATUS_QUERY = "STAT:OPER:COND?;STAT:QUES:COND?;MEAS:TEMP?;*ESR?;SYST:RES?"
FALLBACK_QUERY = "OUTP:RAMP?;MEAS:TEMP?;LIST:STAT?"

Reading = collections.namedtuple("Reading", "state status")


def has_status_registers(answer):
    """Whether an answer to ``STAT:OPER:COND?`` is a register's value (the program keeps the
    status model) rather than a failed query's not-a-number."""
    try:
        value = int(answer.strip())
    except ValueError:
        return False
    return 0 <= value < 1 << 16


def powered_on(answer):
    """Whether STATUS_QUERY's answer has PON in its *ESR?: the board lost power since the last
    State read."""
    try:
        return bool(int(answer.split(";")[3]) & EVENT_POWER_ON)
    except (ValueError, IndexError):
        return False


def resolution(answer):
    """The resolution in STATUS_QUERY's answer, or None when it has none."""
    try:
        return int(answer.split(";")[4])
    except (ValueError, IndexError):
        return None


def power_loss(answer, errors):
    """What the program said of a power loss (its -315 error), when the answer has PON; else
    None."""
    if not powered_on(answer):
        return None
    for code, message in errors:
        if code == CONFIGURATION_MEMORY_LOST:
            return '%d,"%s"' % (code, message)
    return "The board lost power (*ESR? PON)"


def _board_fault(errors):
    code, message = errors[0]
    return Reading("FAULT", 'The board does not answer: %d,"%s"' % (code, message))


def from_status_registers(answer, errors):
    """The state from STATUS_QUERY's answer and the errors it queued."""
    fields = answer.split(";")
    try:
        operation, questionable = int(fields[0]), int(fields[1])
    except (ValueError, IndexError):
        return Reading("FAULT", "The program's status registers answered %r" % answer)
    if questionable & QUESTIONABLE_LINK:
        return Reading("FAULT", "The board does not answer (STATus:QUEStionable LINK is set)")
    if any(code == -240 for code, _ in errors):
        return _board_fault([e for e in errors if e[0] == -240])
    moving = []
    if operation & OPERATION_RAMPING:
        moving.append("a ramp is running")
    if operation & OPERATION_SWEEPING:
        moving.append("the waveform run is running")
    if moving:
        return Reading("MOVING", "The outputs are moving: %s" % " and ".join(moving))
    return Reading("ON", "The board answers; the outputs are steady")


def from_protocol(answer, errors):
    """The state from FALLBACK_QUERY's answer and the errors it queued."""
    fields = answer.split(";", 2)
    if len(fields) < 3:
        return Reading("FAULT", "The program answered %r to its state" % answer)
    ramp, _temperature, run = fields
    if any(code == -240 for code, _ in errors):
        return _board_fault([e for e in errors if e[0] == -240])
    moving = []
    if ramp.strip() == "1":
        moving.append("a ramp is running")
    run_fields = run.split(",")
    if run_fields[0] == "RUNNING":
        if len(run_fields) > 2 and run_fields[2] != "0":
            moving.append("the waveform run is running (step %s of %s)" % tuple(run_fields[1:3]))
        else:
            moving.append("the waveform run is running (until Abort)")
    if moving:
        return Reading("MOVING", "The outputs are moving: %s" % " and ".join(moving))
    return Reading("ON", "The board answers; the outputs are steady")
