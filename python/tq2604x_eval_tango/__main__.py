# SPDX-License-Identifier: GPL-3.0-or-later
"""``python3 -m tq2604x_eval_tango INSTANCE``: the device server."""

from .device import main

main()
