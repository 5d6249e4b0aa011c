"""The Windows build under wine: drive letters, character sets, the console."""

import contextlib
import os
import pty
import subprocess
import sys

from harness import LEVEL_COPIED, LEVEL_FAILED, case, check, equal, read_until_closed

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import release_check  # noqa: E402  (its check of the manifest and the versions)

# Names in UTF-8 on the host, as wine shows them to the program; the ANSI
# code page (Windows-1252) holds the first two, not the others.
CAFE = "caf\u00e9.txt"
EURO = "\u20ac.txt"
CYRILLIC = "\u0444\u0430\u0439\u043b.txt"
FULL_WIDTH = "\uff41\uff42.txt"  # its look-alike "ab.txt" is another file

# A locale that every machine has, so that wine reads the host's names as
# UTF-8 and its ANSI code page is Windows-1252.
LOCALE = {"LC_ALL": "C.UTF-8"}


def start(run, arguments, cwd=None, **streams):
    environment = dict(run.target.environment, **LOCALE)
    return subprocess.Popen(run.target.command(arguments), cwd=cwd or run.directory,
                            env=environment, **streams)


def redirected(run, *arguments, cwd=None):
    child = start(run, arguments, cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                  stderr=subprocess.PIPE)
    out, err = child.communicate(timeout=120)
    return child.returncode, out.replace(b"\r\n", b"\n"), err.replace(b"\r\n", b"\n")


def on_console(run, *arguments):
    """Runs the program on a pseudo-terminal, which wine makes its console."""
    leader, follower = pty.openpty()
    child = start(run, arguments, stdin=follower, stdout=follower, stderr=follower)
    os.close(follower)
    shown = read_until_closed(leader)
    return child.wait(timeout=120), shown


@contextlib.contextmanager
def drive(run, letter, directory):
    """Maps a drive letter of the wine prefix to a directory of the case."""
    link = os.path.join(run.target.environment["WINEPREFIX"], "dosdevices", letter + ":")
    os.symlink(run.native(directory), link)
    try:
        yield
    finally:
        os.unlink(link)


def ansi(text):
    return text.encode("cp1252", errors="replace")


@case
def windows_bare_drive_source_is_its_current_directory(run):
    if not run.windows:
        return
    run.write("root/root-only.txt", "R")
    run.write("root/cur/cur-only.txt", "C")
    run.write("root/cur/sub/s.txt", "S")
    os.symlink(run.native("root/cur"), run.native("root/cur/loop"))
    standing = run.native("root/cur")
    with drive(run, "q", "root"):
        code, out, err = redirected(run, "-b", "Q:", run.path("out/"), cwd=standing)
        equal((code, err), (LEVEL_COPIED, b""), "exit code and stderr: %r" % out)
        check(b"Q:cur-only.txt ===> " in out, out)
        equal(sorted(os.listdir(run.native("out"))), ["cur-only.txt"], "copied")
        code, out, err = redirected(run, "-b", "-s", "-m", "Q:", run.path("moved/"), cwd=standing)
        equal((code, err), (LEVEL_FAILED, b""), "exit code (the link back) and stderr: %r" % out)
        equal(run.read("moved/sub/s.txt"), b"S", "the tree below the current directory")
        check(not run.exists("moved/cur") and not run.exists("moved/root-only.txt"), "no root")
        check(b"Q:loop: Directory leads back to one of its parents; passed over.\n" in out, out)
        check(not run.exists("moved/loop"), "a link back to the current directory is not walked")
        check(run.exists("root/root-only.txt"), "the root's file stays")
        check(not run.exists("root/cur/cur-only.txt"), "moved")


@case
def windows_bare_drive_target_with_its_own_current_directory(run):
    if not run.windows:
        return
    run.write("t.txt", "T")
    os.makedirs(run.native("root/cur"))
    program = "Z:" + run.target.program.replace("/", "\\")
    # The command interpreter keeps each drive's current directory. (Quotes
    # would reach it escaped; the names of the cases hold no blanks.)
    line = "cd /d Q:\\cur & cd /d %s & %s -b t.txt Q: & %s -b t.txt Q:u.txt" % (
        run.path(), program, program)
    with drive(run, "q", "root"):
        child = subprocess.run([run.target.wine, "cmd", "/c", line], cwd=run.directory,
                               env=dict(run.target.environment, **LOCALE), capture_output=True,
                               timeout=120)
    out = child.stdout.replace(b"\r\n", b"\n").decode("latin-1")
    equal(out, "%s ===> Q:\\cur\\t.txt : Ok\n%s ===> Q:\\cur\\u.txt : Ok\n"
          % (run.path("t.txt"), run.path("t.txt")), "stdout")
    equal(run.read("root/cur/t.txt") + run.read("root/cur/u.txt"), b"TT", "the copies")
    equal(sorted(os.listdir(run.directory)), ["root", "t.txt"], "nothing else made")


