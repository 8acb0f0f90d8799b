# SPDX-License-Identifier: GPL-3.0-or-later
"""A pymeasure instrument for the TQ2604X evaluation board.

The board is driven by the ``tq2604x-eval`` program, which serves SCPI over TCP
(``tq2604x-eval --scpi 5025``, or ``--headless --scpi 5025`` without windows). Open it as
any raw-socket instrument::

    from tq2604x_eval import TQ2604X
    dac = TQ2604X("TCPIP::127.0.0.1::5025::SOCKET")
    dac.ch_b.voltage = 5.0
    print(dac.ch_b.voltage, dac.temperature)

Written for pymeasure 0.9 (Debian 12), which has no channel classes: each part of the board
(an output, the pins, a digital line, the meter) is a small object whose properties are made
the way pymeasure makes an instrument's. Each setting is one line, the command and the error
check together (``SOUR1:VOLT 2.5;:SYST:ERR?``), and an error the board reports is raised as
TQ2604XError; a value the board would refuse raises ValueError before anything is sent.

A setting that ramps (an output limited to a ramp step) completes when its ramp has: the driver
waits for it as long as the ramp needs, from the channel's ramp step and wait that it set or read
and the output's present level. How a ramp or a run ended reaches the connection that started
it: a ramp cut short raises TQ2604XError from its setting, a run that failed or that another
client stopped raises TQ2604XRunError from ``wait()``, each with the program's words. An answer
that comes after a time-out is matched to its request: its error is raised on the next call.

A board that lost power is told to every connection (``-315`` in its queue, PON in
``event_status``): the next setting or ``wait()`` that finds it warns with
TQ2604XPowerLossWarning in the program's words (every output at 0 V, what was restored) and
does not count it as its own error. ``warnings.simplefilter("error", TQ2604XPowerLossWarning)``
makes it an exception instead.
"""

import collections
import contextlib
import json
import time
import logging
import math
import os
import re
import struct
import tempfile
import warnings

from pymeasure.instruments import Instrument
from pyvisa.constants import StatusCode
from pyvisa.errors import VisaIOError

from ._protocol import (ERROR_CHECK, EXECUTION_ERROR, MAX_LINE, NOT_A_NUMBER, TQ2604XError,
                        TQ2604XRunError, block, choice, control, measurement, parse_error,
                        parse_errors, number_text, power_losses, ranged_number, switch,
                        whole_number)
from ._protocol import level as _level
from .channels import AllChannels, Channel
from .description import Description
from .lines import DigitalLines, Pins
from .meter import Meter

log = logging.getLogger(__name__)
log.addHandler(logging.NullHandler())

ListState = collections.namedtuple(
    "ListState", "state done total late rate_asked rate_achieved reason")
ListState.__doc__ = """A waveform run's state: ``state`` (``IDLE``, ``ARMED``, ``RUNNING``,
``FINISHED``, ``STOPPED`` or ``FAILED``), the steps ``done`` and in all (``total``, 0: until
aborted), the ``late`` steps, the step rates asked and achieved (steps per second; asked 0: as
fast as the link allows) and the ``reason`` it failed."""


def _count_text(value, _values=()):
    if value == math.inf or value is None:
        return "INF"
    return str(whole_number(value, 1, 10 ** 9, "the count of runs"))


def _count(value):
    return math.inf if value == "INF" else int(value)


_VISA_INTERFACES = ("TCPIP", "GPIB", "USB", "ASRL", "VXI", "PXI", "VICP")


def resource_name(address):
    """The VISA resource of ``address``: a resource name as it is, a bare host (a name, an IPv4
    address, an IPv6 address with or without brackets) as VISA's default LAN instrument,
    ``TCPIP::<host>::INSTR``."""
    text = address.strip()
    if text.upper().startswith(_VISA_INTERFACES):
        return text
    if ":" in text and not text.startswith("["):
        text = "[%s]" % text
    return "TCPIP::%s::INSTR" % text


