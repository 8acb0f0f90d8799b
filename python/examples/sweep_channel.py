#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Step one output of the TQ2604X board through a range of voltages and write a CSV.

    sweep_channel.py --resource TCPIP::127.0.0.1::5025::SOCKET --channel 2 \
        --start -10 --stop 10 --points 21 --csv sweep.csv

Each row holds the voltage asked for, the board's code and read-back voltage, and, on the
simulated board, the output its built-in meter reads (empty on a real board: read your own
meter there).
"""

import argparse
import csv
import sys
import time

from tq2604x_eval import TQ2604X, TQ2604XError


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--resource", default="TCPIP::127.0.0.1::5025::SOCKET")
    parser.add_argument("--channel", type=int, default=1, choices=(1, 2, 3, 4))
    parser.add_argument("--start", type=float, default=-10.0)
    parser.add_argument("--stop", type=float, default=10.0)
    parser.add_argument("--points", type=int, default=11)
    parser.add_argument("--settle", type=float, default=0.0, help="seconds after each step")
    parser.add_argument("--csv", default="-", help="output file ('-': standard output)")
    args = parser.parse_args(argv)
    if args.points < 2:
        parser.error("--points must be 2 or more")

    dac = TQ2604X(args.resource)
    channel = dac.channel(args.channel)
    simulated = ",SIMULATED," in dac.id
    out = sys.stdout if args.csv == "-" else open(args.csv, "w", newline="")
    try:
        writer = csv.writer(out)
        writer.writerow(["set_volts", "code", "readback_volts", "meter_volts"])
        for i in range(args.points):
            volts = args.start + (args.stop - args.start) * i / (args.points - 1)
            channel.voltage = volts
            time.sleep(args.settle)
            meter = dac.bench_voltage(args.channel) if simulated else ""
            writer.writerow(["%.6f" % volts, channel.code, channel.voltage, meter])
    except TQ2604XError as error:
        print("sweep_channel: the board refused a step: %s" % error, file=sys.stderr)
        return 1
    finally:
        if out is not sys.stdout:
            out.close()
        dac.adapter.connection.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
