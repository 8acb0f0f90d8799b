# SPDX-License-Identifier: GPL-3.0-or-later
"""The Tango device of one board: ``tq2604x-eval-tango INSTANCE`` serves it, talking to the
program's protocol (``tq2604x-eval --scpi PORT``) at the resource in its ``Resource`` property.

Attributes per channel (``a`` to ``d`` for DAC A to DAC D): ``voltage_x`` (volts), ``range_x`` (the
full scale, 10, 10.2564 or 10.5263 V), ``code_x`` (the data register) and ``list_x`` (the points of
the next waveform run, volts), whose descriptions name the ranges and codes of the device in use as
the program describes them (``SYSTem:DESCription?``); for the board: ``temperature`` (the die,
polled), ``coding``, ``identity``, ``list_dwell`` and ``list_count``. Commands: SafeState, Reset,
RunList, Abort. State ON, MOVING while a ramp or a waveform run drives an output, FAULT while the
board (or the program) does not answer, ALARM after a setting of this device whose ramp was cut
short (the board lost, another client's safe state or reset), with the program's words in the
Status, until the next change of this device completes, and ALARM after the board lost power, with
the program's words of what it restored, until the next setting of this device completes.

The program judges every setting, as it does every client's: a refusal is a Tango error whose
description is the program's error (``-221,"Settings conflict; DAC B: 3 V is above its limit of
2 V"``) and nothing is written. A channel's output limits are its voltage attribute's alarm
levels (min_alarm, max_alarm), so that GUIs and alarm systems show them; they are not its
min_value/max_value, which Tango would enforce itself with limits that may be stale, since any
other client of the program may change them. Nor are the codes the program describes (another
client may choose the other device): they are the attributes' descriptions, and the program
refuses a code beyond them with its -222 naming them.
"""

import contextlib
import math
import time

import tango
from tango import AttrWriteType, DevState
from tango.server import Device, attribute, command, device_property, run
from tq2604x_eval.description import one_of_text

from . import board_state
from .link import Link, Refused, Unreachable

CHANNELS = "abcd"
CODINGS = ("BIN", "TWOS")  # the protocol's words, in the order of the enumeration's labels
NO_LIMIT = 9.9e37
# How long a state read stays good: a client asking State and Status in turn asks once.
STATE_AGE = 0.1

_STATES = {"ON": DevState.ON, "MOVING": DevState.MOVING, "FAULT": DevState.FAULT,
           "ALARM": DevState.ALARM}


def _number(value):
    """A value as the protocol's number text; NaN and infinities go as they are, for the
    program to refuse with its own words."""
    return repr(float(value))


def _texts(name, letter, described=None, n=1):
    """The descriptions of a channel's attributes: with the ranges and codes ``described``
    (the program's Description) gives for channel ``n``, or without them while none is read."""
    if described is None:
        ranges, codes = "one of the program's ranges", "the device's codes"
    else:
        ranges = one_of_text(described.values("range"))
        codes = "%d-%d (the %s, %d bits)" % (*described.bounds("data", n), described.model,
                                             described.resolution)
    return {
        "voltage": "%s's output: the code in its data register in its range (range_%s, full "
                   "scale %s V). Its output limits are the alarm levels; with a ramp set the "
                   "setting returns while the output ramps (State MOVING)"
                   % (name, letter, ranges),
        "range": "%s's full scale: %s V" % (name, ranges),
        "code": "%s's data register: %s" % (name, codes),
    }


def _channel(attr):
    return CHANNELS.index(attr.get_name()[-1].lower()) + 1