class TQ2604X(Instrument):
    """The TQ2604X (16-bit) or TQ2404 (14-bit) evaluation board: four outputs, its pins and
    digital lines, waveform runs, the bench meter and setups.

    ``adapter`` is a host name or address (``"127.0.0.1"``: VISA's default LAN instrument,
    ``TCPIP::127.0.0.1::INSTR``, over VXI-11), a VISA resource name
    (``TCPIP::127.0.0.1::5025::SOCKET``), both opened with the pure-Python backend, or a
    pymeasure adapter; keyword arguments go to the VISA resource (``timeout`` in milliseconds,
    default 5,000).
    """

    def __init__(self, adapter, name="TQ2604X evaluation board", **kwargs):
        if isinstance(adapter, str):
            adapter = resource_name(adapter)
            # The pure-Python VISA backend reaches a raw socket without a vendor library.
            kwargs.setdefault("visa_library", "@py")
            kwargs.setdefault("read_termination", "\n")
            kwargs.setdefault("write_termination", "\n")
            kwargs.setdefault("timeout", 5000)
        # pymeasure 0.9's own SCPI members (status, complete) are property objects on the
        # instance; this class has working ones instead.
        super().__init__(adapter, name, includeSCPI=False, **kwargs)
        connection = getattr(self.adapter, "connection", None)
        if connection is not None and hasattr(connection, "encoding"):
            # The program's answers are UTF-8: a meter's identity or a setup's key may be more
            # than ASCII.
            connection.encoding = "utf-8"
        # Lines whose answer did not come in time, oldest first: (line, deadline, check), where
        # `check(answer)` raises what the answer reports.
        self._late = collections.deque()
        self._description = None  # the program's description as last read (description())
        self.ch_a, self.ch_b, self.ch_c, self.ch_d = (Channel(self, n) for n in (1, 2, 3, 4))
        self.all_channels = AllChannels(self)
        self.pins = Pins(self)
        self.digital = DigitalLines(self)
        self.meter = Meter(self)

    # ---- Channels ------------------------------------------------------------------------------

    def channel(self, which):
        """An output by its protocol number 1-4 or its letter ``"A"``-``"D"``: ``channel(1)``
        is ``ch_a``."""
        if isinstance(which, str) and len(which) == 1 and which.upper() in "ABCD":
            which = "ABCD".index(which.upper()) + 1
        if which not in (1, 2, 3, 4) or isinstance(which, bool):
            raise ValueError("the channels are 1 to 4 or A to D (DAC A to DAC D), not %r"
                             % (which,))
        return (self.ch_a, self.ch_b, self.ch_c, self.ch_d)[which - 1]

    @property
    def channels(self):
        """Deprecated: the four outputs counted from 0. Use ``channel(n)`` with the protocol's
        1-4, or ``ch_a`` ... ``ch_d``."""
        warnings.warn("TQ2604X.channels counts from 0 where the protocol counts from 1; use "
                      "dac.channel(1) ... dac.channel(4) or dac.ch_a ... dac.ch_d",
                      DeprecationWarning, stacklevel=2)
        return (self.ch_a, self.ch_b, self.ch_c, self.ch_d)

    # ---- The outputs together ------------------------------------------------------------------

    output_enabled = switch(
        "OUTP",
        """Whether the outputs follow their registers (True, as at start and after ``reset()``)
        or are all held at 0 V with their registers kept (False: the board's CLR pin low).
        Turning them on where an output would jump by more than its ramp step, or beyond its
        limits, raises TQ2604XError with the program's reason, and they stay off.""")

    @property
    def voltages(self):
        """Every output's voltage, DAC A to DAC D, as a list of four, read in one query
        (``VOLT? (@1:4)``). Setting it takes one number for all four, each coded in its own
        range (``all_channels.voltage`` codes them all in DAC A's), or a dict of channel
        (1-4 or ``"A"``-``"D"``) to volts; the channels that take the same voltage go out as
        one channel-list command (``VOLT 2.5,(@1,2)``), which the program checks as a whole
        before it sends anything. A voltage outside a channel's range raises ValueError before
        anything is sent; with ramps set the setting returns once they have ended."""
        return self.values("VOLT? (@1:4)")

    @voltages.setter
    def voltages(self, volts):
        if isinstance(volts, dict):
            wanted = {self.channel(which): value for which, value in volts.items()}
        else:
            wanted = {channel: volts for channel in (self.ch_a, self.ch_b, self.ch_c, self.ch_d)}
        together = {}
        seconds = 0
        for channel, value in wanted.items():
            text = number_text(value, "%s's voltage" % channel.name)
            channel.check_voltage(float(value))
            seconds = max(seconds, channel._ramp_wait(float(value)))
            together.setdefault(text, []).append(channel)
        if not together:
            return
        for channel in wanted:
            channel._level = None  # until the setting has completed
        self.write_checked(";:".join(
            "VOLT %s,(@%s)" % (text, ",".join(str(c.number) for c in channels))
            for text, channels in together.items()), seconds)
        for channel, value in wanted.items():
            channel._level = float(value)

    # ---- The exchange --------------------------------------------------------------------------

    def write_checked(self, command, seconds=0):
        """Sends a setting (no query) and the error check as one line; raises TQ2604XError
        with every queued error when the board reports one (a ramp cut short: -200 naming where
        the output stopped and why). ``seconds``: how long the setting may take beyond an
        answer's time-out (its ramp)."""
        self._check(command, self._line(command + ERROR_CHECK, seconds,
                                        lambda answer: self._check(command, answer)))

    def _check(self, command, answer):
        code, message = parse_error(answer)
        if code == 0:
            return
        # A power loss queued before the command is warned of; the command's own errors follow.
        errors = power_losses([(code, message)])
        errors += power_losses(self.check_errors())
        if errors:
            log.error("%s: %s: error %d, %s", self.name, command, *errors[0])
            raise TQ2604XError(errors)

    def write_codes(self, header, codes):
        """Sends ``header`` (``"SOUR1:LIST:DATA "``) with ``codes`` as one block of unsigned
        16-bit words, most significant byte first (``FORMat:BORDer NORMal``, which this
        connection keeps after), and the error check on the same line; raises TQ2604XError
        when the board refuses them."""
        self._write_block("FORM:BORD NORM;:" + header, codes, "H", "")

    def write_reals(self, header, values):
        """Sends ``header`` (``"SOUR1:LIST:VOLT "``) with ``values`` as one block of IEEE 754
        double-precision numbers, most significant byte first (``FORMat REAL,64`` and
        ``FORMat:BORDer NORMal``; the connection's format is ``ASCii`` again after), and the
        error check on the same line; raises TQ2604XError when the board refuses them."""
        self._write_block("FORM REAL,64;:FORM:BORD NORM;:" + header, values, "d", ";:FORM ASC")

    def _write_block(self, line, values, datatype, after):
        command = line.split(";:")[-1].strip()
        self._catch_up()
        self.adapter.write_binary_values(line, values, datatype=datatype, is_big_endian=True,
                                         termination=after + ERROR_CHECK + "\n")
        self._check(command, self._answer(command, 0, lambda a: self._check(command, a)))

    def read_codes(self, query):
        """Asks ``query`` (``"SOUR1:LIST:DATA?"``) for codes answered as one block of unsigned
        16-bit words, most significant byte first (``FORMat INTeger,16``); the connection's
        format is ``ASCii`` again after. Returns them as a list of ints; raises TQ2604XError
        when the query failed.

        The block is read by its length as ``read_block`` reads it, not with PyVISA's
        ``query_binary_values``, which refuses the empty block of a channel without a list."""
        data = self.read_block("FORM INT,16;:FORM:BORD NORM;:%s;:FORM ASC" % query)
        if len(data) % 2:
            raise TQ2604XError([(-100, "%s answered %d bytes, not 16-bit words"
                                 % (query, len(data)))])
        return list(struct.unpack(">%dH" % (len(data) // 2), data))

    def check_codes(self, codes, what="the code"):
        """``codes`` as a list of codes of this device, or ValueError naming the first that is
        not one (as ``check_code``): the bounds as kept, and read again before refusing."""
        codes = list(codes)
        plain = codes and all(type(c) is int for c in codes)
        for fresh in (False, True):
            described = self.description(fresh)
            low, high = described.bounds("data")
            if plain and low <= min(codes) and max(codes) <= high:
                return codes
        return [whole_number(code, low, high, described.named("data", what)) for code in codes]

    def ask_checked(self, query):
        """Asks one query and returns its answer; raises TQ2604XError when it failed (the
        board answers SCPI's not-a-number in place of a failed query and queues the error)."""
        answer = self._line(query).strip()
        if NOT_A_NUMBER in answer.split(";"):
            errors = self.check_errors()
            raise TQ2604XError(errors or [(-100, "the query %s failed" % query)])
        return answer

    def values(self, command, separator=",", cast=float, preprocess_reply=None):
        """pymeasure's ``values`` (the answer split at ``separator``, each cast where it can
        be), raising TQ2604XError when the query failed."""
        answer = self.ask_checked(command)
        if preprocess_reply is not None:
            answer = preprocess_reply(answer)
        results = []
        for text in answer.split(separator):
            try:
                results.append(cast(text))
            except ValueError:
                results.append(text)
        return results

    def check_errors(self):
        """Reads and empties this connection's error queue in one exchange
        (``SYST:ERR:ALL?``); returns every error as ``[(code, message), ...]``, oldest first
        (also logged)."""
        errors = parse_errors(self._line("SYST:ERR:ALL?"))
        for code, message in errors:
            log.error("%s: error %d, %s", self.name, code, message)
        return errors

    @property
    def errors(self):
        """Every error queued for this connection, ``[(code, message), ...]`` oldest first;
        reading empties the queue (``SYST:ERR:ALL?``)."""
        return self.check_errors()

    def read_block(self, query):
        """Asks a query answered by a definite-length block (``#<digits><length><bytes>``)
        and returns its bytes, read by their length so that nothing is left in the stream
        (the block may hold line breaks)."""
        self._catch_up()
        self.adapter.write(query)
        head = self.adapter.read_bytes(2)
        if head[:1] != b"#" or not head[1:2].isdigit():
            rest = head + (b"" if head.endswith(b"\n") else self._rest_of_line())
            if rest.strip() == NOT_A_NUMBER.encode():
                raise TQ2604XError(self.check_errors() or [(-100, "%s failed" % query)])
            raise TQ2604XError([(-100, "%s answered %r, not a block" % (query, rest))])
        digits = int(head[1:2])
        if digits == 0:  # indefinite length: up to the end of the line
            return self._rest_of_line()[:-1]
        length = int(self.adapter.read_bytes(digits))
        data = self.adapter.read_bytes(length) if length else b""
        end = self.adapter.read_bytes(1)
        if end != b"\n":
            self._rest_of_line()  # keep the answers in step before saying so
            raise TQ2604XError([(-100, "%s: the block's line did not end after it" % query)])
        return data

    def _rest_of_line(self):
        data = b""
        while not data.endswith(b"\n"):
            data += self.adapter.read_bytes(1)
        return data

    def _line(self, line, seconds=0, check=None):
        """One line out, one answer line back, waited for ``seconds`` beyond the time-out."""
        self._catch_up()
        self.adapter.write(line)
        return self._answer(line, seconds, check)

    def _answer(self, line, seconds, check):
        """The answer of ``line``. One that does not come in time (a ramp longer than was
        known) is kept owed: it is read before the next exchange, so later answers stay in
        step, and ``check`` (when given) raises what it reports then."""
        connection = getattr(self.adapter, "connection", None)
        timeout = getattr(connection, "timeout", None)
        deadline = None if timeout is None else time.monotonic() + timeout / 1000 + seconds
        try:
            with self._timeout(None if timeout is None else timeout / 1000 + seconds):
                return self.adapter.read()
        except VisaIOError as error:
            if error.error_code == StatusCode.error_timeout:
                self._late.append((line, deadline, check))
            raise

    def _catch_up(self):
        """Reads the answers still owed, oldest first; raises the first error one of them
        reports, after all of them are read."""
        reported = None
        while self._late:
            line, deadline, check = self._late[0]
            connection = getattr(self.adapter, "connection", None)
            timeout = getattr(connection, "timeout", None)
            wait = None if timeout is None else max(timeout / 1000, (deadline or 0) - time.monotonic())
            with self._timeout(wait):
                late = self.adapter.read()
            self._late.popleft()
            if check is None:
                log.info("%s: the late answer of %r was %r", self.name, line, late)
                continue
            try:
                check(late)
            except Exception as error:  # raised once every late answer is read
                reported = reported or error
        if reported is not None:
            raise reported

    def _clear_link(self):
        """A VXI-11 link's device clear: the *OPC? that waits is given up (the run goes on) and
        its answer is owed no more. The raw socket has no device clear: nothing changes."""
        connection = getattr(self.adapter, "connection", None)
        if not str(getattr(connection, "resource_name", "")).upper().endswith("::INSTR"):
            return
        try:
            connection.clear()
        except VisaIOError as error:
            log.warning("%s: the link could not be cleared: %s", self.name, error)
            return
        self._late.clear()

    @contextlib.contextmanager
    def _timeout(self, seconds):
        """The VISA timeout for a wait that may be long: ``seconds``, or None for no limit."""
        connection = getattr(self.adapter, "connection", None)
        if connection is None:
            yield
            return
        before = connection.timeout
        connection.timeout = None if seconds is None else seconds * 1000
        try:
            yield
        finally:
            connection.timeout = before

    # ---- Identity and state --------------------------------------------------------------------

    @property
    def id(self):
        """``TQ2604X-EVAL,<model>,<serial>,<version>``: model TQ2604X (16 bits) or TQ2404 (14
        bits), serial ``SIMULATED`` or the board's USB location."""
        return self.ask_checked("*IDN?")

    @property
    def resolution(self):
        """The device's resolution in bits: 16 (TQ2604X, codes 0-65535) or 14 (TQ2404, codes
        0-16383)."""
        bits = int(self.values("SYST:RES?", cast=int)[0])
        if self._description is None or self._description.resolution != bits:
            self.description(fresh=True)  # the bounds of the device in use, for the checks
        return bits

    @resolution.setter
    def resolution(self, bits):
        described = self.description()
        if bits not in [b for _, b in described.devices] or isinstance(bits, bool):
            raise ValueError("the resolution is %s bits, not %r"
                             % (described.devices_text(), bits))
        self.write_checked("SYST:RES %d" % bits)
        self.forget_description()

    @property
    def status_byte(self):
        """``*STB?``, this connection's status byte: 4 while its error queue holds an error,
        8 QUEStionable summary, 16 an answer waits for this connection (MAV), 32 a standard
        event enabled by ``*ESE``, 64 any bit enabled by ``*SRE``, 128 OPERation summary.
        Reading it clears nothing."""
        return int(self.ask_checked("*STB?"))

    status = status_byte

    @property
    def event_status(self):
        """``*ESR?``, this connection's standard event status register; reading clears it.
        1: operation complete (after ``*OPC``), 4 query, 8 device-dependent, 16 execution,
        32 command error."""
        return int(self.ask_checked("*ESR?"))

    @property
    def complete(self):
        """``*OPC?``: True once this connection's pending operations (a ramp, a list run, a
        meter run it started) have ended; it may take as long as they do, beyond the
        connection's timeout."""
        return self.ask_checked("*OPC?") == "1"

    def self_test(self):
        """``*TST?``: True when a read-back of the converter's function register succeeds."""
        return self.ask_checked("*TST?") == "0"

    temperature = measurement(
        "MEAS:TEMP?", """The die temperature in degrees Celsius (not rounded).""")

    temperature_voltage = measurement(
        "MEAS:TEMP:VOLT?", """The TEMP pin's voltage in volts.""")

    scpi_version = measurement(
        "SYST:VERS?", """The SCPI version the protocol follows (``1999.0``).""", cast=str)

    # ---- Board settings ------------------------------------------------------------------------

    pulse = switch(
        "SOUR:PULS",
        """"Pulse After Data Write" (True/False, on at start): each data write pulses LDAC so
        the output changes at once; on, it holds the LDAC pin high.""")

    pulse_after_write = pulse  # the name of earlier versions

    coding = choice(
        "SOUR:COD?", "SOUR:COD %s",
        """The board's coding pin: ``"binary"`` (offset binary) or ``"twos-complement"``.""",
        {"binary": "BINary", "twos-complement": "TWOScomplement"}, "the coding")

    local_ground_offset = switch(
        "CONT:GND",
        """The function register's local ground offset adjust bit (True/False).""")

    serial_output = switch(
        "CONT:SDO",
        """The converter's serial data output (True: enabled). Read-backs enable it for
        themselves and leave it as it was.""")

    def write_register(self, address, register, data):
        """One register write as the Direct Read/Write window makes it: ``address`` 0-7 (4:
        all DACs; 1, 4 and 5 with register 0 are the function addresses), ``register`` 0-7,
        ``data`` 0-65535."""
        self.write_checked("REG:WRIT %d,%d,%d" % (whole_number(address, 0, 7, "the address"),
                                                  whole_number(register, 0, 7, "the register"),
                                                  whole_number(data, 0, 65535, "the data")))

    def read_register(self, address, register):
        """One register read-back (``address`` 0-7, ``register`` 0-7) as a number 0-65535."""
        return int(self.ask_checked("REG:READ? %d,%d"
                                    % (whole_number(address, 0, 7, "the address"),
                                       whole_number(register, 0, 7, "the register"))))

    def clear_outputs(self):
        """CLEAR: every DAC register to the 0 V code of the coding."""
        self.write_checked("OUTP:CLE")

    def load_outputs(self):
        """LOAD: every input register to its DAC register (the outputs change together)."""
        self.write_checked("OUTP:LOAD")

    # ---- Output protection ---------------------------------------------------------------------

    ramping = measurement("OUTP:RAMP?", """True while a ramp runs.""", get_process=_level)

    safe_on_exit = switch(
        "OUTP:SAFE:EXIT",
        """Whether the program goes to the safe state (every output at 0 V) when it ends.""")

    safe_on_disconnect = switch(
        "OUTP:SAFE:DISC",
        """Whether the program goes to the safe state when the last remote client leaves.""")

    safe_on_board_back = switch(
        "OUTP:SAFE:RET",
        """Whether the program goes to the safe state when the board answers again after
        failing.""")

    def safe_state(self, timeout=None):
        """Every output to 0 V (running activities stop first), ramped where a ramp is set;
        returns once the outputs are there (``timeout`` seconds, None: as long as it
        takes)."""
        with self._timeout(timeout):
            self.write_checked("OUTP:SAFE")

    def reset(self, timeout=None):
        """``*RST``: the safe state, as ``safe_state``, then the program's start state with the
        outputs held at 0 V: binary coding, the pulse on, LDAC, CLR and RSTIN high, the
        function register 0, every range ±10 V, every output 0 V; no lists, the immediate
        trigger. Calibration registers, limits, meter settings and the status enables stay."""
        self.forget_description()  # every range back to its start
        with self._timeout(timeout):
            self.write_checked("*RST")

    def clear(self):
        """``*CLS``: empties this connection's error queue and clears its event registers."""
        self.write("*CLS")

    def wait(self, timeout=None):
        """Returns once this connection's pending operations have ended (``*OPC?``: a ramp,
        a list run it started or armed, a meter run); the list run's ListState. Raises
        TQ2604XRunError when a run started here failed or another client stopped it (the
        program's words in ``reason``), RuntimeError for a run that repeats until ``abort()``
        (nothing to wait for), TimeoutError after ``timeout`` seconds (None: as long as it
        takes); the run then goes on. Over VXI-11 (``TCPIP::host::INSTR``) the link is then
        cleared, so that its next command (``abort()``) is answered at once; over the raw
        socket the next command waits for the run's end: stop it from another connection if it
        must end sooner."""
        state = self.list_state
        if state.state == "RUNNING" and state.total == 0:
            raise RuntimeError("the waveform run repeats until dac.abort(): nothing to wait "
                               "for")
        with self._timeout(timeout):
            try:
                self.ask_checked("*OPC?")
            except VisaIOError as error:
                if error.error_code != StatusCode.error_timeout:
                    raise
                self._clear_link()
                raise TimeoutError("the operations of this connection are still running "
                                   "after %g s" % timeout) from error
        # The outcome was queued for this connection before *OPC? answered.
        errors = self.check_errors()
        state = self.list_state
        outcomes = [message for code, message in errors if code == EXECUTION_ERROR]
        if outcomes:
            raise TQ2604XRunError("the waveform run", state.state, "; ".join(outcomes))
        errors = power_losses(errors)
        if errors:
            raise TQ2604XError(errors)
        return state

    operation_condition = measurement(
        "STAT:OPER:COND?",
        """What runs now (``STAT:OPER:COND?``), whoever started it: the sum of 1 (an automatic
        calibration), 8 (a list or waveform run), 16 (a linearity test or the temperature
        log), 32 (a list run armed, waiting for its trigger) and 256 (a ramp).""", cast=int)

    # ---- Waveform runs -------------------------------------------------------------------------

    list_dwell = control(
        "LIST:DWEL?", "LIST:DWEL %s",
        """The time per step of a waveform run in seconds, 0 to 3600 (0: as fast as the link
        allows; default 0.01).""",
        validator=lambda v, vs: ranged_number(v, 0, 3600, "the dwell", "s"))

    list_count = control(
        "LIST:COUN?", "LIST:COUN %s",
        """How many times the lists run: 1 to 10**9, or ``math.inf`` (until ``abort()``).""",
        validator=_count_text, get_process=_count, cast=str)

    @property
    def list_state(self):
        """The waveform run as a ListState."""
        fields = self.ask_checked("LIST:STAT?").split(",", 6)
        return ListState(fields[0], int(fields[1]), int(fields[2]), int(fields[3]),
                         float(fields[4]), float(fields[5]), fields[6].strip('"'))

    def clear_lists(self):
        """Forgets every channel's list."""
        self.write_checked("LIST:CLE")

    trigger_source = choice(
        "TRIG:SOUR?", "TRIG:SOUR %s",
        """What starts a run once ``run_list()`` initiated it: ``"immediate"`` (at once, the
        default) or ``"bus"`` (``run_list()`` arms it and ``trigger()`` starts it).""",
        {"immediate": "IMMediate", "bus": "BUS"}, "the trigger source")

    def run_list(self):
        """Starts a waveform run with the loaded lists (``ch_x.list_volts`` or
        ``.list_codes``), ``list_dwell`` and ``list_count``, and returns at once with its first
        step out; ``wait()`` waits for its end. With ``trigger_source`` ``"bus"`` the run is
        armed instead (``list_state.state`` ``ARMED``) and ``trigger()`` starts it. A point
        outside its channel's range refuses the whole run (TQ2604XError -222) and nothing is
        sent."""
        self.write_checked("INIT")

    def trigger(self):
        """``*TRG``: starts the armed run (that this or another connection armed); with none
        armed TQ2604XError -211."""
        self.write_checked("*TRG")

    def abort(self):
        """Ends the waveform run before its next step, or takes back its arming; the outputs
        stay at the last step."""
        self.write_checked("ABOR")

    # ---- Setups --------------------------------------------------------------------------------

    def setup_text(self, calibration_only=False):
        """The whole setup (registers read back) as JSON text, or only each channel's fine gain
        and offset."""
        query = "SYST:SET:CAL?" if calibration_only else "SYST:SET?"
        return self.read_block(query).decode("utf-8")

    def save_setup(self, path, calibration_only=False):
        """Writes the setup to the file ``path`` (JSON, indented to be read and compared),
        replacing it whole: a failure leaves the file as it was."""
        text = self.setup_text(calibration_only)
        try:
            text = json.dumps(json.loads(text), indent=2, ensure_ascii=False)
        except ValueError:
            pass  # kept as the program gave it
        folder = os.path.dirname(os.path.abspath(path))
        handle, temporary = tempfile.mkstemp(dir=folder, prefix=".setup-", suffix=".tmp")
        try:
            with os.fdopen(handle, "w", encoding="utf-8") as out:
                out.write(text + "\n")
            os.replace(temporary, path)
        except BaseException:
            os.unlink(temporary)
            raise

    def open_setup(self, path, any_board=False):
        """Opens the setup file ``path`` on the board with every check the program makes
        (TQ2604XError -224 naming the key; nothing written). A setup saved from another board
        is refused (-221) unless ``any_board``."""
        with open(path, encoding="utf-8") as f:
            text = f.read()
        self.load_setup(text, any_board)

    def load_setup(self, text, any_board=False):
        """As ``open_setup``, from the JSON text."""
        # The block travels inside one line: JSON takes a line break outside its strings as a
        # space, and a character beyond ASCII as its escape. Spaces at its ends go: the program
        # trims a parameter before measuring its block.
        text = re.sub(r"[\r\n]", " ", text).strip()
        text = re.sub(r"[^\x00-\x7f]", lambda m: json.dumps(m.group())[1:-1], text)
        line = "SYST:SET %s%s" % (block(text.encode("ascii")).decode("ascii"),
                                  ",ANYB" if any_board else "")
        if len(line) + len(ERROR_CHECK) > MAX_LINE:
            raise ValueError("the setup takes %d bytes, beyond the %d a line holds"
                             % (len(line) + len(ERROR_CHECK), MAX_LINE))
        self.forget_description()  # a setup may set the ranges and the resolution
        self.write_checked(line)

    def save_slot(self, slot):
        """``*SAV``: keeps the whole setup in slot 0-9 of the program, kept between its
        runs."""
        self.write_checked("*SAV %d" % whole_number(slot, 0, 9, "the setup slot"))

    def recall_slot(self, slot):
        """``*RCL``: opens the setup kept in slot 0-9 with every check of a setup file; an
        empty slot raises TQ2604XError -224."""
        self.forget_description()
        self.write_checked("*RCL %d" % whole_number(slot, 0, 9, "the setup slot"))

    # ---- The simulated board's bench -----------------------------------------------------------

    def bench_voltage(self, channel):
        """On the simulated board only: channel 1-4's output in volts as its built-in meter
        reads it."""
        return float(self.ask_checked("BENC:VOLT%d?" % self.channel(channel).number))

    def bench_digital(self, line):
        """On the simulated board only: the level of D0 (``line`` 1) or D1 (2), True: high."""
        return _level(self.ask_checked("BENC:DIG%d?" % self.digital[line].number))

    bench_temperature = control(
        "BENC:TEMP?", "BENC:TEMP %s",
        """On the simulated board only: the die temperature in degrees Celsius, -40 to
        150.""",
        validator=lambda v, vs: ranged_number(v, -40, 150, "the die temperature", "°C"))

    # ---- Checks that need the device -----------------------------------------------------------

    def description(self, fresh=False):
        """The program's description of the device and its settings (``SYSTem:DESCription?``)
        as a Description: read once and kept (``fresh``: read now). The checks read their
        bounds here; one that finds a value outside them reads it again before refusing."""
        if fresh or self._description is None:
            self._description = Description(self.read_block("SYST:DESC?").decode("utf-8"))
        return self._description

    def forget_description(self):
        """The next check reads the description again (after a change of what its bounds
        follow: a range, the resolution, a setup)."""
        self._description = None

    def present_bounds(self, name, value=None, channel=1):
        """``(description, min, max)`` of the setting ``name`` on ``channel`` as kept; read
        again first when ``value`` (a number, or None) lies outside them, since another client
        may have changed what they follow."""
        described = self.description()
        low, high = described.bounds(name, channel)
        if _number(value) and not low <= value <= high:
            described = self.description(fresh=True)
            low, high = described.bounds(name, channel)
        return described, low, high

    def check_whole(self, name, value, what, channel=1):
        """``value`` as a whole number within the setting's present bounds, or ValueError
        naming them (and the device, where they follow its resolution)."""
        described, low, high = self.present_bounds(name, value, channel)
        return whole_number(value, low, high, described.named(name, what))

    def check_number(self, name, value, what, channel=1):
        """``value`` as the protocol's text of a number within the setting's present bounds,
        or ValueError naming them with the setting's unit."""
        number_text(value, what)
        described, low, high = self.present_bounds(name, float(value), channel)
        return ranged_number(value, low, high, what, described.unit(name))

    def top_code(self, fresh=False):
        """The device's largest code, 65535 or 16383, as last read (``fresh``: read now)."""
        return self.description(fresh).bounds("data")[1]

    def check_code(self, value, what="the code"):
        """``value`` as a code of this device, or ValueError naming the range. The bounds of the
        device last read are checked, and read again before refusing."""
        return self.check_whole("data", value, what)

    def check_offset(self, value, what="the offset"):
        """``value`` as an offset register of this device: -128 to 127, -4 to 3 on the
        14-bit device."""
        return self.check_whole("offset", value, what)

    def write(self, command):
        """Writes a line as it is, without the error check (pymeasure's ``write``)."""
        self._catch_up()
        self.adapter.write(command)

    def ask(self, command):
        """Writes a query line and returns its answer line, unchecked (pymeasure's ``ask``)."""
        return self._line(command)

    def shutdown(self):
        """Every output to 0 V, then the connection is closed."""
        self.reset()
        super().shutdown()


def _number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)
