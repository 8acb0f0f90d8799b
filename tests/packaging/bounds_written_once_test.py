"""Fails when a device's bound, code or model name is written again outside the one place that
holds it.

Usage: bounds_written_once_test.py SOURCE_DIR

core/ConverterProfile.h holds each device as one row (its model, resolution, codes, ranges, the
fine gain's and the offset's fields) and instrument/Description.cpp describes each setting once
from it; every check, answer and window reads them there. A number such as the fine gain's -32
or the 14-bit device's top code 16383 written into another file is a second copy that stops
following the profile. The code of the surfaces (instrument/, remote/, ui/, app/) is searched,
comments left out; the few fixed texts that the windows' design prescribes are listed below with
the reason they may stay.
"""

import os
import re
import sys

FOLDERS = ("instrument", "remote", "ui", "app")

# What may not be written again: a pattern and what it stands for.
FACTS = (
    (re.compile(r'"TQ2404"|"TQ2604X"'), "a model's name (ConverterProfile::model)"),
    (re.compile(r"(?<![\w.])16383(?![\w.])"), "the 14-bit top code (ConverterCoding::TopCode)"),
    (re.compile(r"(?<![\w.])65535(?![\w.])"), "the 16-bit top code (ConverterCoding::TopCode)"),
    (re.compile(r"(?<![\w.])-32(?![\w.])"), "the fine gain's lowest step (SignedSteps)"),
    (re.compile(r"(?<![\w.])-128(?![\w.])"), "the offset's lowest step (SignedSteps)"),
    (re.compile(r"(?<![\w.])(15\.875|7\.75)(?![\w.])"), "a field's highest shown value"),
    (re.compile(r"(?<![\w.])(10\.2564|10\.5263)(?![\w.])"), "a range (kRanges)"),
    (re.compile(r"Resolution\(\)\s*[!=]=\s*1[46]|\b1[46]\s*\?\s*"), "a device told by its bits"),
)

# file, the fact's text as written, why it stays.
ALLOWED = {
    ("remote/commands/Pins.cpp", "65535"): "REGister:WRITe takes the 16-bit register word",
    ("remote/commands/Status.cpp", "65535"): "an enable register is a 16-bit word",
    ("app/main.cpp", "65535"): "the highest port number",
    ("ui/main/ComposerPanel.cpp", "-32"): "the main window's design text of Label7",
    ("ui/main/ComposerPanel.cpp", "15.875"): "the main window's design text of Label9",
}


def code_lines(path):
    """The lines of a C++ file with // and /* */ comments blanked."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    # Strings stay (a model's name is one); comments go, line breaks kept.
    pattern = re.compile(r'"(?:\\.|[^"\\\n])*"|//[^\n]*|/\*.*?\*/', re.S)
    text = pattern.sub(
        lambda m: m.group(0) if m.group(0).startswith('"') else re.sub(r"[^\n]", " ", m.group(0)),
        text)
    return text.splitlines()


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    top = argv[1]
    found = []
    for folder in FOLDERS:
        for base, _, files in os.walk(os.path.join(top, folder)):
            for name in sorted(files):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(base, name)
                relative = os.path.relpath(path, top)
                for number, line in enumerate(code_lines(path), 1):
                    for pattern, fact in FACTS:
                        for match in pattern.finditer(line):
                            if (relative, match.group(0)) not in ALLOWED:
                                found.append(f"{relative}:{number}: {match.group(0)} is {fact}: "
                                             "read it from core/ConverterProfile.h or "
                                             "instrument/Description.h")
    for line in found:
        print(line)
    if not found:
        print("no bound, code or model name written outside the profile and the description")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
