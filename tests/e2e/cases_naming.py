"""Source naming: response files, wildcards, directory sources and trees."""

import os

from harness import LEVEL_COPIED, LEVEL_FAILED, LEVEL_STOPPED, Skipped, case, check, equal


def ok_line(source, destination):
    return "%s ===> %s : Ok\n" % (source, destination)


def joined(run, target, below):
    """A destination the tree copy forms: the resolved target, "/" and names."""
    return run.path(target) + "/" + below


def created(name):
    return "Directory: %s has been created.\n" % name


def make_tree(run):
    run.write("src/a.txt", "A")
    run.write("src/sub/b.txt", "B")
    run.write("src/sub/deep/c.txt", "C")
    os.makedirs(run.native("src/empty"))


@case
def naming_response_file_lines_are_sources(run):
    run.write("a.txt", "A")
    run.write("b.txt", "B")
    run.write("list", "a.txt\r\n\r\nb.txt")
    result = run.zorov("-b", "@list", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, created(run.path("t")) +
          ok_line(run.path("a.txt"), run.path("t/a.txt")) +
          ok_line(run.path("b.txt"), run.path("t/b.txt")), "stdout")
    equal(result.err, "", "stderr")


@case
def naming_response_lines_that_are_no_name_are_refused(run):
    run.write("keep", "K")
    run.write("a.txt", "A")
    os.makedirs(run.native("out"))
    separator = "\\" if run.windows else "/"
    limit = 259 if run.windows else 4095  # the longest name
    # Lines whose first `limit` characters name a.txt and the directory out.
    too_long_source = ("." + separator) * ((limit - 5) // 2) + "a.txt" + "zzzzz"
    too_long_target = ("." + separator) * ((limit - 3) // 2) + "outX" + separator + "dir" + \
        separator
    rows = [  # what the message says, the source line, the target line
        ("holds a NUL byte", b"keep\x00.tmp", b"out\x00x" + separator.encode()),
        ("is too long to be a name", too_long_source.encode(), too_long_target.encode()),
    ]
    for index, (said, source_line, target_line) in enumerate(rows):
        run.write("list", source_line + b"\n")
        run.write("targets", target_line + b"\n")
        result = run.zorov("-b", "-m", "-lrun.log", "@list", "-to", "t%d/" % index, "@targets")
        equal(result.code, LEVEL_STOPPED, result)
        refused = "%s: A line of this response file " + said + "; passed over.\n"
        equal(result.out, created(run.path("t%d" % index)) + refused % "list" +
              refused % "targets", "stdout")
        equal(run.read("keep") + run.read("a.txt"), b"KA", "no file named by a piece is moved")
        equal(os.listdir(run.native("t%d" % index)) + os.listdir(run.native("out")), [],
              "nothing copied")
        check(not run.exists("X") and not run.exists("w"), "no target made of a piece")
        check(refused % "list" in run.text_lines("run.log"), "logged")


@case
def naming_lists_from_everyday_tools(run):
    """A UTF-8 list with a byte-order mark, and a UTF-16 one as PowerShell
    and Notepad write them; UTF-16 without its mark is still refused."""
    cyrillic = "\u0444\u0430\u0439\u043b.txt"  # beyond any 8-bit code page
    run.write("a.txt", "A")
    run.write(cyrillic, "F")
    run.write("marked.txt", b"\xef\xbb\xbft1\r\n")
    run.write("ps.txt", ("\ufeffa.txt\r\n%s\r\n" % cyrillic).encode("utf-16-le"))
    run.write("unmarked.txt", "a.txt\r\n".encode("utf-16-le"))
    result = run.zorov("-b", "@ps.txt", "@unmarked.txt", "-to", "@marked.txt",
                       environment={"LC_ALL": "C.UTF-8"})
    equal(result.code, LEVEL_FAILED, result)
    check("unmarked.txt: A line of this response file holds a NUL byte; passed over.\n"
          in result.out, result)
    equal(sorted(os.listdir(run.native("t1"))), ["a.txt", cyrillic], "copied into t1")
    equal(run.read("t1/" + cyrillic), b"F", "the UTF-16 name")
    equal(sorted(os.listdir(run.directory)),
          sorted(["a.txt", cyrillic, "marked.txt", "ps.txt", "unmarked.txt", "t1"]),
          "no directory named with the mark")


@case
def naming_target_line_that_fills_the_buffer_is_one_line(run):
    run.write("src/keep.txt", "new")
    run.write("keep.txt", "precious")
    os.makedirs(run.native("tttttt"))
    # 259 characters on Windows, 4095 bytes on POSIX: the whole line buffer.
    if run.windows:
        line = ".\\" * 126 + "tttttt\\"
    else:
        line = "./" * 2044 + "tttttt/"
    equal(len(line), 259 if run.windows else 4095, "line length")
    run.write("tl.txt", line + "\r\n")
    result = run.zorov("-b", "src/keep.txt", "@tl.txt")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("tttttt/keep.txt"), b"new", "copied to the listed directory")
    equal(run.read("keep.txt"), b"precious", "the current directory is no target")


@case
def naming_response_file_is_read_for_every_target(run):
    run.write("a.txt", "A")
    run.write("list", "a.txt\n")
    result = run.zorov("-b", "-q", "@list", "-to", "t1/", "t2/")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("t1/a.txt"), b"A", "first target")
    equal(run.read("t2/a.txt"), b"A", "second target")


