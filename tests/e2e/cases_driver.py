"""The run driver: operands, targets, directories, exit codes."""

import glob
import os

from harness import (LEVEL_COPIED, LEVEL_FAILED, LEVEL_NOT_DIRECTORY, LEVEL_STOPPED, case, check,
                     equal)


def ok_line(run, source, destination):
    return "%s ===> %s : Ok\n" % (run.path(source), run.path(destination))


@case
def plain_copy_to_new_name(run):
    run.write("a.txt", "alpha\n", mtime=1000000000)
    result = run.zorov("a.txt", "b.txt")
    equal(result.code, LEVEL_COPIED, "exit code")
    equal(result.err, "", "stderr")
    check(result.out.startswith("%s ===> %s" % (run.path("a.txt"), run.path("b.txt"))), result)
    check(result.out.endswith(" : Ok\n"), result)
    equal(run.read("b.txt"), b"alpha\n", "copy")
    equal(int(os.stat(run.native("b.txt")).st_mtime), 1000000000, "modification time")


@case
def two_sources_to_two_targets_after_keyword(run):
    run.write("a", "A")
    run.write("b", "B")
    result = run.zorov("-b", "a", "b", "-to", "t1", "t2")
    equal(result.code, LEVEL_COPIED, "exit code")
    expected = ""
    for target in ("t1", "t2"):
        expected += "Directory: %s has been created.\n" % run.path(target)
        expected += ok_line(run, "a", target + "/a")
        expected += ok_line(run, "b", target + "/b")
    equal(result.out, expected, "stdout")
    for target in ("t1", "t2"):
        equal(run.read(target + "/a"), b"A", target)
        equal(run.read(target + "/b"), b"B", target)


@case
def missing_target_with_trailing_separator_is_created(run):
    run.write("a.txt", "x")
    result = run.zorov("-b", "a.txt", "deep/er/")
    equal(result.code, LEVEL_COPIED, "exit code")
    equal(result.out.splitlines()[0], "Directory: %s has been created." % run.path("deep/er"))
    equal(run.read("deep/er/a.txt"), b"x", "copy")


@case
def two_sources_onto_existing_file_exit_9(run):
    run.write("a", "A")
    run.write("b", "B")
    run.write("t", "keep")
    result = run.zorov("a", "b", "t")
    equal(result.code, LEVEL_NOT_DIRECTORY, "exit code")
    equal(result.out, "", "stdout")
    equal(result.err, "%s <=== target not a directory.\n" % run.path("t"), "stderr")
    equal(run.read("t"), b"keep", "target untouched")


@case
def batch_moves_not_a_directory_to_stdout(run):
    run.write("a", "A")
    run.write("b", "B")
    run.write("t", "keep")
    result = run.zorov("-b", "a", "b", "t")
    equal(result.code, LEVEL_NOT_DIRECTORY, "exit code")
    equal(result.out, "%s <=== target not a directory.\n" % run.path("t"), "stdout")
    equal(result.err, "", "stderr")


@case
def too_few_operands_exit_8(run):
    run.write("a", "A")
    for arguments in ([], ["a"], ["-b", "a"]):
        result = run.zorov(*arguments, environment={"TMP": run.directory})
        equal(result.code, LEVEL_STOPPED, "exit code of %r" % arguments)


@case
def keyword_in_last_place_is_a_target(run):
    run.write("a", "A")
    run.write("b", "B")
    result = run.zorov("-b", "a", "b", "-to")
    equal(result.code, LEVEL_COPIED, "exit code")
    equal(run.read("-to/a"), b"A", "copy")
    equal(run.read("-to/b"), b"B", "copy")


@case
def second_keyword_is_a_target_name(run):
    run.write("a", "A")
    run.write("b", "B")
    result = run.zorov("-b", "a", "b", "-to", "t1", "-to")
    equal(result.code, LEVEL_COPIED, "exit code")
    for target in ("t1", "-to"):
        equal(run.read(target + "/b"), b"B", target)


@case
def target_response_file(run):
    run.write("a", "A")
    run.write("list", "t1/\r\nt2/\n")
    result = run.zorov("-b", "a", "@list")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("t1/a"), b"A", "t1")
    equal(run.read("t2/a"), b"A", "t2")


@case
def unopenable_target_response_file_is_a_name(run):
    run.write("a", "A")
    os.mkdir(run.native("listdir"))
    for target in ("nolist", "listdir"):
        result = run.zorov("-b", "a", "@" + target)
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read("@" + target), b"A", "target named with its @")


@case
def empty_line_of_target_list_is_current_directory(run):
    run.write("src/a", "A")
    run.write("list", "\nsub/\n")
    result = run.zorov("-b", "src/a", "@list")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("a"), b"A", "current directory")
    equal(run.read("sub/a"), b"A", "second target")


@case
def one_source_missing_target_is_a_file(run):
    run.write("a", "A")
    result = run.zorov("-b", "a", "newname")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("newname"), b"A", "copy")


