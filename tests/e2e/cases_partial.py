"""A copy that fails part-way never looks newer than its source, so a later
run with -n or -c repairs it and -pr still continues it."""

import os
import resource
import signal

from harness import case, equal

LIMIT = 100000


def limited_file_size():
    # Writes beyond the limit fail (EFBIG) instead of ending the process.
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, LIMIT))


@case
def partial_copy_is_repaired_by_a_newer_only_run(run):
    payload = bytes(range(256)) * 1000
    run.write("src", payload)
    for flags in ([], ["-e"], ["-f"]):
        name = "dst%s" % "".join(flags)
        if flags == ["-e"]:
            run.write(name, b"old", mtime=1000000000)
        result = run.zorov("-b", *flags, "src",
                           name, preexec=limited_file_size)
        equal(result.code, 1, "%r: %r" % (flags, result))
        equal(int(os.stat(run.native(name)).st_mtime), 0, "%r: modification time" % flags)
        if flags == ["-e"]:
            continue
        result = run.zorov("-b", "-n", "src", name)
        equal(result.code, 0, result)
        equal(run.read(name), payload, "%r: repaired by -n" % flags)
    # A restart still continues from what the failed copy left.
    os.truncate(run.native("dst"), 5000)
    os.utime(run.native("dst"), (0, 0))
    result = run.zorov("-b", "-pr", "src", "dst")
    equal(result.code, 0, result)
    equal(run.read("dst"), payload, "continued by -pr")