@case
def naming_missing_response_file_is_reported_and_passed_over(run):
    run.write("a.txt", "A")
    result = run.zorov("-b", "-lrun.log", "@missing", "a.txt", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, created(run.path("t")) + "missing: Unable to open response file\n" +
          ok_line(run.path("a.txt"), run.path("t/a.txt")), "stdout")
    check("missing: Unable to open response file\n" in run.text_lines("run.log"), "logged")


@case
def naming_response_file_that_cannot_be_read_is_a_failure(run):
    unreadable = "/sys/class/net/lo/speed"  # opens, but its reads fail
    reason = None
    # A machine without it (or where it reads) has nothing to show here.
    if not run.windows and os.path.exists(unreadable):
        with open(unreadable, "rb") as handle:
            try:
                handle.read()
            except OSError as error:
                reason = error.strerror
    if reason is None:
        raise Skipped("no file here whose reads fail")
    result = run.zorov("-b", "@" + unreadable, "t/")
    equal(result.code, LEVEL_FAILED, result)
    check(unreadable + ": Unable to read response file.  " + reason + "\n" in result.out, result)


@case
def naming_file_literally_named_with_at_sign(run):
    run.write("@name", "N")
    result = run.zorov("-b", "@name", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("t/@name"), b"N", "copy")


@case
def naming_response_file_lines_are_taken_literally(run):
    run.write("x.log", "X")
    run.write("list", "*.log\n")
    result = run.zorov("-b", "-q", "@list", "t/")
    equal(result.code, LEVEL_FAILED, result)
    check(not run.exists("t/x.log"), "no expansion of a listed name")


@case
def naming_wildcard_passes_over_hidden_files_and_directories(run):
    run.write("w/a.txt", "A")
    run.write("w/.h.txt", "H")
    run.write("w/d.txt/inner", "D")
    result = run.zorov("-b", "w/*.txt", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, created(run.path("t")) +
          ok_line(run.path("w/a.txt"), run.path("t/a.txt")), "stdout")
    result = run.zorov("-b", "-h", "w/*.txt", "u/")
    equal(result.code, LEVEL_COPIED, result)
    equal(sorted(os.listdir(run.native("u"))), [".h.txt", "a.txt"], "with -h")
    check(not run.exists("t/d.txt") and not run.exists("u/d.txt"), "directory never matched")


@case
def naming_pattern_without_matches_is_dropped_silently(run):
    run.write("a.txt", "A")
    result = run.zorov("-b", "none*.zzz", "gone/*.txt", "a.txt", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, created(run.path("t")) +
          ok_line(run.path("a.txt"), run.path("t/a.txt")), "stdout")
    equal(result.err, "", "stderr")


@case
def naming_overlong_operand_is_refused_whole(run):
    run.write("a.txt", "A")
    name = "n" * (260 if run.windows else 4096)
    result = run.zorov("-b", name, "a.txt", "t/")
    equal(result.code, LEVEL_FAILED, result)
    equal(result.out, created(run.path("t")) + name + ": Name too long.\n" +
          ok_line(run.path("a.txt"), run.path("t/a.txt")), "stdout")


