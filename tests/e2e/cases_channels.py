"""The message and log channels, the flag parser's exits, and move."""

import os
import re
import stat

from harness import (LEVEL_BAD_FLAGS, LEVEL_COPIED, LEVEL_FAILED, LEVEL_STOPPED, Skipped, case,
                     check, equal)

STAMP = re.compile(r"^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)"
                   r" \d\d \d\d:\d\d:\d\d \d{4}$")


def pair(run, source, destination):
    return "%s ===> %s" % (run.path(source), run.path(destination))


def check_echo(line, arguments):
    """The command-line echo: the program's name, then each argument, each
    followed by one blank."""
    expected_tail = "".join(argument + " " for argument in arguments)
    check(line.endswith(" " + expected_tail), "echo %r lacks %r" % (line, expected_tail))


@case
def quiet_with_log_file(run):
    run.write("a", "A")
    run.write("b", "B")
    result = run.zorov("-q", "-lrun.log", "a", "b", "t")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, "", "stdout")
    equal(result.err, "", "stderr")
    lines = run.text_lines("run.log").split("\n")
    check(STAMP.match(lines[0]), "time stamp line %r" % lines[0])
    check_echo(lines[1], ["-q", "-lrun.log", "a", "b", "t"])
    equal(lines[2], "Directory: %s has been created." % run.path("t"), "directory line")
    equal(lines[3], pair(run, "a", "t/a") + " : Ok", "first file")
    equal(lines[4], pair(run, "b", "t/b") + " : Ok", "second file")
    equal(lines[5:], ["Error Level 0", ""], "end of run")


@case
def two_runs_append_to_one_log(run):
    run.write("a", "A")
    for _ in range(2):
        equal(run.zorov("-b", "-llog", "a", "b").code, LEVEL_COPIED, "exit code")
    lines = run.text_lines("log").split("\n")
    equal(len(lines), 9, "two parts of four lines: %r" % lines)
    for part in (lines[0:4], lines[4:8]):
        check(STAMP.match(part[0]), part[0])
        check_echo(part[1], ["-b", "-llog", "a", "b"])
        equal(part[2], pair(run, "a", "b") + " : Ok", "file line")
        equal(part[3], "Error Level 0", "end line")


@case
def copied_list_holds_only_the_copied_files(run):
    run.write("a", "A")
    run.write("c", "C")
    os.mkdir(run.native("t"))
    result = run.zorov("-b", "-Lrun.log", "a", "missing", "c", "t")
    equal(result.code, LEVEL_FAILED, result)
    equal(run.text_lines("run.log.fil"), run.path("a") + "\n" + run.path("c") + "\n", "list")
    log = run.text_lines("run.log")
    check("Copied files will be logged to run.log.fil\n" in log, log)
    check(pair(run, "missing", "t/missing") + " : Unable to open input." in log, log)


@case
def copied_list_names_only_copied_files(run):
    if run.windows:
        return  # Windows names hold no line ends
    for name in ("report\n.", "endcr\r", "endcr", "plain"):
        run.write("src/" + name, name)
    run.write("bystander", "B")
    result = run.zorov("-b", "-Lrun.log", "src/*", "copy/")
    equal(result.code, LEVEL_FAILED, result)
    unlisted = "%s: Name can't be one line of the copied files list; not listed.\n"
    for name in ("report\n.", "endcr\r"):
        equal(run.read("copy/" + name), name.encode(), "copied all the same")
        check(unlisted % run.path("src/" + name) in result.out, result)
        check(unlisted % run.path("src/" + name) in run.read("run.log").decode(), "logged")
    equal(run.text_lines("run.log.fil"), run.path("src/endcr") + "\n" + run.path("src/plain") + "\n",
          "list")
    result = run.zorov("-b", "-m", "@run.log.fil", "archive/")
    equal(result.code, LEVEL_COPIED, result)
    equal(sorted(os.listdir(run.native("archive"))), ["endcr", "plain"], "moved")
    equal(sorted(os.listdir(run.native("src"))), ["endcr\r", "report\n."], "never copied: kept")
    check(run.exists("bystander"), "a file of the current directory stays")


@case
def unopenable_log_turns_quiet_off(run):
    run.write("a", "A")
    result = run.zorov("-q", "-lnodir/log", "a", "b")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.err, "Unable to Open nodir/log\nLogging will be disabled.  Quiet will be disabled.\n",
          "stderr")
    check(result.out.endswith(" : Ok\n"), "copy shown on the console: %r" % result.out)