@case
def windows_logs_hold_the_ansi_code_page_on_a_console(run):
    if not run.windows:
        return
    run.write(CAFE, "C")
    try:
        code, shown = on_console(run, "-b", "-Lcons.log", CAFE, "c/")
    except OSError:
        print("    no pseudo-terminals on this machine: console case not run")
        return
    equal(code, LEVEL_COPIED, shown[-300:])
    equal(run.read("cons.log.fil"), ansi(run.path(CAFE)) + b"\r\n", "CopiedList")
    check(ansi(run.path("c/" + CAFE)) + b" : Ok\r\n" in run.read("cons.log"), "LogFile")
    code, out, err = redirected(run, "-b", "@cons.log.fil", "d/")
    equal((code, err), (LEVEL_COPIED, b""), out)
    equal(run.read("d/" + CAFE), b"C", "read back from the CopiedList")
    # The console shows the name itself, whatever its code page is.
    check(CAFE.encode() in shown, shown[-300:])


@case
def windows_response_files_and_redirected_output_are_ansi(run):
    if not run.windows:
        return
    run.write(EURO, "E")
    run.write("list", ansi(EURO) + b"\r\n")
    code, out, err = redirected(run, "-b", "-Lrun.log", "@list", "e/")
    equal((code, err), (LEVEL_COPIED, b""), out)
    equal(run.read("e/" + EURO), b"E", "copy")
    line = ansi(run.path(EURO)) + b" ===> " + ansi(run.path("e/" + EURO)) + b" : Ok\n"
    check(line in out, out)
    equal(run.read("run.log.fil"), ansi(run.path(EURO)) + b"\r\n", "CopiedList")


@case
def windows_copied_list_never_names_another_file(run):
    if not run.windows:
        return
    for name, look_alike in ((CYRILLIC, "abcd.txt"), (FULL_WIDTH, "ab.txt")):
        run.write(name, "new")
        run.write(look_alike, "other")
    code, out, err = redirected(run, "-b", "-Lrun.log", CYRILLIC, FULL_WIDTH, "c/")
    equal((code, err), (LEVEL_COPIED, b""), out)
    equal(run.read("run.log.fil"),
          ansi(run.path("????.txt")) + b"\r\n" + ansi(run.path("??.txt")) + b"\r\n",
          "what the ANSI code page can't hold")
    code, out, err = redirected(run, "-b", "@run.log.fil", "d/")
    equal(code, LEVEL_FAILED, out)
    equal(os.listdir(run.native("d")), [], "nothing copied in their place")


@case
def windows_names_ending_in_a_dot_or_blank_are_their_own_files(run):
    """Names made by other systems: Win32 would open "x" for "x." and "y"
    for "y "; each is copied, listed and matched as itself."""
    for name, data in (("x", "plain"), ("x.", "dot"), ("y ", "blank"), ("d./z", "below")):
        run.write("src/" + name, data)
    result = run.zorov("-b", "-s", "src", "dst/")
    equal(result.code, LEVEL_COPIED, result)
    check("src/x. ===> %s/x. : Ok\n" % run.path("dst") in result.out, result)
    for name, data in (("x", b"plain"), ("x.", b"dot"), ("y ", b"blank"), ("d./z", b"below")):
        equal(run.read("dst/" + name), data, name)
    result = run.zorov("-id", "src", "d2/")
    equal(result.out, "           5\tsrc/x\n           3\tsrc/x.\n           5\tsrc/y \n"
          "3 files, 13 Bytes\n", "listing")
    result = run.zorov("-id", "src/x*", "d2/")
    equal(result.out, "           5\t%s\n           3\t%s\n2 files, 8 Bytes\n"
          % (run.path("src/x"), run.path("src/x.")), "wildcard")


@case
def windows_verbatim_directory_source_is_copied(run):
    if not run.windows:
        return
    run.write("dir/a.txt", "A")
    run.write("dir/sub/b.txt", "B")
    verbatim = "\\\\?\\" + run.path("dir")
    for index, source in enumerate((verbatim, verbatim + "\\")):
        result = run.zorov("-b", "-s", source, "out%d/" % index)
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read("out%d/a.txt" % index) + run.read("out%d/sub/b.txt" % index), b"AB",
              "copied from %s" % source)
    result = run.zorov("-b", verbatim + "\\*.txt", "\\\\?\\" + run.path("out2") + "\\")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("out2/a.txt"), b"A", "a pattern and a target in verbatim form")


def loaded_image(run, *image):
    """What wine's loader sees of an image (the report's own without one):
    its versions, as the release check reads them from the file, and its
    manifest."""
    report = os.path.join(os.path.dirname(run.target.program), "zorov_image_report.exe")
    child = subprocess.run([run.target.wine, report] + list(image), env=run.target.environment,
                           capture_output=True, timeout=120)
    equal((child.returncode, child.stderr), (0, b""), "the report of %r" % (image,))
    first, second, text = child.stdout.split(b"\r\n", 2)
    _, subsystem, subsystem_version = first.split()
    _, system_version = second.split()

    def numbers(word):
        return tuple(int(part) for part in word.split(b"."))
    return (numbers(system_version), numbers(subsystem_version), int(subsystem)), text


@case
def windows_loader_sees_the_manifest_and_the_oldest_system(run):
    if not run.windows:
        return  # natively the release check reads them from the file
    versions, text = loaded_image(run, "Z:" + run.target.program.replace("/", "\\"))
    release_check.check_manifest(versions, text)
    # The check fails on an image with neither, the report itself.
    bare_versions, bare_text = loaded_image(run)
    for mixed in [(bare_versions, text), (versions, bare_text)]:
        try:
            release_check.check_manifest(*mixed)
        except release_check.Failure:
            continue
        raise AssertionError("passed without them: %r" % (mixed,))