@case
def naming_directory_source_one_level(run):
    make_tree(run)
    result = run.zorov("-b", "src", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, created(run.path("t")) +
          ok_line("src/a.txt", joined(run, "t", "a.txt")), "stdout")
    equal(sorted(os.listdir(run.native("t"))), ["a.txt"], "only the top files")


@case
def naming_directory_source_whole_tree(run):
    make_tree(run)
    result = run.zorov("-b", "-s", "src", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out,
          created(run.path("t")) +
          ok_line("src/a.txt", joined(run, "t", "a.txt")) +
          created(joined(run, "t", "empty")) +
          created(joined(run, "t", "sub")) +
          ok_line("src/sub/b.txt", joined(run, "t", "sub/b.txt")) +
          created(joined(run, "t", "sub/deep")) +
          ok_line("src/sub/deep/c.txt", joined(run, "t", "sub/deep/c.txt")), "stdout")
    equal(run.read("t/sub/deep/c.txt"), b"C", "deepest file")
    check(os.path.isdir(run.native("t/empty")), "empty directory created")


@case
def naming_verbose_tree_echoes_each_directory(run):
    run.write("src/a", "A")
    run.write("src/s/b", "B")
    result = run.zorov("-b", "-sv", "src", "t/")
    equal(result.code, LEVEL_COPIED, result)
    blank = "\r" + " " * 79 + "\r"
    equal(result.out,
          created(run.path("t")) + blank + "src\r" +
          ok_line("src/a", joined(run, "t", "a")) +
          created(joined(run, "t", "s")) + blank + "src/s\r" +
          ok_line("src/s/b", joined(run, "t", "s/b")), "stdout")
    quiet = run.zorov("-q", "-sv", "src", "u/")
    equal(quiet.out, "", "quiet echo")


@case
def naming_subdirectory_name_taken_by_a_file(run):
    make_tree(run)
    run.write("t/sub", "in the way")
    result = run.zorov("-b", "-s", "src", "t")
    equal(result.code, LEVEL_STOPPED, result)
    failure = joined(run, "t", "sub") + ": Unable to create destination directory.\n"
    check(failure in result.out, result)
    check(result.err.strip() != "", "system error text on stderr")
    equal(run.read("t/sub"), b"in the way", "file kept")
    equal(run.read("t/a.txt"), b"A", "the rest copied")
    check(os.path.isdir(run.native("t/empty")), "the rest created")


@case
def naming_identify_only_tree_creates_nothing(run):
    make_tree(run)
    result = run.zorov("-s", "-id", "src", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, "           1\tsrc/a.txt\n"
                      "           1\tsrc/sub/b.txt\n"
                      "           1\tsrc/sub/deep/c.txt\n"
                      "3 files, 3 Bytes\n", "stdout")
    check(not run.exists("t"), "nothing created")


@case
def naming_current_directory_into_its_own_subdirectory(run):
    run.write("f", "F")
    run.write("d/g", "G")
    result = run.zorov("-b", "-s", ".", "sub/")
    equal(result.code, LEVEL_FAILED, result)
    check("./sub: Directory is a destination of this copy; passed over.\n" in result.out,
          result)
    equal(run.read("sub/f"), b"F", "file copied")
    equal(run.read("sub/d/g"), b"G", "subdirectory copied")
    check(not run.exists("sub/sub"), "no copy of the copy")


@case
def naming_tree_into_a_directory_inside_itself(run):
    run.write("dir/f", "F")
    run.write("dir/a/g", "G")
    for attempt in range(2):
        result = run.zorov("-b", "-s", "dir", "dir/a/b")
        equal(result.code, LEVEL_FAILED, "attempt %d: %r" % (attempt, result))
        check("dir/a/b: Directory is a destination of this copy; passed over.\n"
              in result.out, result)
    equal(run.read("dir/a/b/f"), b"F", "top file")
    equal(run.read("dir/a/b/a/g"), b"G", "file below")
    check(not run.exists("dir/a/b/a/b"), "no copy of the copy")


