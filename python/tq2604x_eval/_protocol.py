# SPDX-License-Identifier: GPL-3.0-or-later
"""The protocol's pieces shared by the driver's parts: property factories in pymeasure's style,
validators, number and string text, and the parsing of errors and blocks."""

import logging
import math
import numbers
import os
import re
import sys
import warnings

from pymeasure.instruments import Instrument

log = logging.getLogger(__name__)
log.addHandler(logging.NullHandler())

_HERE = os.path.dirname(os.path.abspath(__file__))

# The longest line the program reads (bytes without the LF); a longer one is thrown away whole.
MAX_LINE = 1 << 20

# Sent after a setting on the same line, so that a setting costs one exchange: two writes would
# wait for the server's delayed acknowledgement (Nagle), some 40 ms each.
ERROR_CHECK = ";:SYST:ERR?"

# SCPI's not-a-number: the answer in place of a query that failed (its error is queued).
NOT_A_NUMBER = "9.91E+37"

# How a ramp or a run ended other than as it was made to, queued for the connection that
# started it: -200,"Execution error; DAC A ramp stopped at 2.001 V of 9 V: <why>".
EXECUTION_ERROR = -200

# Queued for every connection when the board answers again after it lost power, with what the
# program restored: -315,"Configuration memory lost; the board lost power: outputs at 0 V, ...".
# It tells of the board, not of the command whose check finds it.
CONFIGURATION_MEMORY_LOST = -315


class TQ2604XError(Exception):
    """An error the board reported: ``code`` and ``message`` of the first, ``errors`` all of
    them as ``[(code, message), ...]`` in the order SYSTem:ERRor? gave them."""

    def __init__(self, errors):
        self.errors = list(errors)
        self.code, self.message = self.errors[0]
        super().__init__("; ".join("%d, %s" % e for e in self.errors))


class TQ2604XPowerLossWarning(UserWarning):
    """The board lost power since this connection last looked: every output was brought to
    0 V and the program restored the ranges and calibration it knew (or says which it could not,
    until they are written again). ``message``: the program's words (its -315 error)."""

    def __init__(self, message):
        self.message = message
        super().__init__(message)


def power_losses(errors):
    """``errors`` without the power losses among them (CONFIGURATION_MEMORY_LOST), each of
    which is warned of (TQ2604XPowerLossWarning) and logged instead: the command that found
    them did what it was asked."""
    rest = []
    for code, message in errors:
        if code != CONFIGURATION_MEMORY_LOST:
            rest.append((code, message))
            continue
        log.warning("the board lost power: %d, %s", code, message)
        # Each loss is shown, also one whose words and place repeat an earlier one's, and at
        # the line of the caller's that found it.
        frame = sys._getframe(1)
        while frame.f_back and os.path.dirname(frame.f_code.co_filename) == _HERE:
            frame = frame.f_back
        warnings.warn_explicit(TQ2604XPowerLossWarning(message), TQ2604XPowerLossWarning,
                               frame.f_code.co_filename, frame.f_lineno,
                               module=frame.f_globals.get("__name__"), registry=None)
    return rest


class TQ2604XRunError(RuntimeError):
    """A waveform or meter run that ended other than finished: ``state`` (``FAILED`` or
    ``STOPPED``) and ``reason``, the program's own words (for a waveform run the execution
    error it queued, ``Execution error; list run failed at step 3 of 3: ...``; for a meter run,
    its report)."""

    def __init__(self, what, state, reason):
        self.state = state
        self.reason = reason
        super().__init__("%s ended %s: %s" % (what, state, reason or "no reason given"))


def control(get_command, set_command, docs, validator=lambda v, vs: v, values=(),
            map_values=False, get_process=lambda v: v, set_process=lambda v: v, **kwargs):
    """pymeasure's ``Instrument.control``, with the setting and its error check on one line.

    pymeasure 0.9 checks a setting (``check_set_errors``) with a second write after it, which
    waits for the delayed acknowledgement of the first; here the owner's ``write_checked``
    sends ``<setting>;:SYST:ERR?`` and raises TQ2604XError when the board refused it. The
    getter is pymeasure's own, through the owner's ``values``.
    """
    getter = Instrument.control(get_command, set_command, docs, validator, values, map_values,
                                get_process, set_process, **kwargs).fget
    return property(getter, _setter(set_command, validator, values, map_values, set_process),
                    doc=docs)


def setting(set_command, docs, validator=lambda v, vs: v, values=(), map_values=False,
            set_process=lambda v: v):
    """pymeasure's ``Instrument.setting`` (set only: reading raises LookupError), sent as
    ``control`` sends it."""
    getter = Instrument.setting(set_command, docs).fget
    return property(getter, _setter(set_command, validator, values, map_values, set_process),
                    doc=docs)


def choice(get_command, set_command, docs, words, what):
    """A setting that takes one of a fixed set of words, in pymeasure's way (a validator, then
    ``map_values`` over a dict). ``words`` maps each usual name to the instrument's word as its
    reference writes it, the short form in capitals: ``{"immediate": "IMMediate", "bus":
    "BUS"}``. Set, the usual name and the word's short and long forms are taken in any case
    (``"bus"``, ``"BUS"``, ``"Bus"``, ``"IMM"``, ``"immediate"``) and the short form is sent;
    read, the instrument's answer comes back as the usual name."""
    forms = Words(words, what)
    return control(get_command, set_command, docs, validator=forms.name, values=forms.short,
                   map_values=True, get_process=forms.answer, cast=str)


