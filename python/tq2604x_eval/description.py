# SPDX-License-Identifier: GPL-3.0-or-later
"""The program's description of the device and its settings (``SYSTem:DESCription?``), as one
connection keeps it: the driver's checks and the Tango device's attribute texts read their
bounds, ranges and device names here, never from numbers of their own.

The bounds of a setting whose ``follows`` names the resolution or the range change when any
client changes those: a check that finds a value outside the kept bounds reads the description
again before it refuses (``TQ2604X.present_bounds``), and the driver forgets it after its own
change of the range, the resolution or the whole setup.
"""

import json

from ._protocol import number_text


class Description:
    """One reading of ``SYSTem:DESCription?``: ``model``, ``resolution``, ``channels``,
    ``devices`` (``[(model, resolution), ...]``) and each setting by its name."""

    def __init__(self, text):
        data = json.loads(text)
        self.model = data["model"]
        self.resolution = int(data["resolution"])
        self.channels = int(data["channels"])
        self.devices = [(d["model"], int(d["resolution"])) for d in data["devices"]]
        self.settings = {s["name"]: s for s in data["settings"]}

    def bounds(self, name, channel=1):
        """The setting's present ``(min, max)`` on channel 1-4."""
        setting = self.settings[name]
        return setting["min"][channel - 1], setting["max"][channel - 1]

    def values(self, name):
        """The values a setting takes one of (a range's full scales)."""
        return self.settings[name]["values"]

    def unit(self, name):
        return self.settings[name].get("unit", "")

    def named(self, name, what):
        """``what`` with the device when the setting's bounds follow the resolution and this
        is not the widest device: ``the code on the 14-bit device``."""
        follows = self.settings[name].get("follows", ())
        if "resolution" in follows and self.resolution < max(r for _, r in self.devices):
            return "%s on the %d-bit device" % (what, self.resolution)
        return what

    def devices_text(self):
        """The resolutions the program knows, with their models: ``16 (TQ2604X) or 14
        (TQ2404)``."""
        return _one_or_other("%d (%s)" % (bits, model) for model, bits in self.devices)


def _one_or_other(items):
    items = list(items)
    return items[0] if len(items) == 1 else ", ".join(items[:-1]) + " or " + items[-1]


def one_of_text(numbers):
    """``10, 10.2564 or 10.5263`` for a list of numbers, each as the protocol writes it."""
    return _one_or_other(number_text(n) for n in numbers)
