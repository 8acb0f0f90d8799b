# SPDX-License-Identifier: GPL-3.0-or-later
"""The bench meter the program reads itself to calibrate channels and test their linearity
(``dac.meter``)."""

import collections
import time

from ._protocol import TQ2604XRunError, control, quoted, unquoted, whole_number
from .lines import _Part

MeterProgress = collections.namedtuple("MeterProgress", "state done total")
MeterProgress.__doc__ = """A meter run's progress: ``state`` (``IDLE``, ``RUNNING``, ``PROBE``,
``FINISHED``, ``FAILED`` or ``STOPPED``), the steps ``done`` and the ``total``."""

LinearityRow = collections.namedtuple("LinearityRow",
                                      "code set_volts reading_volts inl_lsb dnl_lsb")
LinearityRow.__doc__ = """One code of a linearity test: the ``code``, the output asked for and
the meter's reading in volts, the INL and DNL in LSB of the measured line. ``dnl_lsb`` is None
where the previous code is not the adjacent one: a step over several codes is no DNL."""

POLL_SECONDS = 0.02


def _whole(low, high, what):
    return lambda value, _values: whole_number(value, low, high, what)


def _text(what):
    return lambda value, _values: quoted(value, what)


def _commands(value, _values):
    if isinstance(value, str):
        value = [value]
    for command in value:
        if ";" in command:
            raise ValueError("give each set-up command on its own, not %r" % (command,))
    return quoted(";".join(value), "the set-up commands")