class Words:
    """The spellings of a fixed set of values, shared by every setting made with ``choice``:
    ``name(value)`` is the usual name a spelling stands for (ValueError naming them all
    otherwise), ``short`` maps each usual name to the word sent, ``answer(text)`` is the word
    sent for whatever form the instrument answers."""

    def __init__(self, words, what):
        self.what = what
        self.words = dict(words)
        self.short = {name: _short_form(word) for name, word in self.words.items()}
        self._names = {}
        for name, word in self.words.items():
            for form in (name, self.short[name], word):
                self._names[form.upper()] = name

    def name(self, value, _values=()):
        if isinstance(value, str) and value.strip().upper() in self._names:
            return self._names[value.strip().upper()]
        raise ValueError("%s is one of %s (or the instrument's %s, in any case), not %r"
                         % (self.what, ", ".join(map(repr, self.words)),
                            ", ".join(self.words.values()), value))

    def answer(self, text):
        name = self._names.get(str(text).strip().upper())
        if name is None:
            raise TQ2604XError([(-100, "%s answered %r, none of %s"
                                 % (self.what, text, ", ".join(self.words.values())))])
        return self.short[name]


def _short_form(word):
    """A mnemonic's short form: its capitals and digits (``"TWOScomplement"`` -> ``TWOS``)."""
    return "".join(c for c in word if not c.islower())


def level(value):
    """A 0/1 reply -> False/True."""
    return bool(int(value))


def switch(command, docs):
    """An on/off setting: ``<command>?`` reads it, ``<command> 0|1`` sets it; True or False
    in Python."""
    return control(command + "?", command + " %d", docs, validator=boolean, get_process=level)


def measurement(get_command, docs, **kwargs):
    """pymeasure's ``Instrument.measurement``: a query through the owner's ``values``."""
    return Instrument.measurement(get_command, docs, **kwargs)


def _setter(set_command, validator, values, map_values, set_process):
    def fset(self, value):
        value = set_process(validator(value, values))
        if map_values and isinstance(values, dict):
            value = values[value]
        elif map_values:
            value = values.index(value)
        self.write_checked(set_command % value)

    return fset


# ---- Validators: (value, values) -> the text or number to send, or ValueError ---------------

def boolean(value, _values=()):
    """True/False (or 1/0) -> 1/0."""
    if isinstance(value, (bool, numbers.Integral)) and value in (0, 1):
        return int(value)
    raise ValueError("expected True or False (1 or 0), not %r" % (value,))


def whole_number(value, low, high, what):
    """An integer from low to high; an integral float such as 3.0 counts, 1.7 does not."""
    if isinstance(value, bool):
        raise ValueError("%s is a whole number from %d to %d, not %r" % (what, low, high, value))
    if isinstance(value, numbers.Integral):
        number = int(value)
    elif isinstance(value, numbers.Real) and math.isfinite(value) and float(value).is_integer():
        number = int(value)
    else:
        raise ValueError("%s is a whole number from %d to %d, not %r" % (what, low, high, value))
    if not low <= number <= high:
        raise ValueError("%s is from %d to %d, not %d" % (what, low, high, number))
    return number


def number_text(value, what="the value"):
    """A finite number as the shortest text that reads back as the same double."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError("%s is a number, not %r" % (what, value))
    value = float(value)
    if not math.isfinite(value):
        raise ValueError("%s is a finite number, not %r" % (what, value))
    text = repr(value)
    if text.endswith(".0"):
        text = text[:-2]
    if text.startswith("0."):
        text = text[1:]
    elif text.startswith("-0."):
        text = "-" + text[2:]
    return "0" if text in ("", "-0") else text


def ranged_number(value, low, high, what, unit):
    """number_text for a value from low to high (in unit)."""
    text = number_text(value, what)
    if not low <= float(value) <= high:
        raise ValueError("%s is from %s %s to %s %s, not %s %s"
                         % (what, number_text(low), unit, number_text(high), unit, text, unit))
    return text


def quoted(text, what):
    """A string parameter, quotes doubled; a line break cannot travel inside a line."""
    if not isinstance(text, str):
        raise ValueError("%s is a string, not %r" % (what, text))
    if "\n" in text or "\r" in text:
        raise ValueError("%s cannot hold a line break: %r" % (what, text))
    return '"%s"' % text.replace('"', '""')


def unquoted(answer):
    """A quoted string answer as its text, doubled quotes single again."""
    answer = answer.strip()
    if len(answer) >= 2 and answer[0] == answer[-1] == '"':
        return answer[1:-1].replace('""', '"')
    return answer


def parse_error(answer):
    """A SYSTem:ERRor? answer as (code, message)."""
    code, _, message = answer.strip().partition(",")
    try:
        return int(code), unquoted(message)
    except ValueError:
        raise TQ2604XError([(-100, "not an error queue answer: %r" % (answer,))]) from None


_ERROR_ENTRY = re.compile(r'\s*(-?\d+),"((?:[^"]|"")*)"\s*(?:,|$)')


def parse_errors(answer):
    """A SYSTem:ERRor:ALL? answer (``<code>,"<text>"`` entries, comma-separated) as
    ``[(code, message), ...]``; ``0,"No error"`` is the empty list."""
    errors = []
    text = answer.strip()
    at = 0
    while at < len(text):
        entry = _ERROR_ENTRY.match(text, at)
        if not entry:
            raise TQ2604XError([(-100, "not an error queue answer: %r" % (answer,))])
        errors.append((int(entry.group(1)), entry.group(2).replace('""', '"')))
        at = entry.end()
    return [e for e in errors if e[0] != 0]


def block(data):
    """bytes as an IEEE 488.2 definite-length block."""
    length = str(len(data)).encode()
    return b"#%d%s%s" % (len(length), length, data)
