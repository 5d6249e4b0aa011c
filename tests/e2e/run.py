"""Runs the end-to-end cases against one build of the program.

usage: run.py PROGRAM [--wine WINE64 [--prefix DIR]] [NAME-FILTER ...]
       run.py PROGRAM [--wine WINE64 [--prefix DIR]] --case NAME
       run.py --list
Prints a line per case and ends with "N passed, N failed, N skipped". A
filter picks the cases whose names hold it; `--case` runs the one case of
that name and exits with 77 when it was skipped (CTest runs each case so).
`--prefix` runs under the wine prefix the caller made and removes; without
it a fresh one is made for the run. `--list` prints every case's name.
"""

import glob
import importlib
import os
import subprocess
import sys
import tempfile

import harness

SKIPPED = 77


def load_cases():
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    for module in sorted(glob.glob(os.path.join(here, "cases_*.py"))):
        importlib.import_module(os.path.basename(module)[:-3])


def option(rest, name):
    """The value of `name` at the front of `rest`, and what follows it."""
    if rest[:1] == [name]:
        return rest[1], rest[2:]
    return None, rest


def main(arguments):
    load_cases()
    if arguments == ["--list"]:
        for function in harness.CASES:
            print(function.__name__)
        return 0
    program = arguments[0]
    wine, rest = option(arguments[1:], "--wine")
    prefix, rest = option(rest, "--prefix")
    exact, rest = option(rest, "--case")
    target = harness.Target(program, wine)
    own_prefix = wine and not prefix
    if wine:
        if own_prefix:
            prefix = tempfile.mkdtemp(prefix="zorov-wine-")
        target.environment["WINEPREFIX"] = prefix
        server = os.path.join(os.path.dirname(wine), "wineserver")
    if own_prefix:
        # One wine server for the whole run keeps each start short; the
        # prefix is made before the first case so no case waits for it.
        subprocess.run([server, "-p"], env=target.environment)
        subprocess.run([wine, "wineboot", "--init"], env=target.environment,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)
    try:
        passed, failed, skipped = harness.run_cases(target, rest, exact)
    finally:
        if own_prefix:
            subprocess.run([server, "-k"], env=target.environment)
            subprocess.run(["rm", "-rf", prefix])
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    if exact is not None and passed + failed + skipped == 0:
        print("no case named %s" % exact)
        return 1
    if failed:
        return 1
    return SKIPPED if exact is not None and skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
