"""The copy engine: data integrity, safe overwrite, append, restart,
read-only destinations, the same file, write errors, progress output."""

import os
import random
import stat

from harness import LEVEL_COPIED, LEVEL_FAILED, Skipped, case, check, equal, read_until_closed

BLOCK = 65024


def data(size, seed=7):
    generator = random.Random(seed + size)
    return bytes(generator.getrandbits(8) for _ in range(size))


@case
def integrity_across_block_boundaries(run):
    sizes = [0, 1, 100, BLOCK - 1, BLOCK, BLOCK + 1, 3 * BLOCK, 31 * BLOCK, 31 * BLOCK + 1,
             32 * BLOCK - 5]
    for size in sizes:
        run.write("src/f%d" % size, data(size))
    for flags in ([], ["-k7"], ["-k100"], ["-k4097"], ["-p"], ["-k63"]):
        target = "out%s/" % "".join(flags)
        sources = ["src/f%d" % size for size in sizes]
        result = run.zorov("-q", *flags, *sources, target)
        equal(result.code, LEVEL_COPIED, "exit code with %r: %r" % (flags, result))
        for size in sizes:
            equal(run.read(target + "f%d" % size), data(size), "size %d with %r" % (size, flags))


@case
def large_multi_round_copy(run):
    payload = data(5 * 1024 * 1024 + 17)
    run.write("big", payload)
    result = run.zorov("-b", "big", "copy")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("copy"), payload, "content")


@case
def progress_figures_on_the_console(run):
    run.write("one", b"x")
    result = run.zorov("one", "two", raw=True)
    equal(result.code, LEVEL_COPIED, result)
    out = run.console_text(result.out)
    pair = "%s ===> %s" % (run.path("one"), run.path("two"))
    # the initial figure; the spinner after the read, the read that finds
    # the end, and the round; the final figure; the erasure
    equal(out, pair + "  0%|\b/\b-\b\b\b\b50%\b\b\b\b : Ok\n", "console bytes")


@case
def safe_overwrite_replaces_through_temporary_name(run):
    run.write("a", "new content")
    run.write("b", "old")
    result = run.zorov("-b", "-os", "a", "b")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("b"), b"new content", "replaced")
    equal(sorted(os.listdir(run.directory)), ["a", "b"], "no temporary file left")


@case
def append_to_end(run):
    run.write("a", "def")
    run.write("b", "abc")
    result = run.zorov("-b", "-e", "a", "b")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("b"), b"abcdef", "appended")


@case
def restart_completes_partial_copy(run):
    payload = data(200000)
    run.write("a", payload)
    run.write("b", payload[:70000])
    result = run.zorov("-b", "-pr", "a", "b")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("b"), payload, "completed")
    run.write("c", payload + b"tail")
    result = run.zorov("-b", "-pr", "a", "c")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("c"), payload + b"tail", "longer destination left alone")


@case
def read_only_destination_needs_overwrite_flag(run):
    run.write("a", "new")
    run.write("b", "old", mode=0o444)
    result = run.zorov("-b", "a", "b")
    equal(result.code, LEVEL_FAILED, result)
    equal(run.read("b"), b"old", "refused")
    equal(result.err, "%s: Unable to Open output filePermission denied\n" % run.path("b"), "stderr")
    pair = "%s ===> %s" % (run.path("a"), run.path("b"))
    equal(result.out, pair + pair + " : Unable to open output.  Permission denied\n", "stdout")
    result = run.zorov("-b", "-o", "a", "b")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("b"), b"new", "overwritten with -o")


@case
def same_file_by_name_and_by_identity(run):
    run.write("a.txt", "precious")
    os.mkdir(run.native("sub"))
    result = run.zorov("-b", "a.txt", "sub/../a.txt")
    equal(result.code, LEVEL_FAILED, result)
    pair = "%s ===> %s" % (run.path("a.txt"), run.path("a.txt"))
    equal(result.out, pair + pair + " : Source, Destination are same file.\n\n", "stdout")
    os.link(run.native("a.txt"), run.native("link.txt"))
    result = run.zorov("-b", "a.txt", "link.txt")
    equal(result.code, LEVEL_FAILED, result)
    check("Source, Destination are same file." in result.out, result)
    equal(run.read("a.txt"), b"precious", "source intact")


