"""Counts the results of a CTest run from its JUnit file (ctest --output-junit).

usage: ctest_results.py JUNIT-FILE [TEXT]
Prints the output of every test that failed (its last lines), then each
output line of any test that holds TEXT, then "N passed, N failed, N skipped".
A test CTest did not run for another reason than a skip it was told of (a
missing program, a setup that failed) is a failure. The wine prefix's setup
and cleanup are not tests of the program and are counted only when they fail.
"""

import sys
import xml.etree.ElementTree as ElementTree

SKIPS = ("SKIP_RETURN_CODE", "SKIP_REGULAR_EXPRESSION")
SHOWN_LINES = 60


def main(arguments):
    try:
        suite = ElementTree.parse(arguments[0]).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print("no results: %s" % error)
        print("0 passed, 1 failed, 0 skipped")
        return 1
    wanted = arguments[1] if len(arguments) > 1 else None
    passed = failed = skipped = 0
    found = []
    for test in suite.iter("testcase"):
        name = test.get("name")
        output = test.findtext("system-out") or ""
        skip = test.find("skipped")
        if test.get("status") == "run":
            if not name.startswith("wine_prefix_"):
                passed += 1
        elif skip is not None and skip.get("message", "").startswith(SKIPS):
            skipped += 1
        else:
            failed += 1
            reason = skip.get("message") if skip is not None else "failed"
            print("FAILED %s (%s)" % (name, reason))
            for line in output.splitlines()[-SHOWN_LINES:]:
                print("    " + line)
        if wanted:
            found += [line for line in output.splitlines() if wanted in line]
    for line in found:
        print(line)
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
