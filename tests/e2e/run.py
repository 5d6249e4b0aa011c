"""Runs every end-to-end case against one build of the program.

usage: run.py PROGRAM [--wine WINE64] [NAME-FILTER ...]
Prints a line per case and ends with "N passed, N failed, N skipped".
"""

import glob
import importlib
import os
import subprocess
import sys
import tempfile

import harness


def main(arguments):
    program = arguments[0]
    wine = None
    rest = arguments[1:]
    if rest[:1] == ["--wine"]:
        wine = rest[1]
        rest = rest[2:]
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    for module in sorted(glob.glob(os.path.join(here, "cases_*.py"))):
        importlib.import_module(os.path.basename(module)[:-3])
    target = harness.Target(program, wine)
    prefix = None
    if wine:
        prefix = tempfile.mkdtemp(prefix="zorov-wine-")
        target.environment["WINEPREFIX"] = prefix
        server = os.path.join(os.path.dirname(wine), "wineserver")
        # One wine server for the whole run keeps each start short; the
        # prefix is made before the first case so no case waits for it.
        subprocess.run([server, "-p"], env=target.environment)
        subprocess.run([wine, "wineboot", "--init"], env=target.environment,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)
    try:
        passed, failed, skipped = harness.run_cases(target, rest)
    finally:
        if wine:
            subprocess.run([server, "-k"], env=target.environment)
            subprocess.run(["rm", "-rf", prefix])
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
