# SPDX-License-Identifier: GPL-3.0-or-later
"""The board's pins (``dac.pins``) and the converter's two digital lines (``dac.digital``)."""

from ._protocol import choice, measurement, switch
from ._protocol import level as _level


class _Part:
    """A group of headers under one prefix, the owner side of the property factories."""

    prefix = ""

    def __init__(self, instrument):
        self.instrument = instrument

    def values(self, command, **kwargs):
        return self.instrument.values(self.prefix + command, **kwargs)

    def write_checked(self, command):
        self.instrument.write_checked(self.prefix + command)


class Pins(_Part):
    """The board's control pins, each True (high) or False (low)."""

    prefix = "PIN:"

    ldac = switch(
        "LDAC",
        """The LDAC pin (True: high). While ``dac.pulse`` is on it stays high: setting it low
        is refused (-221) until ``dac.pulse = False``.""")

    clr = switch(
        "CLR",
        """The CLR pin (True: high); low holds every output at 0 V.""")

    rstin = switch(
        "RST",
        """The RSTIN pin (True: high).""")


class DigitalLine(_Part):
    """One of the converter's digital lines: ``dac.digital[1]`` is D0, ``dac.digital[2]`` is D1
    (the protocol's ``DIGital1`` and ``DIGital2``)."""

    def __init__(self, instrument, number):
        super().__init__(instrument)
        self.number = number
        self.name = "D%d" % (number - 1)
        self.prefix = "DIG%d:" % number

    direction = choice(
        "DIR?", "DIR %s",
        """``"output"`` (the converter drives the line) or ``"input"`` (the board drives
        it).""",
        {"output": "OUTput", "input": "INput"}, "the direction")

    level = switch(
        "LEV",
        """The level the converter drives while the line is its output (True: high); on an
        input it is refused (-221).""")

    drive = switch(
        "DRIV",
        """The level the board drives while the line is an input of the converter (True:
        high); on an output it is refused (-221).""")

    state = measurement(
        "STAT?",
        """The line's level as the converter reads it (True: high), read back from the
        function register.""",
        get_process=_level)

    def __repr__(self):
        return "<%s %s>" % (type(self).__name__, self.name)


class DigitalLines:
    """``dac.digital[1]`` (D0) and ``dac.digital[2]`` (D1), counted as the protocol counts."""

    def __init__(self, instrument):
        self._lines = (DigitalLine(instrument, 1), DigitalLine(instrument, 2))

    def __getitem__(self, number):
        if number not in (1, 2):
            raise IndexError("the digital lines are 1 (D0) and 2 (D1), not %r" % (number,))
        return self._lines[number - 1]

    def __iter__(self):
        return iter(self._lines)

    def __len__(self):
        return len(self._lines)
