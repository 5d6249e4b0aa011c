"""Fails when a file outside the platform layer asks which platform it is on."""

import os
import re
import sys

PATTERN = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|WIN32|__linux__|__unix__|"
                     r"__APPLE__|_MSC_VER|__MINGW32__|__MINGW64__|_POSIX_VERSION)\b")


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    offenders = []
    for base, _, files in os.walk(root):
        if os.path.basename(base) == "platform":
            continue
        for name in files:
            path = os.path.join(base, name)
            with open(path, encoding="utf-8", errors="replace") as handle:
                for number, line in enumerate(handle, 1):
                    if PATTERN.search(line):
                        offenders.append("%s:%d: %s" % (os.path.relpath(path, root), number, line.strip()))
    for line in offenders:
        print("platform conditional outside src/platform: " + line)
    print("platform conditionals outside src/platform: %d" % len(offenders))
    return 1 if offenders else 0


if __name__ == "__main__":
    sys.exit(main())
