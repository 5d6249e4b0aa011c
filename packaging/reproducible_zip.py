"""Writes a .zip again so that two packages of one commit are the same bytes,
whoever makes them, wherever and in whatever time zone: the entries in name
order, each with the one time given (in UTC, also in the MS-DOS field, which
the archiver otherwise writes in local time), a regular file's mode 0644 or
0755 only, and no owner, access or change time. What the entries hold and
their names stay as they were.

usage: reproducible_zip.py ARCHIVE SECONDS
SECONDS is the time of the entries, in seconds since 1970 (the last
commit's); a time before 1980, which the MS-DOS field can't hold (a
SOURCE_DATE_EPOCH of 0), is taken as the start of 1980. The archive is
replaced when the new one is complete.
"""

import os
import struct
import sys
import time
import zipfile

UNIX = 3
REGULAR_FILE = 0o100000
EARLIEST = 315532800  # 1980-01-01 00:00:00 UTC


def entry(name, mode, seconds):
    info = zipfile.ZipInfo(name, time.gmtime(seconds)[:6])
    info.create_system = UNIX
    info.external_attr = (REGULAR_FILE | (0o755 if mode & 0o100 else 0o644)) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    # The same time to the second for an unpacker that reads it ("UT",
    # modification time only).
    info.extra = b"UT" + struct.pack("<HBI", 5, 1, seconds)
    return info


def rewrite(archive, seconds):
    with zipfile.ZipFile(archive) as original:
        entries = sorted(original.infolist(), key=lambda info: info.filename)
        folders = [info.filename for info in entries if info.is_dir()]
        if folders:
            raise SystemExit("%s: folder entries are not expected: %r" % (archive, folders))
        contents = [(info.filename, info.external_attr >> 16, original.read(info))
                    for info in entries]
    written = archive + ".part"
    with zipfile.ZipFile(written, "w") as output:
        for name, mode, data in contents:
            output.writestr(entry(name, mode, seconds), data, compresslevel=9)
    os.replace(written, archive)


def main(arguments):
    if len(arguments) != 2 or not arguments[1].isdigit():
        print(__doc__, file=sys.stderr)
        return 2
    rewrite(arguments[0], max(int(arguments[1]), EARLIEST))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