@case
def naming_link_back_to_a_parent_is_not_followed(run):
    if run.windows:
        return  # symbolic links are a POSIX case
    run.write("src/x/f", "F")
    os.symlink("..", run.native("src/x/up"))
    result = run.zorov("-b", "-s", "src", "t/")
    equal(result.code, LEVEL_FAILED, result)
    check("src/x/up: Directory leads back to one of its parents; passed over.\n"
          in result.out, result)
    equal(run.read("t/x/f"), b"F", "file copied")
    check(not run.exists("t/x/up"), "the link is not walked")


def as_unprivileged_user(run, arguments):
    """Runs the program as a user the file permissions bind (root reads every
    directory), or returns None with a line saying why it can't."""
    import shutil
    import subprocess
    if os.geteuid() != 0:
        command = run.target.command(arguments)
    else:
        setpriv = shutil.which("setpriv")
        if not setpriv:
            print("    skipped: running as root and setpriv is missing")
            return None
        # The copy of the program and the scratch directory must be reachable.
        program = os.path.join(run.directory, "zorov-copy")
        shutil.copy(run.target.program, program)
        os.chmod(os.path.dirname(run.directory), 0o711)
        os.chmod(run.directory, 0o777)
        command = [setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", program] + \
            arguments
    done = subprocess.run(command, cwd=run.directory, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")


@case
def naming_directory_that_cannot_be_read_is_a_failure(run):
    if run.windows:
        print("    skipped: under wine every directory here reads, as root")
        return
    run.write("locked/f.txt", "x")
    run.write("tree/a.txt", "A")
    run.write("tree/locked/f.txt", "x")
    run.write("tree/z.txt", "Z")
    # listed but not entered: its names can be read, nothing else
    run.write("shut/a.txt", "A")
    run.write("shut/listed/f.txt", "x")
    run.write("shut/listed/sub/g.txt", "x")
    for name in ("locked", "tree/locked"):
        os.chmod(run.native(name), 0)
    os.chmod(run.native("shut/listed"), 0o444)
    denied = ": Unable to read directory.  Permission denied\n"
    rows = [  # arguments, directory reported, files copied
        (["-b", "-lrun.log", "locked", "out/"], "locked", []),
        (["-b", "-lrun.log", "-s", "tree", "out2/"], "tree/locked", ["out2/a.txt", "out2/z.txt"]),
        (["-b", "-lrun.log", "-s", "shut", "out3/"], "shut/listed", ["out3/a.txt"]),
    ]
    for arguments, directory, copied in rows:
        result = as_unprivileged_user(run, arguments)
        if result is None:
            return
        code, out, err = result
        equal(code, LEVEL_FAILED, "exit code of %r: %r %r" % (arguments, out, err))
        equal(out.count(denied), 1, "reported once: %r" % out)
        check(run.path(directory) + denied in out, "reported: %r" % out)
        check(" ===> " + run.path("out3/listed") not in out, "nothing inside fails: %r" % out)
        check(run.path(directory) + denied in run.text_lines("run.log"), "logged")
        for name in copied:
            check(run.exists(name), "%s copied all the same" % name)


def two_runs_into_one_target(run, place="", rounds=5, directories=20):
    """Two runs copy trees into one new target at once, each making the
    directories the other makes too; both complete whichever makes each
    one first. `place` is where the trees and the target live."""
    import subprocess
    import tempfile
    for side in "AB":
        for index in range(directories):
            run.write("%s%s/d%02d/%s.txt" % (place, side, index, side), side)
    for number in range(rounds):
        target = "%st%d/" % (place, number)
        # output to files: under wine a pipe stays open long after the run
        outputs = [tempfile.TemporaryFile() for side in "AB"]
        runs = [subprocess.Popen(run.target.command(["-b", "-s", place + side, target]),
                                 cwd=run.directory, env=run.target.environment,
                                 stdin=subprocess.DEVNULL, stdout=output,
                                 stderr=subprocess.STDOUT) for side, output in zip("AB", outputs)]
        for child, output in zip(runs, outputs):
            code = child.wait(timeout=120)
            output.seek(0)
            equal(code, LEVEL_COPIED, "round %d: %s" % (number, output.read().decode("latin-1")))
            output.close()
        for side in "AB":
            for index in range(directories):
                name = "%sd%02d/%s.txt" % (target, index, side)
                equal(run.read(name), side.encode(), "round %d: %s" % (number, name))


@case
def naming_two_runs_into_one_new_target(run):
    two_runs_into_one_target(run, rounds=4 if run.windows else 10)
