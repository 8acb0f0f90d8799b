#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""No function of the program is longer than a screenful or two (80 lines).

A brace scan of the program's C++ files (everything but tests/, bench/ and build folders): a
function's length runs from the first line of its signature to its closing brace, lambdas inside
a function counting as part of it; a lambda in a table at namespace scope counts on its own.
Comments, strings and character literals are blanked first so that their braces do not count.

    /usr/bin/python3 tests/packaging/function_lengths_test.py SOURCE_DIR [LIMIT]

prints every function over LIMIT lines (80 unless given), longest first, and exits 1 if any.
"""
import os
import re
import sys

SKIPPED_FOLDERS = {"tests", "bench", ".git"}
HEAD_END = re.compile(r"\)\s*(const|override|final|noexcept|mutable|->[^;{}]*|\s)*$")


def blank_comments_and_literals(text):
    """The text with comments, strings and characters replaced by blanks, line breaks kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif c == "R" and text.startswith('R"', i) and not (i and (text[i - 1].isalnum() or text[i - 1] == "_")):
            delimiter = text[i + 2:text.find("(", i + 2)]
            end = text.find(")" + delimiter + '"', i)
            end = n if end < 0 else end + len(delimiter) + 2
        elif c in "\"'" and not (c == "'" and i and text[i - 1].isalnum()):
            end = i + 1
            while end < n and text[end] != c and text[end] != "\n":
                end += 2 if text[end] == "\\" else 1
            end = min(end + 1, n)
        else:
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:end]))
        i = end
    return "".join(out)


def functions(text):
    """(name, first line, last line) of every function body in the text."""
    code = blank_comments_and_literals(text)
    # Preprocessor lines are no part of a head.
    code = re.sub(r"(?m)^[ \t]*#.*$", lambda m: " " * len(m.group(0)), code)
    found = []
    # Per open brace: (kind, name, first line); the kind is "function", "scope" (a namespace or
    # class), "initialiser" (a member's braces before a constructor's body) or "other".
    stack = []
    head_start = 0
    line = 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        if c not in "{};":
            continue
        head = code[head_start:i]
        if c == ";":
            head_start = i + 1
            continue
        if c == "}":
            kind, name, first = stack.pop() if stack else ("other", None, None)
            if kind == "function" and all(k != "function" for k, _, _ in stack):
                found.append((name, first, line))
            if kind != "initialiser":
                head_start = i + 1
            continue
        words = head.strip()
        kind = "other"
        if any(k == "function" for k, _, _ in stack):
            pass  # a block or lambda of the function it is in
        elif re.search(r"\)\s*:[^:].*[\w>]$", words, re.S):
            stack.append(("initialiser", None, None))  # a member's braces: the head goes on
            continue
        elif re.search(r"\bnamespace\b", words) or re.fullmatch(r"extern\s*", words):
            kind = "scope"
        elif re.match(r"(template\s*<.*>\s*)?(class|struct|union|enum)\b", words, re.S) and \
                not HEAD_END.search(words):
            kind = "scope"
        elif "(" in words and HEAD_END.search(words):
            kind = "function"  # a function, or a lambda in a table
        elif re.search(r"\)\s*:[^:]", words):
            kind = "function"  # a constructor with its member initialisers
        name = re.sub(r"\s+", " ", words.split("(")[0]).strip().split(" ")[-1] or "lambda"
        stack.append((kind, name, line - head.lstrip().count("\n")))
        head_start = i + 1
    return found


# What the scan must see, so that no long function slips past it unseen: a source and the
# (name, first line, last line) of each function in it.
SCANS = [
    ("namespace a {\nint f(int x) {\n    if (x) {\n        return 1;\n    }\n    return 0;\n}\n}\n",
     [("f", 2, 7)]),
    # Member initialisers in braces are part of the constructor's head.
    ("S::S(int v)\n    : x_{v}, y_(v) {\n    Go();\n}\n", [("S::S", 1, 4)]),
    # Methods in a class; braces in strings, characters and comments do not count.
    ("struct S {\n    int g() const {\n        return '}' + 1;  // }\n    }\n};\n"
     "void h() {\n    const char* t = \"{\";\n    /* { */\n}\n",
     [("g", 2, 4), ("h", 6, 9)]),
    # A lambda in a function is part of it; a lambda in a table at namespace scope counts alone.
    ("void k() {\n    auto l = [](int v) {\n        return v;\n    };\n}\n"
     "constexpr Row kRows[] = {\n    {\"a\", [](int v) {\n         return v;\n     }},\n};\n",
     [("k", 1, 5), ("[]", 7, 9)]),
    # A signature over several lines counts from its first; enums and tables are no functions.
    ("template <typename T>\nT Sum(const T& a,\n      const T& b) {\n    return a + b;\n}\n"
     "enum class E { A, B };\nconst int kTable[] = {1, 2};\n",
     [("Sum", 1, 5)]),
]


def check_scan():
    """The scan's own worked examples; the first it gets wrong, or None."""
    for text, expected in SCANS:
        if functions(text) != expected:
            return f"the scan of\n{text}\nfound {functions(text)}, not {expected}"
    return None


def main():
    root = sys.argv[1]
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 80
    wrong = check_scan()
    if wrong:
        print(wrong)
        return 1
    long_ones = []
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = sorted(d for d in subfolders
                               if d not in SKIPPED_FOLDERS and not d.startswith("build"))
        for name in sorted(files):
            if not name.endswith((".cpp", ".h", ".c")):
                continue
            path = os.path.join(folder, name)
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for function, first, last in functions(text):
                length = last - first + 1
                if length > limit:
                    long_ones.append((length, os.path.relpath(path, root), first, function))
    for length, path, first, function in sorted(long_ones, reverse=True):
        print(f"{path}:{first}: {function} is {length} lines (at most {limit})")
    return 1 if long_ones else 0


if __name__ == "__main__":
    sys.exit(main())
