#!/usr/bin/env python3
"""Writes the table of Unicode simple case folding that the same-file rule
uses to tell spellings of one name by letter case.

usage: case_folding.py CaseFolding.txt OUTPUT.cpp

CaseFolding.txt is the Unicode Character Database file (Debian's
unicode-data package installs it as /usr/share/unicode/CaseFolding.txt).
The mappings of status C (common) and S (simple) are taken; F (full, where
one letter becomes several) and T (Turkic) are not, as file systems fold
letter by letter and without regard to language.

The mappings are written as runs: letters that follow one another at a
step of 1 or 2 and fold by the same distance, as most alphabets lay out
their capitals and small letters. A run never spans a letter of another
run, so a binary search over the runs finds the one run a letter can be in.
"""

import re
import sys

LINE = re.compile(r"^([0-9A-F]+); ([CS]); ([0-9A-F]+);")


def read_mappings(path):
    """The version line of the file and the sorted (letter, folded) pairs."""
    version = None
    pairs = []
    with open(path, encoding="utf-8") as data:
        for line in data:
            if version is None and line.startswith("# CaseFolding-"):
                version = line[2:].strip()
            match = LINE.match(line)
            if match:
                pairs.append((int(match.group(1), 16), int(match.group(3), 16)))
    if not pairs:
        raise SystemExit("%s holds no case folding of status C or S" % path)
    return version or "an unnamed version", sorted(pairs)


def runs_of(pairs):
    """(first, last, delta, step) runs covering every pair exactly."""
    letters = set(letter for letter, _ in pairs)
    runs = []
    for letter, folded in pairs:
        delta = folded - letter
        if runs:
            first, last, run_delta, step = runs[-1]
            gap = letter - last
            fits_step = gap == step or (first == last and gap in (1, 2))
            # A step of 2 passes over one letter, which must not fold.
            skips_free = gap == 1 or (last + 1) not in letters
            if run_delta == delta and fits_step and skips_free:
                runs[-1] = (first, letter, delta, gap)
                continue
        runs.append((letter, letter, delta, 1))
    return runs


def table_source(version, runs):
    lines = [
        "// Generated from the Unicode Character Database (%s) by" % version,
        "// scripts/case_folding.py; do not edit. To bring it up to date with newer",
        "// Unicode data (Debian's unicode-data package keeps CaseFolding.txt in",
        "// /usr/share/unicode), run from the top of the tree:",
        "//   python3 scripts/case_folding.py CaseFolding.txt src/engine/case_folding_table.cpp",
        '#include "engine/case_folding.h"',
        "",
        "namespace zorov {",
        "",
        "// clang-format off",
        "const CaseFoldRun case_fold_runs[] = {",
    ]
    for first, last, delta, step in runs:
        lines.append("    {0x%05X, 0x%05X, %d, %d}," % (first, last, delta, step))
    lines += [
        "};",
        "// clang-format on",
        "",
        "const size_t case_fold_run_count = sizeof case_fold_runs / sizeof case_fold_runs[0];",
        "",
        "} // namespace zorov",
        "",
    ]
    return "\n".join(lines)


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: case_folding.py CaseFolding.txt OUTPUT.cpp")
    version, pairs = read_mappings(sys.argv[1])
    with open(sys.argv[2], "w", encoding="utf-8", newline="\n") as output:
        output.write(table_source(version, runs_of(pairs)))


if __name__ == "__main__":
    main()
