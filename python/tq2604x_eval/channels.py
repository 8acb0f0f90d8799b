# SPDX-License-Identifier: GPL-3.0-or-later
"""The board's four outputs, one at a time (``dac.ch_a`` ... ``dac.ch_d``) or all at once
(``dac.all_channels``)."""

import math

from ._protocol import number_text
from .description import one_of_text

# Half a microvolt beyond a range's end is left to the program to judge: its ranges are
# single-precision numbers whose text here is rounded.
SLACK = 1e-6
# How near a full scale must be to one of the ranges, as the program takes it.
RANGE_NEAR = 0.001


def range_text(instrument, full_scale):
    """The protocol's text of the range ``full_scale`` names (within RANGE_NEAR of one of the
    program's ranges), or ValueError listing them."""
    ranges = instrument.description().values("range")
    if isinstance(full_scale, (int, float)) and not isinstance(full_scale, bool):
        for r in ranges:
            if abs(full_scale - r) <= RANGE_NEAR:
                return number_text(r)
    raise ValueError("the range is one of %s (volts, full scale), not %r"
                     % (one_of_text(ranges), full_scale))


# A ramp's waits are timers of the program's event loop, served between other clients: each
# may be late by a little.
RAMP_SLACK = 1.2


def ramp_seconds(ramp, swing):
    """How long a ramp of ``ramp`` = (step, wait) takes over ``swing`` volts: its first step
    goes at once, each further one after the wait; 0 without a ramp."""
    step, wait = ramp or (None, 0)
    if not step or not wait:
        return 0
    return (max(1, math.ceil(abs(swing) / step)) - 1) * wait * RAMP_SLACK


