# SPDX-License-Identifier: GPL-3.0-or-later
"""A pymeasure instrument for the TQ2604X evaluation board.

The board is driven by the ``tq2604x-eval`` program, which serves SCPI over TCP
(``tq2604x-eval --scpi 5025``, or ``--headless --scpi 5025`` without windows). Open it as
any raw-socket instrument::

    from tq2604x_eval import TQ2604X
    dac = TQ2604X("TCPIP::127.0.0.1::5025::SOCKET")
    dac.ch_b.voltage = 5.0
    print(dac.ch_b.voltage, dac.temperature)

Written for pymeasure 0.9 (Debian 12), which has no channel classes: each of the four outputs
is a small TQ2604XChannel object. Every setting is followed by a read of the error queue, and
an error the board reports is raised as TQ2604XError.
"""

import logging

from pymeasure.instruments import Instrument

log = logging.getLogger(__name__)
log.addHandler(logging.NullHandler())

RANGES = (10.0, 10.2564, 10.5263)


class TQ2604XError(Exception):
    """An error the board reported: ``code`` and ``message`` as SYSTem:ERRor? gave them."""

    def __init__(self, errors):
        self.errors = errors
        code, message = errors[0]
        self.code = code
        self.message = message
        super().__init__("; ".join("%d, %s" % e for e in errors))


class TQ2604XChannel:
    """One output of the board: DAC A (1) to DAC D (4)."""

    def __init__(self, instrument, number):
        if number not in (1, 2, 3, 4):
            raise ValueError("channels are 1 to 4 (DAC A to DAC D), not %r" % (number,))
        self.instrument = instrument
        self.number = number
        self.name = "DAC " + "ABCD"[number - 1]

    def _ask(self, query):
        return self.instrument.ask_checked("SOUR%d:%s" % (self.number, query))

    def _set(self, command):
        self.instrument.write_checked("SOUR%d:%s" % (self.number, command))

    @property
    def voltage(self):
        """Output voltage in volts: the code in the data register, in the channel's range."""
        return float(self._ask("VOLT?"))

    @voltage.setter
    def voltage(self, volts):
        self._set("VOLT %s" % _number(volts))

    @property
    def range(self):
        """Full scale in volts: 10, 10.2564 or 10.5263 (the coarse gain)."""
        return float(self._ask("VOLT:RANG?"))

    @range.setter
    def range(self, full_scale):
        if not any(abs(full_scale - r) <= 0.001 for r in RANGES):
            raise ValueError("the range is one of %s volts, not %r" % (RANGES, full_scale))
        self._set("VOLT:RANG %s" % _number(full_scale))

    @property
    def code(self):
        """The data register's code: 0 to 65535 (0 to 16383 on the 14-bit device)."""
        return int(self._ask("DATA?"))

    @code.setter
    def code(self, value):
        self._set("DATA %d" % int(value))

    @property
    def fine_gain(self):
        """The fine gain register as a signed number, -32 to 31."""
        return int(self._ask("GAIN?"))

    @fine_gain.setter
    def fine_gain(self, value):
        self._set("GAIN %d" % int(value))

    @property
    def offset(self):
        """The offset register as a signed number: -128 to 127 (eighths of an LSB)."""
        return int(self._ask("OFFS?"))

    @offset.setter
    def offset(self, value):
        self._set("OFFS %d" % int(value))

    @property
    def limits(self):
        """The allowed window of the output in volts, (low, high); None where none is set."""
        low = float(self._ask("VOLT:LIM:LOW?"))
        high = float(self._ask("VOLT:LIM:HIGH?"))
        return (None if low <= -9.9e37 else low, None if high >= 9.9e37 else high)

    @limits.setter
    def limits(self, window):
        """(low, high) in volts, None for no limit on that side; (None, None) removes both.

        The window must hold 0 V, the safe state.
        """
        low, high = window
        self._set("VOLT:LIM:LOW %s" % ("NONE" if low is None else _number(low)))
        self._set("VOLT:LIM:HIGH %s" % ("NONE" if high is None else _number(high)))

    @property
    def ramp(self):
        """(largest step in volts, wait between steps in seconds); the step is None without a ramp."""
        step = float(self._ask("VOLT:RAMP:STEP?"))
        wait = float(self._ask("VOLT:RAMP:WAIT?"))
        return (step or None, wait)

    @ramp.setter
    def ramp(self, setting):
        step, wait = setting
        self._set("VOLT:RAMP:WAIT %s" % _number(wait))
        self._set("VOLT:RAMP:STEP %s" % ("NONE" if step is None else _number(step)))

    def __repr__(self):
        return "<%s %s>" % (type(self).__name__, self.name)


