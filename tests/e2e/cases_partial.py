"""A copy that fails part-way never looks newer than its source, so a later
run with -n or -c repairs it and -pr still continues it."""

import glob
import os
import resource
import signal

from harness import LEVEL_COPIED, LEVEL_FAILED, Skipped, case, check, equal

LIMIT = 100000


def limited_file_size():
    # Writes beyond the limit fail (EFBIG) instead of ending the process.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, LIMIT))


@case
def partial_copy_is_repaired_by_a_newer_only_run(run):
    payload = bytes(range(256)) * 1000
    # A source dated at or before 1970 leaves a partial copy older still,
    # by more than the 2 seconds within which -c takes two files as the same.
    rows = [  # flags, the source's time (None: now), the partial copy's
        ([], None, 0), (["-e"], None, 0), (["-f"], None, 0),
        ([], 0, -3), (["-f"], 0, -3), ([], -100000000, -100000003),
        (["-f"], -100000000, -100000003),
    ]
    for flags, source_time, mark in rows:
        label = "%r from %r" % (flags, source_time)
        run.write("src", payload, mtime=source_time)
        name = "dst%s%s" % ("".join(flags), source_time)
        if flags == ["-e"]:
            run.write(name, b"old", mtime=1000000000)
        result = run.zorov("-b", *flags, "src",
                           name, preexec=limited_file_size)
        equal(result.code, LEVEL_FAILED, "%s: %r" % (label, result))
        equal(int(os.stat(run.native(name)).st_mtime), mark, "%s: modification time" % label)
        if flags == ["-e"]:
            continue
        result = run.zorov("-b", "-n", "src", name)
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read(name), payload, "%s: repaired by -n" % label)
    name = "dst"
    run.write("src", payload)
    # A restart still continues from what the failed copy left.
    run.write(name, payload[:5000])
    os.utime(run.native("dst"), (0, 0))
    result = run.zorov("-b", "-pr", "src", "dst")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("dst"), payload, "continued by -pr")


@case
def write_beyond_the_file_size_limit_fails_like_any_write(run):
    if run.windows:
        raise Skipped("the file-size limit and its signal are the POSIX build's")

    def limit_only():
        # The signal keeps its default action, which would end the process.
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, LIMIT))

    rows = [  # flags, destination existed before
        ([], False),
        (["-f", "-m"], False),
        (["-os", "-m"], True),
        (["-os", "-f"], True),
    ]
    payload = bytes(range(256)) * 1000
    for flags, existed in rows:
        label = "%r" % flags
        for name in glob.glob(run.native("*")):
            os.remove(name)
        run.write("src", payload)
        if existed:
            run.write("dst", b"old", mtime=1000000000)
        result = run.zorov("-b", *flags, "src", "dst", preexec=limit_only)
        equal(result.code, LEVEL_FAILED, "%s: %r" % (label, result))
        reason = "File too large" if "-f" in flags else "Write error.   File too large"
        check(reason in result.out, "%s: the failed write is reported: %r" % (label, result))
        equal(run.read("src"), payload, label + ": the source stays")
        equal(glob.glob(run.native("dst_*")), [], label + ": no temporary file left")
        if existed:
            equal(run.read("dst"), b"old", label + ": the destination is as it was")
            equal(os.stat(run.native("dst")).st_mtime, 1000000000, label + ": and its time")
        else:
            equal(len(run.read("dst")), LIMIT, label + ": the partial destination stays")
            equal(os.stat(run.native("dst")).st_mtime, 0, label + ": and never looks newer")
