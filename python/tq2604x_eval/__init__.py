# SPDX-License-Identifier: GPL-3.0-or-later
"""Python driver for the TQ2604X evaluation board, served by ``tq2604x-eval --scpi PORT``."""

from .driver import TQ2604X, TQ2604XChannel, TQ2604XError

__all__ = ["TQ2604X", "TQ2604XChannel", "TQ2604XError"]
