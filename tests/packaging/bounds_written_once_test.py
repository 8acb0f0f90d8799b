"""Fails when a device's bound, code or model name is written again outside the one place that
holds it.

Usage: bounds_written_once_test.py SOURCE_DIR

core/ConverterProfile.h holds each device as one row (its model, resolution, codes, ranges, the
fine gain's and the offset's fields) and instrument/Description.cpp describes each setting once
from it; every check, answer and window reads them there. A number such as the fine gain's -32
or the 14-bit device's top code 16383 written into another file is a second copy that stops
following the profile. The code of the surfaces (instrument/, remote/, ui/, app/, and the Python
driver and Tango device in python/, which read the program's SYSTem:DESCription?) is searched,
comments and docstrings left out; the few fixed texts that the windows' design prescribes, and
the numbers that are another thing's, are listed below with the reason they may stay.

Bounds the Python code still writes, none of them a setting of the description: the waveform
run's dwell (0-3600 s) and count (1 to 10**9), the setup slots 0-9, the register write's address,
register and 16-bit word, the simulated board's die temperature, the meter's settings, and the
four channels (made with the driver, before it asks anything; both devices have four).
"""

import ast
import io
import os
import re
import sys
import tokenize

FOLDERS = ("instrument", "remote", "ui", "app", "python")
# The Python tests state the facts they check.
SKIPPED = ("python/tests",)

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

# The same facts as Python writes them: a model's name inside any string, a device told by its
# bits in a comparison or a tuple of both.
PYTHON_FACTS = FACTS[1:-1] + (
    (re.compile(r"\bTQ2404\b|[\"']TQ2604X[\"']"), "a model's name (the description's devices)"),
    (re.compile(r"[!=]=\s*1[46](?![\w.])|(?<![\w.])1[46]\s*[!=]=|\(\s*1[46]\s*,\s*1[46]\s*\)"),
     "a device told by its bits"),
)

# file, the fact's text as written, why it stays.
ALLOWED = {
    ("remote/commands/Pins.cpp", "65535"): "REGister:WRITe takes the 16-bit register word",
    ("remote/commands/Status.cpp", "65535"): "an enable register is a 16-bit word",
    ("app/Options.cpp", "65535"): "the highest port number",
    ("ui/main/ComposerPanel.cpp", "-32"): "the main window's design text of Label7",
    ("ui/main/ComposerPanel.cpp", "15.875"): "the main window's design text of Label9",
    ("python/tq2604x_eval/driver.py", "65535"): "REGister:WRITe takes the 16-bit register word",
    ("python/tq2604x_eval/__init__.py", '"TQ2604X"'): "the driver class's name in __all__",
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


def python_code_lines(path):
    """The lines of a Python file with comments and docstrings (a string standing alone as a
    statement) blanked."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    lines = [list(line) for line in text.splitlines()]

    def blank(start, end):
        (row, col), (end_row, end_col) = start, end
        for r in range(row, end_row + 1):
            line = lines[r - 1]
            for c in range(col if r == row else 0, end_col if r == end_row else len(line)):
                line[c] = " "

    for node in ast.walk(ast.parse(text, path)):
        if (isinstance(node, ast.Expr) and isinstance(node.value, ast.Constant)
                and isinstance(node.value.value, str)):
            # Column offsets count UTF-8 bytes; a docstring starts its line, so its
            # whole lines go.
            blank((node.lineno, 0), (node.end_lineno, len(lines[node.end_lineno - 1])))
    for token in tokenize.generate_tokens(io.StringIO(text).readline):
        if token.type == tokenize.COMMENT:
            blank(token.start, token.end)
    return ["".join(line) for line in lines]


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    top = argv[1]
    found = []
    for folder in FOLDERS:
        for base, _, files in os.walk(os.path.join(top, folder)):
            if os.path.relpath(base, top).startswith(SKIPPED):
                continue
            for name in sorted(files):
                path = os.path.join(base, name)
                relative = os.path.relpath(path, top)
                if name.endswith((".cpp", ".h")):
                    lines, facts = code_lines(path), FACTS
                elif name.endswith(".py"):
                    lines, facts = python_code_lines(path), PYTHON_FACTS
                else:
                    continue
                for number, line in enumerate(lines, 1):
                    for pattern, fact in facts:
                        for match in pattern.finditer(line):
                            if (relative, match.group(0)) not in ALLOWED:
                                found.append(f"{relative}:{number}: {match.group(0)} is {fact}: "
                                             "read it from core/ConverterProfile.h or "
                                             "instrument/Description.h (in Python: the "
                                             "program's description, TQ2604X.description())")
    for line in found:
        print(line)
    if not found:
        print("no bound, code or model name written outside the profile and the description")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