@case
def two_sources_missing_target_directory_is_created(run):
    run.write("a", "A")
    run.write("b", "B")
    result = run.zorov("a", "b", "made")
    equal(result.code, LEVEL_COPIED, result)
    check(result.out.startswith("Directory: %s has been created.\n" % run.path("made")), result)
    equal(run.read("made/a"), b"A", "a")
    equal(run.read("made/b"), b"B", "b")


@case
def failed_copy_then_good_copy_exit_1(run):
    run.write("b", "B")
    os.mkdir(run.native("t"))
    result = run.zorov("-b", "missing", "b", "t")
    equal(result.code, LEVEL_FAILED, result)
    equal(run.read("t/b"), b"B", "good copy made")


@case
def failed_copy_last_exit_1(run):
    run.write("a", "A")
    os.mkdir(run.native("t"))
    result = run.zorov("-b", "a", "missing", "t")
    equal(result.code, LEVEL_FAILED, result)


@case
def failed_target_then_good_target_exit_9(run):
    run.write("a", "A")
    run.write("b", "B")
    run.write("file", "F")
    result = run.zorov("-b", "a", "b", "-to", "file", "good")
    equal(result.code, LEVEL_NOT_DIRECTORY, result)
    equal(run.read("good/a"), b"A", "good target served")
    equal(run.read("file"), b"F", "file untouched")


@case
def target_below_a_file_cannot_be_created(run):
    run.write("a", "A")
    run.write("file", "F")
    result = run.zorov("-b", "a", "file/sub/")
    equal(result.code, LEVEL_STOPPED, result)
    equal(result.out, "%s: Unable to create destination directory.\n" % run.path("file/sub"))
    check(result.err.endswith("\n") and len(result.err) > 1, "system error text: %r" % result.err)


@case
def help_file_in_temporary_directory(run):
    run.write("a", "A")
    if run.windows:
        # wine sets TMP and TEMP to its own temporary directory
        found = glob.glob(os.path.join(run.target.environment["WINEPREFIX"],
                                       "drive_c/users/*/Temp"))
        check(found, "the temporary directory of the wine prefix")
        help_name = os.path.join(found[0], "zorov.hlp")
    else:
        help_name = run.native("zorov.hlp")
    with open(help_name, "wb") as handle:
        handle.write(b"an old help file\n")
    result = run.zorov("a", environment={"TMP": run.path(), "TEMP": run.path()})
    equal(result.code, LEVEL_STOPPED, result)
    with open(help_name, "rb") as handle:
        data = handle.read()
    if run.windows:
        check(b"\n" not in data.replace(b"\r\n", b""), "bare LF in the help file")
        data = data.replace(b"\r\n", b"\n")
    manual = data.decode("latin-1")
    # Output that is not a terminal gets the help text itself on POSIX;
    # Windows starts its editor on the file whatever the output is.
    equal(result.out, "" if run.windows else manual, "stdout")
    check(manual.startswith("ZOROV 4.38 -- Feb 21 2009 for 32 bit Windows, supporting long file "
                            "names.\n"), manual[:200])
    check("Usage is:\n zorov [flags] src1 [src2 ...] target -or-\n" in manual, "usage")
    check("            instead of a backslash (\\) as the directory seperator. \n" in manual, "x")
    check(manual.endswith("else some files did not copy.\n\n\n\n"), manual[-100:])
    check("an old help file" not in manual, "replaced")


@case
def slash_spelling_of_flags_is_windows_only(run):
    run.write("a", "A")
    result = run.zorov("/b", "a", "b")
    if run.windows:
        equal(result.code, LEVEL_COPIED, result)
        equal(result.out, ok_line(run, "a", "b"), "stdout")
        equal(run.read("b"), b"A", "copy")
    else:
        # "/b" is a path there: two sources, so "b" must be a directory;
        # the missing "/b" fails, so the run ends with 1
        equal(result.code, LEVEL_FAILED, result)
        check(os.path.isdir(run.native("b")), "target made a directory")
        equal(run.read("b/a"), b"A", "copy")
        check("Unable to open input." in result.out, result)


@case
def backslash_and_colon_follow_the_platform(run):
    run.write("a", "A")
    result = run.zorov("-b", "a", "made\\")
    equal(result.code, LEVEL_COPIED, result)
    if run.windows:
        equal(result.out.splitlines()[0], "Directory: %s has been created." % run.path("made"))
        equal(run.read("made/a"), b"A", "copied into the new directory")
    else:
        equal(run.read("made\\"), b"A", "an ordinary file name")
        run.write("backup-10:30.tar", "T")
        result = run.zorov("-b", "backup-10:30.tar", "copy:1")
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read("copy:1"), b"T", "a colon is an ordinary character")


@case
def letter_case_of_names_follows_the_platform(run):
    run.write("a.txt", "lower")
    result = run.zorov("-b", "a.txt", "A.TXT")
    if run.windows:
        equal(result.code, LEVEL_FAILED, result)
        check("Source, Destination are same file." in result.out, result)
        equal(run.read("a.txt"), b"lower", "untouched")
    else:
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read("A.TXT"), b"lower", "a second file")
