"""Names the program makes itself, in directories other users can write to:
links planted at them are never followed, and what the program writes is
never readable by more users than it should be."""

import glob
import os
import shutil
import stat
import tempfile
import time

from harness import LEVEL_COPIED, LEVEL_FAILED, LEVEL_STOPPED, case, check, equal, read_until_closed


def clock_readings(spread):
    """Millisecond clock readings the program may take soon: the monotonic
    clocks it may read, from a little before now to `spread` ms ahead."""
    readings = set()
    for clock in (time.CLOCK_MONOTONIC, getattr(time, "CLOCK_MONOTONIC_RAW", None)):
        if clock is None:
            continue
        now = int(time.clock_gettime(clock) * 1000)
        readings.update(range(now - 500, now + spread))
    return sorted(reading & 0xFFFFFFFF for reading in readings)


def plant_links(directory, base, target, spread):
    for reading in clock_readings(spread):
        name = os.path.join(directory, "%s_%d" % (base, reading))
        if not os.path.lexists(name):
            os.symlink(target, name)


@case
def safe_overwrite_never_opens_a_temporary_name_through_a_link(run):
    # Thousands of links are planted: in memory, where making one is quick.
    memory = "/dev/shm" if os.path.isdir("/dev/shm") else None
    scratch = tempfile.mkdtemp(prefix="zorov-links-", dir=memory)
    try:
        os.mkdir(os.path.join(scratch, "x"))
        victim = os.path.join(scratch, "victim")
        created = os.path.join(scratch, "x", "created")
        destination = os.path.join(scratch, "dst")
        with open(victim, "wb") as handle:
            handle.write(b"secret")
        run.write("src", "new")
        for flags in (["-os"], ["-f", "-os"]):
            with open(destination, "wb") as handle:
                handle.write(b"old")
            # every name the program could try: dangling links, links to a victim
            plant_links(scratch, "dst", created, 1500)
            plant_links(scratch, "dst", victim, 4000)
            named = ("Z:" + destination.replace("/", "\\")) if run.windows else destination
            result = run.zorov("-b", *flags, "src", named)
            check(not os.path.lexists(created), "created through a link with %r" % flags)
            with open(victim, "rb") as handle:
                equal(handle.read(), b"secret", "victim with %r" % flags)
            check(not os.path.islink(destination), "dst became a link with %r" % flags)
            with open(destination, "rb") as handle:
                kept = handle.read()
            check(kept in (b"old", b"new"), "dst with %r: %r" % (flags, kept))
            if memory and not run.windows:
                # the planted names cover every reading of the run's clock
                equal(result.code, LEVEL_FAILED, result)
                check("Safe Copy Failed.  Unable to create temporary output file\n" in result.out,
                      result)
                equal(kept, b"old", "destination kept with %r" % flags)
            for name in glob.glob(os.path.join(scratch, "dst_*")):
                os.unlink(name)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


@case
def append_with_safe_overwrite_keeps_the_old_content(run):
    run.write("d", "OLD\n")
    run.write("s", "NEW\n")
    result = run.zorov("-b", "-e", "-os", "s", "d")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("d"), b"OLD\nNEW\n", "appended")
    equal(sorted(os.listdir(run.directory)), ["d", "s"], "no temporary file left")


def help_directory(run):
    """The temporary directory the program writes its help file to."""
    if run.windows:
        # wine sets TMP and TEMP to its own temporary directory
        found = glob.glob(os.path.join(run.target.environment["WINEPREFIX"],
                                       "drive_c/users/*/Temp"))
        check(found, "the temporary directory of the wine prefix")
        return found[0]
    return run.native("tmp")


def help_path(run):
    if run.windows:
        return "C:\\users\\%s\\Temp\\zorov.hlp" % os.path.basename(
            os.path.dirname(help_directory(run)))
    return run.path("tmp/zorov.hlp")


