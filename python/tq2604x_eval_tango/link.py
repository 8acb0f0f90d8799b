# SPDX-License-Identifier: GPL-3.0-or-later
"""The device's connections to the program, over the Python driver.

One connection reads (attributes and the state); settings go out on connections of their own.
A setting that moves an output by more than its ramp step returns only when the ramp has ended,
and the protocol holds that connection's next lines until then: so a setting waits a moment for
its answer (a refusal comes at once), and when none came the ramp is under way, the setting
returns, and its answer is read in the background while the connection stays out of use. Reads,
the state (MOVING) and settings of other channels go on meanwhile, as the program serves every
client between two ramp steps.
"""

import logging
import threading
import time

import pyvisa

from tq2604x_eval import TQ2604X, TQ2604XError
from tq2604x_eval._protocol import (CONFIGURATION_MEMORY_LOST, ERROR_CHECK, NOT_A_NUMBER,
                                    parse_error)

log = logging.getLogger(__name__)

# How long a setting waits for its answer before it counts as ramping (seconds). Well under the
# 3 s a Tango client waits by default.
SETTLE_WAIT = 0.6
# Settings whose ramps may run at once: each holds a connection of the program's 8.
MAX_SETTERS = 3
# A connection may take this long to open (seconds), and after a failure the program is not
# tried again for RETRY_AFTER: a host that does not answer must not hold every State read for
# the 10 s a connection may otherwise take.
OPEN_WAIT = 2.0
RETRY_AFTER = 3.0


class Refused(Exception):
    """The program refused a command: ``errors`` as SYSTem:ERRor? gave them, ``[(code,
    message), ...]``; str() is the first as the program writes it."""

    def __init__(self, errors):
        self.errors = list(errors)
        self.code, self.message = self.errors[0]
        super().__init__('%d,"%s"' % (self.code, self.message))

    @property
    def hardware(self):
        """A board request failed: the board does not answer."""
        return any(code == -240 for code, _ in self.errors)


class Unreachable(Exception):
    """The program does not answer at the resource (not running, or the connection broke)."""


def _connection_errors():
    return (pyvisa.errors.VisaIOError, OSError, EOFError)


class _Setter:
    """A connection for settings; ``busy`` while a ramp's answer is still to come."""

    def __init__(self, dac):
        self.dac = dac
        self.busy = False