class TQ2604X(Instrument):
    """The TQ2604X (16-bit) or TQ2404 (14-bit) evaluation board, four outputs."""

    def __init__(self, adapter, name="TQ2604X evaluation board", **kwargs):
        if isinstance(adapter, str):
            # The pure-Python VISA backend reaches a raw socket without a vendor library.
            kwargs.setdefault("visa_library", "@py")
            kwargs.setdefault("read_termination", "\n")
            kwargs.setdefault("write_termination", "\n")
            kwargs.setdefault("timeout", 5000)
        super().__init__(adapter, name, includeSCPI=True, **kwargs)
        self.channels = tuple(TQ2604XChannel(self, n) for n in (1, 2, 3, 4))
        self.ch_a, self.ch_b, self.ch_c, self.ch_d = self.channels

    temperature = Instrument.measurement(
        "MEAS:TEMP?", """The die temperature in degrees Celsius (not rounded).""")

    resolution = Instrument.measurement(
        "SYST:RES?", """The converter's resolution in bits: 16 or 14.""", cast=int)

    pulse_after_write = Instrument.control(
        "SOUR:PULS?", "SOUR:PULS %d",
        """Whether each data write pulses LDAC so the output changes at once (True/False).""",
        validator=lambda value, values: int(bool(value)),
        get_process=lambda value: bool(int(value)),
        check_set_errors=True)

    def ask_checked(self, query):
        """Asks a query; raises TQ2604XError if the board reported an error for it."""
        answer = self.ask(query).strip()
        errors = self.check_errors()
        if errors:
            raise TQ2604XError(errors)
        return answer

    def write_checked(self, command):
        """Sends a setting; raises TQ2604XError if the board refused it."""
        self.write(command)
        errors = self.check_errors()
        if errors:
            raise TQ2604XError(errors)

    def check_errors(self):
        """Reads the error queue until it is empty; returns [(code, message), ...].

        pymeasure 0.9's own check_errors does nothing, so it is done here.
        """
        errors = []
        for _ in range(17):  # the queue holds at most 16
            code, message = _error(self.ask("SYST:ERR?"))
            if code == 0:
                break
            log.error("%s: error %d, %s", self.name, code, message)
            errors.append((code, message))
        return errors

    def reset(self):
        """The safe state (*RST): every output to 0 V, ramped where a ramp is set."""
        self.write("*RST")

    def safe_state(self):
        """Every output to 0 V, ramped where a ramp is set; returns once the outputs are there."""
        self.write_checked("OUTP:SAFE")
        self.ask("*OPC?")

    def clear(self):
        """Empties this connection's error queue (*CLS)."""
        self.write("*CLS")

    def bench_voltage(self, channel):
        """On the simulated board only: channel 1-4's output as its built-in meter reads it."""
        return float(self.ask_checked("BENC:VOLT%d?" % channel))

    def shutdown(self):
        """Every output to 0 V, then the connection is closed."""
        self.reset()
        super().shutdown()


def _number(value):
    value = float(value)
    if value != value or value in (float("inf"), float("-inf")):
        raise ValueError("not a number: %r" % (value,))
    return repr(value)


def _error(answer):
    code, _, message = answer.strip().partition(",")
    return int(code), message.strip().strip('"')
