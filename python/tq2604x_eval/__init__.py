# SPDX-License-Identifier: GPL-3.0-or-later
"""Python driver for the TQ2604X evaluation board, served by ``tq2604x-eval --scpi PORT``."""

from ._protocol import TQ2604XError, TQ2604XPowerLossWarning, TQ2604XRunError
from .channels import AllChannels, Channel
from .driver import ListState, TQ2604X
from .lines import DigitalLine, Pins
from .meter import LinearityRow, Meter, MeterProgress

# The channel's name in earlier versions.
TQ2604XChannel = Channel

__all__ = ["TQ2604X", "TQ2604XError", "TQ2604XRunError", "TQ2604XPowerLossWarning", "Channel",
           "TQ2604XChannel", "AllChannels", "Pins", "DigitalLine", "Meter", "MeterProgress", "LinearityRow",
           "ListState"]