class Link:
    """The program at ``resource``: opened on first use and again after it broke."""

    def __init__(self, resource, timeout_ms=5000):
        self.resource = resource
        self.timeout_ms = timeout_ms
        self._reader = None
        self._setters = []
        self._lock = threading.Lock()  # guards the setters and the late outcome
        self._late_outcome = None
        self._closed = False
        self._failed = None  # (when, why) of the last connection that could not be opened

    # ---- Connections -------------------------------------------------------------------------

    def _open(self):
        if self._failed is not None and time.monotonic() - self._failed[0] < RETRY_AFTER:
            raise Unreachable(self._failed[1])
        try:
            dac = TQ2604X(self.resource, timeout=self.timeout_ms,
                          open_timeout=int(OPEN_WAIT * 1000))
        except _connection_errors() as e:
            why = ("the program does not answer at %s (%s); is tq2604x-eval --scpi running "
                   "there?" % (self.resource, e))
            self._failed = (time.monotonic(), why)
            raise Unreachable(why) from None
        self._failed = None
        return dac

    @staticmethod
    def _close(dac):
        try:
            dac.adapter.connection.close()
        except Exception:  # already broken: nothing left to close
            pass

    def reader(self):
        if self._reader is None:
            self._reader = self._open()
        return self._reader

    def close(self):
        with self._lock:
            self._closed = True
            setters, self._setters = self._setters, []
        if self._reader is not None:
            self._close(self._reader)
            self._reader = None
        for setter in setters:
            self._close(setter.dac)

    def _broken(self, dac, error):
        """Forgets a connection that failed; raises Unreachable."""
        self._close(dac)
        if dac is self._reader:
            self._reader = None
        with self._lock:
            self._setters = [s for s in self._setters if s.dac is not dac]
        raise Unreachable("the connection to the program at %s broke (%s)"
                          % (self.resource, error)) from None

    # ---- Reads -------------------------------------------------------------------------------

    def ask(self, query):
        """A query line's answers, split at ``;``; a failed one raises Refused with its
        errors."""
        dac = self.reader()
        try:
            answer = dac.ask(query).strip()
            answers = answer.split(";")
            if NOT_A_NUMBER in answers:
                raise Refused(dac.check_errors() or [(-100, "%s failed" % query)])
            return answers
        except _connection_errors() as e:
            self._broken(dac, e)

    def ask_raw(self, query):
        """A query line's answer as it came, and the errors it queued (``[]`` when none)."""
        dac = self.reader()
        try:
            answer = dac.ask(query).strip()
            errors = dac.check_errors() if NOT_A_NUMBER in answer.split(";") else []
            return answer, errors
        except _connection_errors() as e:
            self._broken(dac, e)

    def call(self, function):
        """``function(dac)`` on the reading connection, the driver's errors mapped: for the
        driver's own members (lists) that check and send in one."""
        dac = self.reader()
        try:
            return function(dac)
        except TQ2604XError as e:
            raise Refused(e.errors) from None
        except _connection_errors() as e:
            self._broken(dac, e)

    # ---- Settings ----------------------------------------------------------------------------

    def _setter(self):
        with self._lock:
            for setter in self._setters:
                if not setter.busy:
                    setter.busy = True
                    return setter
            if len(self._setters) >= MAX_SETTERS:
                raise Refused([(-221, "Settings conflict; %d ramps of this device are still "
                                "running: set again once the State is no longer MOVING"
                                % len(self._setters))])
        setter = _Setter(self._open())
        setter.busy = True
        with self._lock:
            self._setters.append(setter)
        return setter

    def set(self, command):
        """Sends a setting with its error check. Returns True when it has completed, False
        when it is ramping (its outcome is read later, see ``late_outcome``); raises Refused
        with the program's errors."""
        setter = self._setter()
        dac = setter.dac
        connection = dac.adapter.connection
        try:
            connection.timeout = SETTLE_WAIT * 1000
            dac.adapter.write(command + ERROR_CHECK)
            try:
                answer = dac.adapter.read()
            except pyvisa.errors.VisaIOError as e:
                if e.error_code != pyvisa.constants.StatusCode.error_timeout:
                    raise
                threading.Thread(target=self._finish, args=(setter, command),
                                 name="tq2604x-ramp", daemon=True).start()
                return False
            connection.timeout = self.timeout_ms
            code, message = parse_error(answer)
            if code != 0:
                # A power loss before this setting is told to every connection; the State shows
                # it (ALARM), and it is not this setting's error.
                errors = [e for e in [(code, message)] + dac.check_errors()
                          if e[0] != CONFIGURATION_MEMORY_LOST]
                if errors:
                    raise Refused(errors)
            setter.busy = False
            return True
        except Refused:
            setter.busy = False
            raise
        except TQ2604XError as e:  # an answer that is not an error queue's
            setter.busy = False
            raise Refused(e.errors) from None
        except _connection_errors() as e:
            self._broken(dac, e)

    def _finish(self, setter, command):
        """Reads the answer of a ramping setting when the ramp has ended."""
        dac = setter.dac
        try:
            dac.adapter.connection.timeout = None  # as long as the ramp takes
            code, message = parse_error(dac.adapter.read())
            errors = [(code, message)] + dac.check_errors() if code else []
            dac.adapter.connection.timeout = self.timeout_ms
        except Exception as e:  # the connection broke or was closed
            with self._lock:
                if self._closed:
                    return
                self._setters = [s for s in self._setters if s is not setter]
                self._late_outcome = "%s: the connection broke before it ended (%s)" % (command, e)
            self._close(dac)
            return
        with self._lock:
            if errors:
                self._late_outcome = '%s ended with %d,"%s"' % ((command,) + errors[0])
                log.error("%s", self._late_outcome)
            else:
                self._late_outcome = ""
            setter.busy = False

    def late_outcome(self):
        """How the last setting that ramped ended since the last look: why it did not end
        well, "" when it did, None when none has ended; reading forgets it."""
        with self._lock:
            outcome, self._late_outcome = self._late_outcome, None
            return outcome

    def ramping_settings(self):
        """How many settings of this device are still ramping."""
        with self._lock:
            return sum(1 for s in self._setters if s.busy)