class Channel:
    """One output of the board: DAC A (protocol number 1) to DAC D (4), ``dac.ch_a`` to
    ``dac.ch_d`` or ``dac.channel(1)`` to ``dac.channel(4)``.

    A setting goes out with its error check on the same line and raises TQ2604XError when the
    board refuses it; a value the board would refuse raises ValueError before anything is sent.
    """

    def __init__(self, instrument, number):
        if number not in (1, 2, 3, 4):
            raise ValueError("channels are 1 to 4 (DAC A to DAC D), not %r" % (number,))
        self.instrument = instrument
        self.number = number
        self.letter = "ABCD"[number - 1]
        self.name = "DAC " + self.letter
        self._full_scale = None  # the range last read or set here; refusals read it again
        self._ramp = None  # (step, wait) as last read or set here; None: not known
        self._level = None  # the output in volts as last read or set here

    # The owner side of the property factories: every header under SOURce<n>.
    def values(self, command, **kwargs):
        return self.instrument.values("SOUR%d:%s" % (self.number, command), **kwargs)

    def write_checked(self, command, seconds=0):
        self.instrument.write_checked("SOUR%d:%s" % (self.number, command), seconds)

    def _ramp_wait(self, volts=None):
        """How long a move to ``volts`` may ramp (None: a move of unknown size, the whole
        range); 0 while no ramp is known here."""
        if self._ramp is None or not self._ramp[0]:
            return 0
        if volts is None:
            full_scale = self._full_scale or self.instrument.description().bounds(
                "voltage", self.number)[1]
            return ramp_seconds(self._ramp, 2 * full_scale)
        if self._level is None:
            self._level = float(self.values("VOLT?")[0])
        return ramp_seconds(self._ramp, volts - self._level)

    # ---- Output --------------------------------------------------------------------------------

    @property
    def voltage(self):
        """The output in volts: the code in the data register, in the channel's range
        (±10, ±10.2564 or ±10.5263 V, see ``range``). Setting it writes the nearest code; a
        value outside the range raises ValueError naming the range. With a ramp set the setting
        returns once the ramp has ended, however long it takes: the channel's ramp as set or read
        here (``ramp``) and its present level time the wait for the answer, beyond the
        connection's time-out. A ramp cut short (the board lost, another client's safe state)
        raises TQ2604XError -200 naming where the output stopped and why."""
        self._level = float(self.values("VOLT?")[0])
        return self._level

    @voltage.setter
    def voltage(self, volts):
        text = number_text(volts, "%s's voltage" % self.name)
        self.check_voltage(float(volts))
        seconds = self._ramp_wait(float(volts))
        self._level = None  # until the setting has completed
        self.write_checked("VOLT " + text, seconds)
        self._level = float(volts)

    def check_voltage(self, volts):
        """Raises ValueError when ``volts`` lies outside the channel's range: the bounds of the
        program's description as kept, read again before refusing (another client may have
        changed the range)."""
        low, high = self.instrument.description().bounds("voltage", self.number)
        if low - SLACK <= volts <= high + SLACK:
            return
        _, low, high = self.instrument.present_bounds("voltage", volts, self.number)
        if not low - SLACK <= volts <= high + SLACK:
            raise ValueError("%s: %s V is outside the channel's range, %s V to %s V"
                             % (self.name, number_text(volts), number_text(low),
                                number_text(high)))

    @property
    def range(self):
        """The full scale in volts, 10, 10.2564 or 10.5263 (the coarse gain register: the
        output spans ±range). Setting another value (beyond 0.001 of one of them) raises
        ValueError."""
        self._full_scale = float(self.values("VOLT:RANG?")[0])
        return self._full_scale

    @range.setter
    def range(self, full_scale):
        text = range_text(self.instrument, full_scale)
        self.instrument.forget_description()  # the voltage's bounds follow the range
        self.write_checked("VOLT:RANG " + text)
        self._full_scale = float(text)

    @property
    def code(self):
        """The data register's code, a whole number: 0 to 65535, or 0 to 16383 on the 14-bit
        device (TQ2404). A fraction or a code beyond the device's range raises ValueError."""
        return int(self.values("DATA?", cast=int)[0])

    @code.setter
    def code(self, value):
        code = self.instrument.check_code(value, "%s's code" % self.name)
        seconds = self._ramp_wait()
        self._level = None
        self.write_checked("DATA %d" % code, seconds)

    @property
    def fine_gain(self):
        """The fine gain register as a signed whole number, -32 to 31 (steps of the gain
        trim)."""
        return int(self.values("GAIN?", cast=int)[0])

    @fine_gain.setter
    def fine_gain(self, value):
        self.write_checked("GAIN %d" % self.instrument.check_whole("fineGain", value,
                                                                   "the fine gain", self.number))

    @property
    def offset(self):
        """The offset register as a signed whole number: -128 to 127 (eighths of an LSB), or -4
        to 3 on the 14-bit device."""
        return int(self.values("OFFS?", cast=int)[0])

    @offset.setter
    def offset(self, value):
        self.write_checked("OFFS %d" % self.instrument.check_offset(value,
                                                                     "%s's offset" % self.name))

    # ---- Output protection ---------------------------------------------------------------------

    @property
    def limits(self):
        """The window the output must stay in, ``(low, high)`` in volts, ``None`` on a side
        without a limit. The low limit is -10.5263 to 0 V, the high 0 to 10.5263 V (the window
        holds 0 V, the safe state); ``(None, None)`` removes both. A command that would take
        the output beyond a limit is refused (-221) and nothing is written."""
        low, high = self.values("VOLT:LIM:LOW?;SOUR%d:VOLT:LIM:HIGH?" % self.number,
                                separator=";")
        return (None if low <= -9.9e37 else low, None if high >= 9.9e37 else high)

    @limits.setter
    def limits(self, window):
        low, high = window
        check = self.instrument.check_number
        low = "NONE" if low is None else check("limitLow", low, "the low limit", self.number)
        high = "NONE" if high is None else check("limitHigh", high, "the high limit", self.number)
        self.write_checked("VOLT:LIM:LOW %s;:SOUR%d:VOLT:LIM:HIGH %s" % (low, self.number, high))

    @property
    def ramp(self):
        """``(step, wait)``: the largest single step of the output in volts (``None``: no
        ramp) and the wait between two steps in seconds, 0 to 10. A change larger than the step
        goes out in equal steps; the setting returns once the last has."""
        step, wait = self.values("VOLT:RAMP:STEP?;SOUR%d:VOLT:RAMP:WAIT?" % self.number,
                                 separator=";")
        self._ramp = (step or None, wait)
        return self._ramp

    @ramp.setter
    def ramp(self, setting):
        step, wait = setting
        if step is not None:
            step = number_text(step, "the ramp step")
            if float(step) < 0:
                raise ValueError("the ramp step is a positive number of volts (0 or None: no "
                                 "ramp), not %s V" % step)
        step = "NONE" if step is None else step
        wait = self.instrument.check_number("rampWait", wait, "the wait between ramp steps",
                                            self.number)
        self.write_checked("VOLT:RAMP:WAIT %s;:SOUR%d:VOLT:RAMP:STEP %s"
                           % (wait, self.number, step))
        self._ramp = (None if step == "NONE" else float(step), float(wait))

    # ---- Lists for waveform runs ---------------------------------------------------------------

    @property
    def list_volts(self):
        """The channel's set points for the next waveform run, in volts (a list of 1 to 65,536
        numbers; ``[]`` when none is loaded or the list is of codes). Each is checked against
        the channel's range when the run starts, so volts travel as they are: as text while the
        list is short, as one block of double-precision numbers (``FORMat REAL,64``) once the
        text would be longer than the block, so that 65,536 points go in one message. They read
        back as the board answers text: each the nearest single-precision number."""
        return self._list("LIST:VOLT?", float)

    @list_volts.setter
    def list_volts(self, volts):
        what = "%s's list point" % self.name
        texts = [number_text(v, what) for v in _points(volts)]
        header = "SOUR%d:LIST:VOLT " % self.number
        if sum(len(t) + 1 for t in texts) > 8 * len(texts):
            self.instrument.write_reals(header, [float(t) for t in texts])
        else:
            self.instrument.write_checked(header + ",".join(texts))

    @property
    def list_codes(self):
        """The channel's set points for the next waveform run as data codes, whole numbers 0 to
        65535 (0 to 16383 on the 14-bit device); ``[]`` when none is loaded or the list is of
        volts. They travel as one block of 16-bit words both ways, 65,536 of them in one
        message (see ``TQ2604X.write_codes``)."""
        return self.instrument.read_codes("SOUR%d:LIST:DATA?" % self.number)

    @list_codes.setter
    def list_codes(self, codes):
        checked = self.instrument.check_codes(_points(codes), "%s's list code" % self.name)
        self.instrument.write_codes("SOUR%d:LIST:DATA " % self.number, checked)

    def _list(self, query, cast):
        answer = self.instrument.ask_checked("SOUR%d:%s" % (self.number, query))
        return [cast(v) for v in answer.split(",")] if answer else []

    def __repr__(self):
        return "<%s %s>" % (type(self).__name__, self.name)