@case
def write_error_on_full_device(run):
    if run.windows:
        return  # no full device to write to under wine
    if os.geteuid() != 0:
        raise Skipped("making device nodes needs root")
    # A node of the always-full device in the test's own directory, never the
    # system's own.
    os.mknod(run.native("full"), 0o666 | stat.S_IFCHR, os.makedev(1, 7))
    run.write("a", data(100000))
    result = run.zorov("-b", "a", "full")
    equal(result.code, LEVEL_FAILED, result)
    pair = "%s ===> %s" % (run.path("a"), run.path("full"))
    equal(result.out, pair + pair + " : Write error.   No space left on device\n", "stdout")


@case
def missing_source_reports_unable_to_open_input(run):
    result = run.zorov("-b", "gone", "b")
    equal(result.code, LEVEL_FAILED, result)
    pair = "%s ===> %s" % (run.path("gone"), run.path("b"))
    equal(result.out, pair + " : Unable to open input.  No such file or directory\n", "stdout")
    check(not run.exists("b"), "nothing created")


@case
def platform_copy_carries_content_times_and_permissions(run):
    payload = data(300000)
    run.write("tool", payload, mode=0o755, mtime=1200000000)
    run.write("old", "previous")
    result = run.zorov("-q", "-f", "tool", "copy")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.out + result.err, "", "quiet")
    equal(run.read("copy"), payload, "content")
    equal(int(os.stat(run.native("copy")).st_mtime), 1200000000, "modification time")
    if not run.windows:
        equal(os.stat(run.native("copy")).st_mode & 0o777, 0o755, "permission bits")
    result = run.zorov("-q", "-f", "-os", "tool", "old")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("old"), payload, "replaced through a temporary name")
    equal(sorted(os.listdir(run.directory)), ["copy", "old", "tool"], "no temporary file left")


@case
def run_as_owner_bits_stay_with_the_owner(run):
    """A copy belongs to whoever made it: it runs with its owner's rights
    (set-user-ID, set-group-ID) only where -h+ or -f give the bits of a
    program of the maker's own; a copy of another user's program never
    does, nor does a plain copy."""
    if run.windows:
        raise Skipped("Windows files have no such bits")
    if os.geteuid() != 0:
        raise Skipped("giving a file to another user needs root")
    for source, owner in [("own", 0), ("theirs", 65534)]:
        run.write(source, "#!/bin/sh\n")
        os.chown(run.native(source), owner, owner)
        os.chmod(run.native(source), 0o6755)
    os.mkdir(run.native("out"))
    rows = [([], 0), (["-os"], 0), (["-h+"], 0o6000), (["-f"], 0o6000), (["-os", "-h+"], 0o6000)]
    for source in ["own", "theirs"]:
        for flags, kept in rows:
            copy = "out/" + source + "".join(flags)
            result = run.zorov("-b", *flags, source, copy)
            equal(result.code, LEVEL_COPIED, "%s %r: %r" % (source, flags, result))
            bits = os.stat(run.native(copy)).st_mode & 0o7777
            equal(bits, (kept if source == "own" else 0) | 0o755, "%s %r" % (source, flags))


@case
def platform_copy_failure_is_reported_with_the_system_text(run):
    run.write("a", "A")
    os.mkdir(run.native("dir"))
    result = run.zorov("-b", "-f", "a", "dir/missing/b")
    equal(result.code, LEVEL_FAILED, result)
    check(" : Error 8 " in result.out, result)


def write_sparse(run, name, size, pieces):
    """A file of `size` bytes that holds only `pieces` (offset, bytes), the
    rest holes. False where the file system keeps no holes."""
    with open(run.native(name), "wb") as handle:
        handle.truncate(size)
        for offset, payload in pieces:
            handle.seek(offset)
            handle.write(payload)
    return os.stat(run.native(name)).st_blocks * 512 < size