def help_on_a_terminal(run, environment):
    """The program's exit code and what a terminal showed of its help, with
    `cat` for the pager."""
    import pty
    import subprocess
    leader, follower = pty.openpty()
    child = subprocess.Popen(run.target.command([]), cwd=run.directory,
                             env=dict(run.target.environment, PAGER="cat", **environment),
                             stdin=subprocess.DEVNULL, stdout=follower, stderr=follower)
    os.close(follower)
    shown = read_until_closed(leader).decode("latin-1").replace("\r\n", "\n")
    return child.wait(timeout=60), shown


@case
def help_file_is_never_written_through_a_link(run):
    directory = help_directory(run)
    os.makedirs(directory, exist_ok=True)
    help_name = os.path.join(directory, "zorov.hlp")
    run.write("victim", "secret")
    environment = {"TMP": run.path("tmp"), "TEMP": run.path("tmp")}
    try:
        for target in (run.native("victim"), run.native("created")):
            if os.path.lexists(help_name):
                os.unlink(help_name)
            os.symlink(target, help_name)
            result = run.zorov(environment=environment)
            equal(result.code, LEVEL_STOPPED, result)
            equal(run.read("victim"), b"secret", "victim")
            check(not run.exists("created"), "created through a dangling link")
            equal(glob.glob(help_name + ".*"), [], "no fresh file left behind")
            if run.windows and not result.err:
                # the emulator shows the host's link as a plain file: the
                # fresh file took the link's place, never writing through it
                check(not os.path.islink(help_name), "the link is replaced")
                continue
            equal(result.err, "Unable to Open %s\n" % help_path(run), "refused")
            check(result.out.startswith("ZOROV 4.38 -- "), "the help all the same: %r" % result)
            check(os.path.islink(help_name), "the link is left alone")
        # an earlier help file of the user's own is replaced
        os.unlink(help_name)
        with open(help_name, "wb") as handle:
            handle.write(b"an old help file\n")
        result = run.zorov(environment=environment)
        equal(result.code, LEVEL_STOPPED, result)
        with open(help_name, "rb") as handle:
            check(handle.read().startswith(b"ZOROV 4.38"), "replaced")
        equal(glob.glob(help_name + ".*"), [], "no fresh file left behind")
        if run.windows or os.geteuid() != 0:
            return  # another user's file needs root to make
        os.chown(help_name, 65534, 65534)
        result = run.zorov(environment=environment)
        equal(result.code, LEVEL_STOPPED, result)
        equal(result.err, "Unable to Open %s\n" % help_path(run), "another user's file")
        # a terminal gets the help through the pager all the same
        code, shown = help_on_a_terminal(run, environment)
        equal(code, LEVEL_STOPPED, shown)
        check(shown.startswith("Unable to Open %s\nZOROV 4.38 -- " % help_path(run)),
              "the pager shows the help: %r" % shown[:300])
        check(shown.endswith("else some files did not copy.\n\n\n\n"), shown[-100:])
        with open(help_name, "rb") as handle:
            check(handle.read().startswith(b"ZOROV 4.38"), "left alone")
    finally:
        if os.path.lexists(help_name):
            os.unlink(help_name)


def plant_copied_list(run, planted):
    """Puts what a row plants at the CopiedList's name PLANTED/run.log.fil."""
    listed = run.native(planted + "/run.log.fil")
    os.makedirs(os.path.dirname(listed))
    if planted == "link":
        os.symlink(run.native("victim"), listed)
    elif planted == "dangling":
        os.symlink(run.native("created"), listed)
    elif planted == "directory":
        os.mkdir(listed)
    elif planted == "earlier":
        run.write(planted + "/run.log.fil", "an earlier list\n")
    return planted + "/run.log.fil"


