"""Moves: a move onto the file itself keeps it; a move deletes only what it
copied."""

import os

from harness import case, check, equal


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
    for flags, source, target in rows:
        for name in os.listdir(run.directory):
            os.remove(run.native(name))
        run.write("a.txt", "precious")
        if not run.windows:
            os.symlink("a.txt", run.native("link.txt"))
        result = run.zorov("-b", *flags, "-m", source, *target)
        what = "%r %r" % (flags, target)
        equal(result.code, 1, "%s: %r" % (what, result))
        check(" : Source, Destination are same file." in result.out, "%s: %r" % (what, result))
        equal(run.read("a.txt"), b"precious", what)
        made = sorted(set(os.listdir(run.directory)) - {"a.txt", "link.txt"})
        equal(made, [], "%s: nothing made" % what)


@case
def move_of_a_tree_onto_itself_keeps_every_file(run):
    run.write("dir/one", "1")
    run.write("dir/sub/two", "2")
    result = run.zorov("-b", "-a", "-m", "-s", "dir", "dir")
    equal(result.code, 1, result)
    equal(sorted(os.listdir(run.native("dir"))), ["one", "sub"], "nothing made")
    equal(sorted(os.listdir(run.native("dir/sub"))), ["two"], "nothing made below")
    equal(run.read("dir/one") + run.read("dir/sub/two"), b"12", "content")