@case
def log_file_on_a_full_device_is_reported(run):
    """A LogFile the system refuses every line of is told of once; the copies
    go on, and the exit code tells of them alone."""
    if run.windows:
        raise Skipped("Windows has no device that is always full")
    if os.geteuid() != 0:
        raise Skipped("making device nodes needs root")
    # A node of the always-full device in the test's own directory, never the
    # system's own.
    os.mknod(run.native("full"), 0o666 | stat.S_IFCHR, os.makedev(1, 7))
    run.write("a", "A")
    run.write("b", "B")
    os.mkdir(run.native("t"))
    result = run.zorov("-lfull", "a", "b", "t")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.err, "full: Unable to write.  No space left on device\n"
          "Logging will be disabled.\n", "stderr")
    equal(result.out.count(" : Ok\n"), 2, "both copies shown: %r" % result.out)
    equal(run.read("t/a") + run.read("t/b"), b"AB", "copies")


@case
def unknown_flags_stop_with_12(run):
    run.write("a", "A")
    result = run.zorov("-y", "-z9", "-llog", "a", "b")
    equal(result.code, LEVEL_BAD_FLAGS, result)
    equal(result.err, "-y <=== Unknown Flag.\n-z9 <=== Unknown Flag.\n"
          "ZOROV is stopping due to unknown/invalid flags!\n", "stderr")
    check(not run.exists("b"), "nothing copied")
    lines = run.text_lines("log").split("\n")
    equal(lines[1:], ["ZOROV is stopping due to unknown/invalid flags!", ""], "log")


@case
def conflicting_flags_stop_with_12(run):
    run.write("a", "A")
    result = run.zorov("-e", "-a", "a", "b")
    equal(result.code, LEVEL_BAD_FLAGS, result)
    equal(result.err, "Can not use -E (copy to end) in conjunction with \nthe -A (archive) flag.\n"
          "ZOROV is stopping due to unknown/invalid flags!\n", "stderr")


@case
def malformed_exclusion_exits_8(run):
    run.write("a", "A")
    result = run.zorov("-q", "-x*.tmp", "a", "b")
    equal(result.code, LEVEL_STOPPED, result)
    equal(result.err, "-x*.tmp <=== Invalid.\n", "stderr")
    check(not run.exists("b"), "nothing copied")


@case
def exclusion_skips_matching_sources(run):
    run.write("a.tmp", "A")
    run.write("b.txt", "B")
    result = run.zorov("-b", "-x", "*.TMP;nothing", "a.tmp", "b.txt", "t")
    equal(result.code, LEVEL_COPIED, result)
    check(not run.exists("t/a.tmp"), "excluded")
    equal(run.read("t/b.txt"), b"B", "copied")


@case
def move_with_two_targets_deletes_after_the_last(run):
    run.write("a", "A")
    result = run.zorov("-b", "-m", "-llog", "a", "-to", "t1/", "t2/")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("t1/a"), b"A", "first copy")
    equal(run.read("t2/a"), b"A", "second copy")
    check(not run.exists("a"), "source deleted")
    check("%s deleted.\n" % run.path("a") in run.text_lines("log"), "deletion logged")


@case
def move_with_target_list_deletes_after_first_listed(run):
    run.write("a", "A")
    run.write("list", "t1/\nt2/\n")
    result = run.zorov("-b", "-m", "a", "@list")
    equal(result.code, LEVEL_FAILED, result)
    equal(run.read("t1/a"), b"A", "first copy")
    check(not run.exists("t2/a"), "source already gone for the second")
    check(not run.exists("a"), "source deleted")


@case
def identify_only_lists_and_sums(run):
    run.write("a", "12345")
    run.write("b", "123")
    result = run.zorov("-id", "-q", "a", "b", "t/")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out, "2 files, 8 Bytes\n", "quiet summary: the totals without the listing")
    check(not run.exists("t"), "nothing created")
    result = run.zorov("-id", "a", "b", "t/")
    equal(result.out, "%12d\t%s\n%12d\t%s\n2 files, 8 Bytes\n" % (5, run.path("a"), 3, run.path("b")),
          "listing")


@case
def block_size_report(run):
    run.write("a", "A")
    result = run.zorov("-k4096", "-q", "-llog", "a", "b")
    equal(result.out, "", "quiet")
    check("BLOCKSIZE = 4096\n" in run.text_lines("log"), "logged")
    result = run.zorov("-k4096", "a", "c")
    check(result.out.startswith("BLOCKSIZE = 4096\n"), result)
    result = run.zorov("-k4096", "-b", "a", "d")
    check("BLOCKSIZE" not in result.out, result)
