"""Checks that the committed case folding table is what the generator makes
of the Unicode data this machine has, so that the table is never edited by
hand and a newer Unicode release is noticed.

usage: case_folding_check.py [CaseFolding.txt]
Exits 0 when the table matches, 1 when it doesn't (with the command that
brings it up to date), and 77 (skipped) when the data is missing.
"""

import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
TABLE = os.path.join(TOP, "src", "engine", "case_folding_table.cpp")
GENERATOR = os.path.join(TOP, "scripts", "case_folding.py")
DATA = "/usr/share/unicode/CaseFolding.txt"


def main(arguments):
    data = arguments[0] if arguments else DATA
    if not os.path.isfile(data):
        print("skipped: no Unicode data at %s (Debian's unicode-data package)" % data)
        return 77
    with tempfile.TemporaryDirectory() as scratch:
        made = os.path.join(scratch, "table.cpp")
        subprocess.run([sys.executable, GENERATOR, data, made], check=True)
        with open(made, encoding="utf-8") as fresh, open(TABLE, encoding="utf-8") as kept:
            if fresh.read() == kept.read():
                print("case folding table: matches %s" % data)
                return 0
    print("case folding table: differs from what %s gives; run" % data)
    print("  python3 scripts/case_folding.py %s src/engine/case_folding_table.cpp" % data)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