@case
def copied_list_is_never_written_through_a_link(run):
    refused = "Unable to Open %s\nLogging of copied files will be disabled.\n"
    run.write("victim", "secret")
    run.write("a", "A")
    for planted in ("link", "dangling", "directory", "earlier"):
        if run.windows and planted in ("link", "dangling"):
            print("    skipped %s: under wine the host's links are no links" % planted)
            continue
        listed = plant_copied_list(run, planted)
        log = planted + "/run.log"
        result = run.zorov("-L" + log, "a", planted + "/b")
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read(planted + "/b"), b"A", "copied with " + planted)
        equal(run.read("victim"), b"secret", "victim with " + planted)
        check(not run.exists("created"), "created through a dangling link")
        equal(glob.glob(run.native(listed + ".*")), [], "no fresh file left behind")
        if planted == "earlier":
            equal(result.err, "", planted)
            equal(run.text_lines(listed), run.path("a") + "\n", "replaced")
            continue
        equal(result.err, refused % listed, planted)
        check("Logging of copied files will be disabled.\n" in run.text_lines(log), planted)
        kept = os.path.isdir if planted == "directory" else os.path.islink
        check(kept(run.native(listed)), planted + " left as it was")
    if run.windows or os.geteuid() != 0:
        print("    skipped another user's list: %s" %
              ("the Windows layer tells no owners apart" if run.windows
               else "a file of another user needs root to make"))
        return
    # another user's file in a sticky directory
    os.mkdir(run.native("shared"))
    os.chmod(run.native("shared"), 0o1777)
    run.write("shared/run.log.fil", "their list\n")
    os.chown(run.native("shared/run.log.fil"), 65534, 65534)
    result = run.zorov("-Lshared/run.log", "a", "shared/b")
    equal(result.code, LEVEL_COPIED, result)
    equal(result.err, refused % "shared/run.log.fil", "another user's list")
    equal(run.read("shared/run.log.fil"), b"their list\n", "another user's list")
    equal(glob.glob(run.native("shared/run.log.fil.*")), [], "no fresh file left behind")


@case
def archive_never_follows_a_link_at_a_generation_name(run):
    run.write("victim", "secret")
    run.write("a.txt", "A")
    os.symlink(run.native("victim"), run.native("a.txt.(-01)"))
    result = run.zorov("-b", "-a", "a.txt", "-to", ".")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("victim"), b"secret", "victim after the backup beside itself")
    check(not os.path.islink(run.native("a.txt.(-01)")), "backup is a file of its own")
    equal(run.read("a.txt.(-01)"), b"A", "backup")
    if run.windows:
        return  # the emulator deletes and renames through the host's links
    run.write("src/r.txt", "new")
    run.write("r.txt", "current")
    os.symlink(run.native("victim"), run.native("r.(-01).txt"))
    os.symlink(run.native("victim"), run.native("r.(-02).txt"))
    result = run.zorov("-b", "-g3", "src/r.txt", "r.txt")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("victim"), b"secret", "victim after the rotation")
    equal(run.read("r.(-01).txt"), b"current", "newest generation")
    equal(run.read("r.txt"), b"new", "copy")


@case
def new_files_and_directories_respect_the_umask(run):
    if run.windows:
        return  # no permission bits on Windows
    run.write("src/a", "A", mode=0o644)
    run.write("old", "private", mode=0o600)
    previous = os.umask(0o077)
    try:
        results = [run.zorov("-q", "src/a", "plain"), run.zorov("-q", "-f", "src/a", "platform"),
                   run.zorov("-q", "-s", "src", "tree/"),
                   run.zorov("-q", "-os", "src/a", "old")]
    finally:
        os.umask(previous)
    for result in results:
        equal(result.code, LEVEL_COPIED, result)
    for name, mode in (("plain", 0o600), ("platform", 0o600), ("tree", 0o700),
                       ("tree/a", 0o600), ("old", 0o600)):
        equal(stat.S_IMODE(os.stat(run.native(name)).st_mode), mode, "mode of " + name)
    equal(run.read("old"), b"A", "replaced")