def _points(values):
    points = list(values)
    if not 1 <= len(points) <= 65536:
        raise ValueError("a list holds 1 to 65,536 points, not %d" % len(points))
    return points


class AllChannels:
    """All four outputs at once (``SOURce:ALL``), set only: reading raises LookupError."""

    def __init__(self, instrument):
        self.instrument = instrument

    def write_checked(self, command):
        # Every output moves: as long as the slowest ramp known, over the whole range.
        channels = [self.instrument.channel(n) for n in (1, 2, 3, 4)]
        seconds = max(ch._ramp_wait() for ch in channels)
        for ch in channels:
            ch._level = None
        self.instrument.write_checked("SOUR:ALL:" + command, seconds)

    @property
    def voltage(self):
        """Every output to the same voltage in volts, in DAC A's range (as the windows do)."""
        raise LookupError("all_channels is set only: read each channel")

    @voltage.setter
    def voltage(self, volts):
        text = number_text(volts, "the voltage")
        self.instrument.ch_a.check_voltage(float(volts))
        self.write_checked("VOLT " + text)

    @property
    def code(self):
        """Every data register to the same code: 0 to 65535 (0 to 16383 on the 14-bit device)."""
        raise LookupError("all_channels is set only: read each channel")

    @code.setter
    def code(self, value):
        self.write_checked("DATA %d" % self.instrument.check_code(value, "the code"))

    @property
    def offset(self):
        """Every offset register: -128 to 127 (eighths of an LSB), -4 to 3 on the 14-bit device."""
        raise LookupError("all_channels is set only: read each channel")

    @offset.setter
    def offset(self, value):
        self.write_checked("OFFS %d" % self.instrument.check_offset(value, "the offset"))

    @property
    def range(self):
        """Every coarse gain register by its full scale in volts: 10, 10.2564 or 10.5263."""
        raise LookupError("all_channels is set only: read each channel")

    @range.setter
    def range(self, full_scale):
        text = range_text(self.instrument, full_scale)
        self.instrument.forget_description()
        self.write_checked("VOLT:RANG " + text)

    @property
    def fine_gain(self):
        """Every fine gain register, -32 to 31."""
        raise LookupError("all_channels is set only: read each channel")

    @fine_gain.setter
    def fine_gain(self, value):
        self.write_checked("GAIN %d" % self.instrument.check_whole("fineGain", value,
                                                                   "the fine gain"))