@case
def sparse_copy_keeps_its_holes(run):
    if run.windows:
        return  # the Windows build reads every file as data
    size = 64 * 1024 * 1024
    pieces = [(0, data(100000)), (20 * 1024 * 1024 + 12345, data(300000)),
              (size - 5000, data(5000))]
    if not write_sparse(run, "src", size, pieces):
        print("  sparse copy skipped: this file system keeps no holes")
        return
    # partial copies to continue, themselves sparse
    for partial in ("part", "fpart"):
        write_sparse(run, partial, 21 * 1024 * 1024, pieces[:2])
    # destinations that safe overwrite replaces through a temporary file
    for replaced in ("safe", "fsafe"):
        run.write(replaced, "old")
    expected = run.read("src")
    allowed = 2 * os.stat(run.native("src")).st_blocks
    for flags, target in (([], "copy"), (["-pr"], "part"), (["-os"], "safe"), (["-f"], "fast"),
                          (["-f", "-pr"], "fpart"), (["-f", "-os"], "fsafe")):
        result = run.zorov("-b", *flags, "src", target)
        equal(result.code, LEVEL_COPIED, "%r: %r" % (flags, result))
        equal(run.read(target), expected, "content with %r" % flags)
        blocks = os.stat(run.native(target)).st_blocks
        check(blocks <= allowed, "%r: %d blocks, the source %d" % (flags, blocks, allowed // 2))


# The terminal's title and progress sequences, by what TERM says it is: a
# terminal that names itself dumb, or nothing, gets neither.
TERMINALS = [("xterm-256color", True), ("dumb", False), (None, False)]


@case
def terminal_progress_indicator(run):
    if run.windows:
        return  # under wine there is no console window to attach it to
    import pty
    import subprocess
    run.write("big", data(8 * 1024 * 1024))
    for terminal, indicator in TERMINALS:
        try:
            leader, follower = pty.openpty()
        except OSError:
            return  # no pseudo-terminals on this machine
        environment = dict(run.target.environment)
        environment.pop("TERM", None)
        if terminal:
            environment["TERM"] = terminal
        child = subprocess.Popen(run.target.command(["big", "copy"]), cwd=run.directory,
                                 stdout=follower, stderr=subprocess.DEVNULL,
                                 stdin=subprocess.DEVNULL, env=environment)
        os.close(follower)
        output = read_until_closed(leader)
        equal(child.wait(timeout=60), LEVEL_COPIED, "exit code with TERM=%s" % terminal)
        text = output.decode("latin-1")
        check(text.endswith(" : Ok\r\n"), "line completed: %r" % text[-40:])
        if not indicator:
            check("\x1b" not in text, "no escape sequence with TERM=%s: %r" % (terminal, text))
            continue
        opened = "\x1b]0;Copying %s\x07\x1b]9;4;1;0\x07" % run.path("big")
        check(opened in text, "window opened with its caption: %r" % text[:300])
        check("\x1b]9;4;1;50\x07" in text, "the bar follows the figure")
        closed = text.index("\x1b]9;4;0;0\x07\x1b]0;\x07")
        check(closed > text.index(opened), "closed after it opened")


@case
def files_whose_status_misstates_their_size(run):
    """/proc files say they hold nothing, /sys files say 4096 bytes and hold
    a few: both copy paths copy what reads give, no more and no less."""
    if run.windows:
        raise Skipped("Windows has no /proc or /sys")
    rows = []
    if os.path.exists("/proc/version") and not os.path.getsize("/proc/version"):
        rows += [("/proc/version", ["-f", "-os"]), ("/proc/version", ["-f"])]
    address = "/sys/class/net/lo/address"
    if os.path.exists(address) and os.path.getsize(address) > len(open(address, "rb").read()):
        rows += [(address, flags) for flags in ([], ["-f"], ["-f", "-os"], ["-f", "-pr"])]
    if not rows:
        raise Skipped("no file here whose status misstates its size")
    for number, (source, flags) in enumerate(rows):
        with open(source, "rb") as handle:
            expected = handle.read()
        target = "out%d" % number
        if "-pr" not in flags:
            run.write(target, "old")
        result = run.zorov("-q", *flags, source, target)
        equal(result.code, LEVEL_COPIED, "%s %r: %r" % (source, flags, result))
        equal(run.read(target), expected, "%s copied to its end with %r" % (source, flags))


@case
def a_device_at_the_destination_is_left_as_it_is(run):
    """A device is written as it is, never replaced, dated, given the
    source's permissions, archived, appended to or restarted; a move onto it
    keeps its source. Nodes are made in the case's own directory."""
    rows = [  # flags, exit code, the end of the report
        ([], LEVEL_COPIED, " : Ok"),
        (["-f"], LEVEL_COPIED, " : Ok"),
        (["-h+"], LEVEL_COPIED, " : Ok"),
        (["-f", "-h+"], LEVEL_COPIED, " : Ok"),
        (["-os"], LEVEL_FAILED, " : Failed.  Can not safely overwrite a device or pipe."),
        (["-f", "-os"], LEVEL_FAILED, " : Failed.  Can not safely overwrite a device or pipe."),
        (["-a"], LEVEL_FAILED, " : Failed.  Can not archive a device or pipe."),
        (["-e"], LEVEL_FAILED, " : Failed.  Can not append to a device or pipe."),
        (["-pr"], LEVEL_FAILED, " : Failed.  Can not restart a copy onto a device or pipe."),
        (["-m"], LEVEL_FAILED, " : Destination is a device or pipe.  The source is not deleted."),
        (["-m", "-f"], LEVEL_FAILED, " : Destination is a device or pipe.  The source is not deleted."),
    ]
    if run.windows:
        devices = [("NUL", "\\\\.\\NUL")]  # nul.txt below
    else:
        if os.geteuid() != 0:
            raise Skipped("making device nodes needs root")
        os.mknod(run.native("null"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        os.chmod(run.native("null"), 0o666)
        os.utime(run.native("null"), (1000000000, 1000000000))
        devices = [("null", run.path("null"))]
    for device, shown in devices:
        for flags, code, text in rows:
            label = "%s %r" % (device, flags)
            run.write("private.txt", "secret", mode=0o600)
            result = run.zorov("-b", *flags, "private.txt", device)
            equal(result.code, code, "%s: %r" % (label, result))
            pair = "%s ===> %s" % (run.path("private.txt"), shown)
            check(result.out.endswith(pair + text + "\n"), "%s: %r" % (label, result))
            equal(run.read("private.txt"), b"secret", label + ": the source stays")
            equal(sorted(os.listdir(run.directory)), sorted(["private.txt"] + (
                [] if run.windows else ["null"])), label + ": nothing made beside")
            if not run.windows:
                node = os.stat(run.native("null"))
                check(stat.S_ISCHR(node.st_mode), label + ": still the device")
                equal(stat.S_IMODE(node.st_mode), 0o666, label + ": its permissions")
                equal(node.st_mtime, 1000000000, label + ": its time")
    if run.windows:
        # Every match of a wildcard goes to the one device.
        run.write("src/one.txt", "1")
        run.write("src/two.txt", "2")
        result = run.zorov("-b", "-m", "src\\*.txt", "nul.txt")
        equal(result.code, LEVEL_FAILED, result)
        equal(sorted(os.listdir(run.native("src"))), ["one.txt", "two.txt"], "the sources stay")
        return
    # A device that refuses every write keeps its time after the failure.
    os.mknod(run.native("full"), 0o666 | stat.S_IFCHR, os.makedev(1, 7))
    os.utime(run.native("full"), (1000000000, 1000000000))
    result = run.zorov("-b", "private.txt", "full")
    equal(result.code, LEVEL_FAILED, result)
    check(" : Write error.   " in result.out, result)
    equal(os.stat(run.native("full")).st_mtime, 1000000000, "the full device's time")


@case
def a_pipe_no_one_reads_fails_at_once(run):
    if run.windows:
        raise Skipped("named pipes live in the device namespace on Windows")
    run.write("f.txt", "data")
    run.write("tree/sub/f.txt", "data")
    os.makedirs(run.native("d2"))
    os.mkfifo(run.native("d2/f.txt"))
    os.makedirs(run.native("u/sub"))
    os.mkfifo(run.native("u/sub/f.txt"))
    # Older than its source, so that -w goes on to the copy after reading
    # the pipe's version.
    os.utime(run.native("d2/f.txt"), (1000000000, 1000000000))
    for arguments, pair in [(["f.txt", "d2/"], ("f.txt", "d2/f.txt")),
                            (["-f", "f.txt", "d2/"], ("f.txt", "d2/f.txt")),
                            (["-w", "f.txt", "d2/"], ("f.txt", "d2/f.txt")),
                            (["-s", "tree", "u/"], ("tree/sub/f.txt", "u/sub/f.txt"))]:
        result = run.zorov("-b", *arguments)
        equal(result.code, LEVEL_FAILED, "%r: %r" % (arguments, result))
        check(" : Unable to open output.  No such device or address\n" in result.out,
              "%r: %r" % (arguments, result))
        check(stat.S_ISFIFO(os.stat(run.native(pair[1])).st_mode), "the pipe stays")
