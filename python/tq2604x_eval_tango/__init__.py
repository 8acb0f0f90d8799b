# SPDX-License-Identifier: GPL-3.0-or-later
"""A Tango Controls device server for the TQ2604X evaluation board, over the Python driver:
``tq2604x-eval-tango INSTANCE`` (class ``TQ2604XEval``, one device per board)."""

from .device import TQ2604XEval, main

__all__ = ["TQ2604XEval", "main"]
