"""Moves: a move onto the file itself keeps it; a move deletes only what it
copied."""

import os
import subprocess
import time

from harness import LEVEL_FAILED, case, check, equal


@case
def move_onto_itself_keeps_the_file(run):
    rows = [
        (["-a"], "a.txt", ["-to", "."]),
        (["-g2"], "a.txt", ["-to", "."]),
        (["-g1"], "a.txt", ["."]),
        ([], "a.txt", ["./a.txt"]),
        (["-a"], "a.txt", ["./a.txt"]),
    ]
    if not run.windows:  # a link the host makes is no link under wine
        rows.append((["-a"], "a.txt", ["link.txt"]))
    else:  # a stream of the source's own file is the source
        rows += [([], "a.txt", ["a.txt:meta"]), ([], "a.txt", ["A.TXT:meta"]),
                 (["-a"], "a.txt", ["a.txt:meta"])]
    for flags, source, target in rows:
        for name in os.listdir(run.directory):
            os.remove(run.native(name))
        run.write("a.txt", "precious")
        if not run.windows:
            os.symlink("a.txt", run.native("link.txt"))
        result = run.zorov("-b", *flags, "-m", source, *target)
        what = "%r %r" % (flags, target)
        equal(result.code, LEVEL_FAILED, "%s: %r" % (what, result))
        check(" : Source, Destination are same file." in result.out, "%s: %r" % (what, result))
        equal(run.read("a.txt"), b"precious", what)
        made = sorted(set(os.listdir(run.directory)) - {"a.txt", "link.txt"})
        equal(made, [], "%s: nothing made" % what)


@case
def move_of_a_tree_onto_itself_keeps_every_file(run):
    run.write("dir/one", "1")
    run.write("dir/sub/two", "2")
    result = run.zorov("-b", "-a", "-m", "-s", "dir", "dir")
    equal(result.code, LEVEL_FAILED, result)
    equal(sorted(os.listdir(run.native("dir"))), ["one", "sub"], "nothing made")
    equal(sorted(os.listdir(run.native("dir/sub"))), ["two"], "nothing made below")
    equal(run.read("dir/one") + run.read("dir/sub/two"), b"12", "content")


@case
def move_keeps_a_source_that_grew_during_the_copy(run):
    run.write("src", b"x" * 1000)
    # One block of 1000 bytes every 3 seconds: the read that finds the end
    # comes 3 seconds after the first, the write 3 seconds later.
    started = subprocess.Popen(run.target.command(["-b", "-m", "-i1000/3", "src", "dst"]),
                               cwd=run.directory, env=run.target.environment,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    deadline = time.time() + 60
    while not run.exists("dst") and time.time() < deadline and started.poll() is None:
        time.sleep(0.05)
    time.sleep(1.5)
    with open(run.native("src"), "ab") as handle:
        handle.write(b"more\n")
    out, err = started.communicate(timeout=120)
    out = run.console_text(out)
    equal(started.returncode, LEVEL_FAILED, "exit code: %r %r" % (out, err))
    equal(run.read("src"), b"x" * 1000 + b"more\n", "source kept")
    pair = "%s ===> %s" % (run.path("src"), run.path("dst"))
    check(out.endswith(pair + " : Source changed during the copy.  It is not deleted.\n"), out)