class TQ2604XEval(Device):
    """The TQ2604X (or TQ2404) evaluation board, through the program that drives it."""

    Resource = device_property(
        dtype=str, mandatory=True,
        doc="The program's protocol as a VISA resource: TCPIP::host::port::SOCKET "
            "(tq2604x-eval --scpi PORT --listen ADDRESS)")
    Timeout = device_property(
        dtype=float, default_value=2.0,
        doc="Seconds each answer of the program may take (within a Tango client's 3 s)")

    temperature = attribute(
        dtype=float, unit="°C", format="%.2f", polling_period=1000, abs_change=0.1,
        archive_abs_change=0.1, archive_period=60000,
        doc="The die temperature, as the main window's Measure button computes it")
    coding = attribute(
        dtype=tango.DevEnum, enum_labels=["binary", "twos-complement"],
        access=AttrWriteType.READ_WRITE, doc="The board's coding pin")
    identity = attribute(
        dtype=str, doc="*IDN?: TQ2604X-EVAL,<model>,<serial>,<version>")
    list_dwell = attribute(
        dtype=float, unit="s", access=AttrWriteType.READ_WRITE,
        doc="The time per step of a waveform run, 0 to 3600 s (0: as fast as the link allows)")
    list_count = attribute(
        dtype=int, access=AttrWriteType.READ_WRITE,
        doc="How many times the lists run, 1 to 10^9; 0: until Abort")

    # ---- Life ----------------------------------------------------------------------------------

    def init_device(self):
        super().init_device()
        self._link = Link(self.Resource, int(self.Timeout * 1000))
        self._status_model = None  # whether the program keeps the status registers; None: ask
        self._refreshed = -math.inf
        self._late = None  # why the last ramped setting did not end well
        self._power_loss = None  # what the program said when the board came back, until a setting
        self._alarms = {}
        self._described = None  # the resolution whose bounds the attributes' texts show
        self._show("ON", "Connecting to %s" % self.Resource)
        self._refresh(force=True)

    def delete_device(self):
        self._link.close()

    def initialize_dynamic_attributes(self):
        for letter in CHANNELS:
            name = "DAC " + letter.upper()
            self.add_attribute(attribute(
                name="voltage_" + letter, dtype=float, unit="V", format="%.5f",
                access=AttrWriteType.READ_WRITE, fget=self.read_voltage,
                fset=self.write_voltage,
                doc=_texts(name, letter)["voltage"]))
            self.add_attribute(attribute(
                name="range_" + letter, dtype=float, unit="V",
                access=AttrWriteType.READ_WRITE, fget=self.read_range, fset=self.write_range,
                doc=_texts(name, letter)["range"]))
            self.add_attribute(attribute(
                name="code_" + letter, dtype=int, access=AttrWriteType.READ_WRITE,
                fget=self.read_code, fset=self.write_code,
                doc=_texts(name, letter)["code"]))
            self.add_attribute(attribute(
                name="list_" + letter, dtype=(float,), max_dim_x=65536, unit="V",
                access=AttrWriteType.READ_WRITE, fget=self.read_list, fset=self.write_list,
                doc="%s's points of the next waveform run in volts (RunList)" % name))

        self._describe()

    def _describe(self):
        """The channels' attribute texts with the ranges and codes of the device in use, from
        the program's description of its settings; left as they are while it does not answer
        (asked again on the next State read that reaches it)."""
        try:
            described = self._link.call(lambda dac: dac.description(fresh=True))
        except (Refused, Unreachable):
            self._described = None
            return
        for n, letter in enumerate(CHANNELS, 1):
            for kind, text in _texts("DAC " + letter.upper(), letter, described, n).items():
                try:
                    attribute_ = self.get_device_attr().get_attr_by_name(kind + "_" + letter)
                except tango.DevFailed:  # not made yet: described once they are
                    return
                properties = attribute_.get_properties()
                if properties.description != text:
                    properties.description = text
                    attribute_.set_properties(properties)
        self._described = described.resolution

    # ---- State ---------------------------------------------------------------------------------

    def _show(self, state, status):
        self.set_state(_STATES[state])
        self.set_status(status)

    def _refresh(self, force=False):
        now = time.monotonic()
        if not force and now - self._refreshed < STATE_AGE:
            return
        self._refreshed = now
        try:
            if self._status_model is None:
                answer, _ = self._link.ask_raw("STAT:OPER:COND?")
                self._status_model = board_state.has_status_registers(answer)
            if self._status_model:
                answer, errors = self._link.ask_raw(board_state.STATUS_QUERY)
                if board_state.powered_on(answer) and not errors:
                    errors = self._link.call(lambda dac: dac.check_errors())
                self._power_loss = board_state.power_loss(answer, errors) or self._power_loss
                reading = board_state.from_status_registers(answer, errors)
                bits = board_state.resolution(answer)
                if bits is not None and bits != self._described:
                    self._describe()  # another client chose the other device
            else:
                reading = board_state.from_protocol(*self._link.ask_raw(board_state.FALLBACK_QUERY))
        except Unreachable as e:
            # The program started again may be another version: ask what it keeps then.
            self._status_model = None
            self._described = None
            reading = board_state.Reading("FAULT", str(e))
        late = self._link.late_outcome()
        if late is not None:
            self._late = late or None
        state, status = reading
        if self._power_loss and state != "FAULT":
            state, status = "ALARM", "The board lost power: %s\n%s" % (self._power_loss, status)
        if self._late:
            status += "\nThe last setting that ramped: " + self._late
            if state != "FAULT":
                state = "ALARM"
        self._show(state, status)

    def dev_state(self):
        self._refresh()
        return self.get_state()

    def dev_status(self):
        self._refresh()
        return self.get_status()

    # ---- Talking to the program ----------------------------------------------------------------

    @contextlib.contextmanager
    def _talking(self, what):
        """Errors of the program, the link or the driver as Tango errors with their words; a
        board that does not answer, or a program that does not, shows as FAULT at once."""
        try:
            yield
        except Refused as e:
            if e.hardware:
                self._show("FAULT", "The board does not answer: %s" % e)
                self._refreshed = time.monotonic()
            tango.Except.throw_exception(
                "TQ2604X_HARDWARE" if e.hardware else "TQ2604X_REFUSED", str(e), what)
        except Unreachable as e:
            self._show("FAULT", str(e))
            self._refreshed = time.monotonic()
            tango.Except.throw_exception("TQ2604X_UNREACHABLE", str(e), what)
        except ValueError as e:  # the driver's checks before sending (a list too long)
            tango.Except.throw_exception("TQ2604X_VALUE", str(e), what)

    def _ask(self, query, what):
        with self._talking(what):
            return self._link.ask(query)

    def _set(self, line, what):
        with self._talking(what):
            completed = self._link.set(line)
            # A change taken clears the alarm of one cut short before it; its own ramp's
            # outcome follows (late_outcome).
            self._late = None
            if completed:
                self._power_loss = None
            # A setting may start or end a movement: the next State read asks again.
            self._refreshed = -math.inf
            if not completed:
                self._refresh()  # it ramps: MOVING from now

    # ---- Channels ------------------------------------------------------------------------------

    def read_voltage(self, attr):
        n = _channel(attr)
        volts, low, high = (float(v) for v in self._ask(
            "SOUR%d:VOLT?;SOUR%d:VOLT:LIM:LOW?;SOUR%d:VOLT:LIM:HIGH?" % (n, n, n),
            "read " + attr.get_name()))
        self._show_limits(attr.get_name(), None if low <= -NO_LIMIT else low,
                          None if high >= NO_LIMIT else high)
        attr.set_value(volts)

    def _show_limits(self, name, low, high):
        """The output limits as the attribute's alarm levels, changed when they have."""
        if self._alarms.get(name) == (low, high):
            return
        attribute_ = self.get_device_attr().get_attr_by_name(name)
        properties = attribute_.get_properties()
        properties.min_alarm = "Not specified" if low is None else repr(low)
        properties.max_alarm = "Not specified" if high is None else repr(high)
        try:
            attribute_.set_properties(properties)
            self._alarms[name] = (low, high)
        except tango.DevFailed:  # a window of 0 V alone cannot be alarm levels
            pass

    def write_voltage(self, attr):
        self._set("SOUR%d:VOLT %s" % (_channel(attr), _number(attr.get_write_value())),
                  "write " + attr.get_name())

    def read_range(self, attr):
        attr.set_value(float(self._ask("SOUR%d:VOLT:RANG?" % _channel(attr),
                                       "read " + attr.get_name())[0]))

    def write_range(self, attr):
        self._set("SOUR%d:VOLT:RANG %s" % (_channel(attr), _number(attr.get_write_value())),
                  "write " + attr.get_name())

    def read_code(self, attr):
        attr.set_value(int(self._ask("SOUR%d:DATA?" % _channel(attr),
                                     "read " + attr.get_name())[0]))

    def write_code(self, attr):
        self._set("SOUR%d:DATA %d" % (_channel(attr), attr.get_write_value()),
                  "write " + attr.get_name())

    def read_list(self, attr):
        n = _channel(attr)
        with self._talking("read " + attr.get_name()):
            attr.set_value(self._link.call(lambda dac: dac.channel(n).list_volts))

    def write_list(self, attr):
        n = _channel(attr)
        points = [float(v) for v in attr.get_write_value()]
        with self._talking("write " + attr.get_name()):
            self._link.call(lambda dac: setattr(dac.channel(n), "list_volts", points))

    # ---- The board -----------------------------------------------------------------------------

    def read_temperature(self):
        return float(self._ask("MEAS:TEMP?", "read temperature")[0])

    def read_coding(self):
        return CODINGS.index(self._ask("SOUR:COD?", "read coding")[0])

    def write_coding(self, value):
        self._set("SOUR:COD %s" % CODINGS[value], "write coding")

    def read_identity(self):
        return ";".join(self._ask("*IDN?", "read identity"))

    def read_list_dwell(self):
        return float(self._ask("LIST:DWEL?", "read list_dwell")[0])

    def write_list_dwell(self, value):
        self._set("LIST:DWEL %s" % _number(value), "write list_dwell")

    def read_list_count(self):
        count = self._ask("LIST:COUN?", "read list_count")[0]
        return 0 if count == "INF" else int(count)

    def write_list_count(self, value):
        self._set("LIST:COUN %s" % ("INF" if value == 0 else int(value)), "write list_count")

    # ---- Commands ------------------------------------------------------------------------------

    @command
    def SafeState(self):
        """Every output to 0 V, running ramps and runs stopped first (OUTPut:SAFE); with a ramp
        set the outputs ramp down while the State is MOVING."""
        self._set("OUTP:SAFE", "SafeState")

    @command
    def Reset(self):
        """The program's reset (*RST): the safe state, as SafeState; also reconnects to a
        program that did not answer."""
        self._set("*RST", "Reset")

    @command
    def RunList(self):
        """Starts a waveform run with the loaded lists (list_a ... list_d, list_dwell,
        list_count); it returns at once, the State is MOVING while the run goes."""
        self._set("INIT", "RunList")

    @command
    def Abort(self):
        """Ends the waveform run before its next step; the outputs stay at the last step."""
        self._set("ABOR", "Abort")


def main(args=None, **kwargs):
    """Runs the device server: ``tq2604x-eval-tango INSTANCE [-v4]``."""
    return run((TQ2604XEval,), args=args, **kwargs)