class Meter(_Part):
    """The bench meter: where it is, how it is read, and the runs that read it. A run owns the
    channels it drives until it ends; each channel then goes back to the code it held."""

    prefix = "MET:"

    address = control(
        "ADDR?", "ADDR %s",
        """The meter's address: ``TCPIP::host::port::SOCKET`` (a LAN meter, port 5025 for most)
        or ``/dev/usbtmcN`` (a USB meter through the kernel's usbtmc driver). Used at the next
        ``open()``.""",
        validator=_text("the meter's address"), get_process=unquoted, separator="\n")

    read_command = control(
        "COMM?", "COMM %s",
        """The query that takes one DC reading (default ``MEAS:VOLT:DC?``).""",
        validator=_text("the reading command"), get_process=unquoted, separator="\n")

    setup_commands = control(
        "SET?", "SET %s",
        """The set-up commands sent once after connecting, a list of strings (``[]``: none).""",
        validator=_commands,
        get_process=lambda v: [c for c in unquoted(v).split(";") if c], separator="\n")

    select_command = control(
        "SEL?", "SEL %s",
        """A scanner's channel selection, ``{ch}`` standing for 1-4 (``ROUT:CLOS (@10{ch})``);
        empty: a run waits for the probe to be moved (see ``calibrate``'s ``on_probe``).""",
        validator=_text("the selection command"), get_process=unquoted, separator="\n")

    timeout_ms = control(
        "TIME?", "TIME %d",
        """How long each of the meter's answers may take, in milliseconds: 1 to 600,000
        (default 2,000).""",
        validator=_whole(1, 600000, "the meter's timeout in ms"), cast=int)

    settle_ms = control(
        "SETT?", "SETT %d",
        """The wait after each output change before reading, in milliseconds: 0 to 600,000
        (default 100).""",
        validator=_whole(0, 600000, "the settling time in ms"), cast=int)

    count = control(
        "COUN?", "COUN %d",
        """Readings averaged at each code, 1 to 100 (default 2); their spread is the reported
        noise.""",
        validator=_whole(1, 100, "the readings a code"), cast=int)

    @property
    def is_open(self):
        """Whether the program holds a connection to the meter."""
        return self.instrument.ask_checked("MET:STAT?") == "OPEN"

    @property
    def idn(self):
        """The meter's ``*IDN?`` answer (empty until it is open)."""
        return unquoted(self.instrument.ask_checked("MET:IDN?"))

    def open(self, timeout=10):
        """Connects to the meter at ``address``, sends the set-up commands and ``*IDN?``, and
        returns once it is open; TimeoutError after ``timeout`` seconds. An address of neither
        form or a device file that cannot be opened raises TQ2604XError (-221) with the
        reason."""
        self.write_checked("OPEN")
        deadline = time.monotonic() + timeout
        while not self.is_open:
            if time.monotonic() > deadline:
                raise TimeoutError("the meter at %s is not open after %g s"
                                   % (self.address, timeout))
            time.sleep(POLL_SECONDS)

    @property
    def progress(self):
        """The run's progress as a MeterProgress(state, done, total)."""
        state, done, total = self.instrument.ask_checked("MET:PROG?").split(",")
        return MeterProgress(state, int(done), int(total))

    @property
    def report(self):
        """The last run's report (or why it ended), several lines of text."""
        return self.instrument.read_block("MET:RES?").decode("utf-8", "replace")

    def csv(self):
        """The finished linearity test as a list of LinearityRow, one per code in output order
        (``[]`` when there is none)."""
        text = self.instrument.read_block("MET:CSV?").decode("utf-8", "replace")
        rows = []
        for line in text.splitlines()[1:]:
            if line.strip():
                code, *rest = line.split(",")
                rows.append(LinearityRow(int(code),
                                         *(float(v) if v else None for v in rest)))
        return rows

    def calibrate(self, channel="ALL", on_probe=None, timeout=None):
        """Calibrates channel 1-4 (DAC A-D) or ``"ALL"``: the two calibration steps with the
        meter's readings, then a check at 0 V and zero scale. Returns the report once the run
        has finished; TQ2604XRunError (with the report) when it failed or was stopped. See
        ``wait_for_run`` for ``on_probe`` and ``timeout``."""
        if channel != "ALL":
            channel = whole_number(channel, 1, 4, "the channel")
        self.write_checked("CAL %s" % channel)
        return self.wait_for_run(on_probe, timeout)

    def linearity(self, channel, count, first=None, last=None, on_probe=None, timeout=None):
        """Steps channel 1-4 through ``count`` codes spread from ``first`` to ``last`` (default:
        the whole range, 0 to 65535 or 16383), reading at each. Returns the report once the run
        has finished; ``csv()`` then holds the rows. ``count`` = last - first + 1 takes every
        code."""
        channel = whole_number(channel, 1, 4, "the channel")
        top = self.instrument.top_code(fresh=True)
        count = whole_number(count, 2, top + 1, "the count of codes")
        command = "LIN %d,%d" % (channel, count)
        if first is not None or last is not None:
            first = self.instrument.check_code(0 if first is None else first, "the first code")
            last = self.instrument.check_code(top if last is None else last, "the last code")
            if last <= first:
                raise ValueError("the last code (%d) must be above the first (%d)" % (last, first))
            command += ",%d,%d" % (first, last)
        self.write_checked(command)
        return self.wait_for_run(on_probe, timeout)

    def wait_for_run(self, on_probe=None, timeout=None):
        """Waits for the meter run to end and returns its report. When the run waits for the
        probe to be moved (no ``select_command``: between the channels of a calibration),
        ``on_probe(request)`` is called with the run's words (``move the meter's probe to DAC
        B's output, then continue``) and the run goes on once it returns; without it
        RuntimeError says so and the run keeps waiting (``probe_moved()`` or ``stop()``).
        ``timeout``: seconds, None to wait as long as the run takes (TimeoutError, the run
        left running)."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            progress = self.progress
            if progress.state == "PROBE":
                request = self.report
                if on_probe is None:
                    raise RuntimeError("the meter run waits (step %d of %d): %s; call "
                                       "dac.meter.probe_moved() after, or set "
                                       "dac.meter.select_command for a scanner"
                                       % (progress.done, progress.total, request))
                on_probe(request)
                self.probe_moved()
                continue
            if progress.state not in ("RUNNING",):
                break
            if deadline is not None and time.monotonic() > deadline:
                raise TimeoutError("the meter run is still running after %g s (%d of %d)"
                                   % (timeout, progress.done, progress.total))
            time.sleep(POLL_SECONDS)
        report = self.report
        if progress.state != "FINISHED":
            # How it ended was queued (-200) for the connection that started it: said here,
            # once, with whatever else that connection had not read.
            told = [m for _, m in self.instrument.check_errors()]
            raise TQ2604XRunError("the meter run", progress.state,
                                  "\n".join(told + [report]) if told else report)
        return report

    def stop(self):
        """Ends the run; each channel it drove goes back to the code it held."""
        self.write_checked("STOP")

    def probe_moved(self):
        """Lets a run waiting for the probe (state ``PROBE``) go on."""
        self.write_checked("CONT")
