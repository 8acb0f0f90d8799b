"""Fails when a C or C++ source file of the tree is compiled by no target of the build.

Usage: sources_built_test.py SOURCE_DIR COMPILE_COMMANDS_JSON [FOLDER_NOT_BUILT...]

The targets name their sources one by one, so a file that none names is simply left out: a window
that never links, a test file whose tests never run. The build's compile_commands.json says what
is compiled; every .c and .cpp file below the source folder must be in it, apart from the folders
given (those this configuration does not build) and any build tree inside the source folder.
"""

import json
import os
import sys


def sources_in(top, skipped):
    for folder, subfolders, files in os.walk(top):
        relative = os.path.relpath(folder, top)
        # Build trees (they hold the generated moc files), hidden folders and the skipped ones. A
        # tree being configured beside the run (the test command's fuzz tree) has its CMakeFiles
        # with the compilers' probes before its CMakeCache.txt.
        subfolders[:] = sorted(
            name for name in subfolders
            if not name.startswith(".")
            and not any(os.path.exists(os.path.join(folder, name, mark))
                        for mark in ("CMakeCache.txt", "CMakeFiles"))
            and os.path.normpath(os.path.join(relative, name)) not in skipped)
        for name in files:
            if name.endswith((".c", ".cpp")):
                yield os.path.normpath(os.path.join(relative, name))


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    top = os.path.realpath(argv[1])
    with open(argv[2], encoding="utf-8") as f:
        commands = json.load(f)
    compiled = set()
    for command in commands:
        path = os.path.join(command["directory"], command["file"])
        compiled.add(os.path.relpath(os.path.realpath(path), top))
    skipped = {os.path.normpath(folder) for folder in argv[3:]}
    missing = [source for source in sources_in(top, skipped) if source not in compiled]
    for source in missing:
        print(f"{source}: no target builds it; add it to the SOURCES of its folder's "
              "CMakeLists.txt (or remove the file)")
    if not missing:
        print(f"all {len(compiled)} compiled files checked")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
