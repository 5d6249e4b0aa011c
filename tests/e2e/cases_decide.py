"""The copy decision: the newer rule by time and by file version, the
sameness rule, and the archive generations of a replaced destination."""

import os
import struct

from harness import LEVEL_COPIED, LEVEL_FAILED, case, check, equal


def pair(run, source, destination):
    return "%s ===> %s" % (run.path(source), run.path(destination))


def log_lines(run, name="log"):
    """The lines of a LogFile after its time stamp and command-line echo."""
    return run.text_lines(name).split("\n")[2:]


def file_list(run, directory="."):
    return sorted(os.listdir(run.native(directory)))


def version_image(most, least):
    """A minimal 32-bit executable image whose version resource holds the two
    file version words: one section with the resource tree type 16 (version),
    name 1, language 0x409, and a VS_VERSIONINFO with its fixed record."""
    image = bytearray(0x400)

    def put(offset, form, *values):
        struct.pack_into("<" + form, image, offset, *values)

    image[0:2] = b"MZ"
    put(0x3C, "I", 0x40)
    put(0x40, "I", 0x00004550)                   # "PE\0\0"
    put(0x44, "HH", 0x14C, 1)                    # i386, one section
    put(0x54, "HH", 224, 0x0102)                 # optional header size, executable
    optional = 0x58
    put(optional, "H", 0x10B)                    # 32-bit optional header
    put(optional + 16, "I", 0x1000)              # entry point
    put(optional + 28, "I", 0x400000)            # image base
    put(optional + 32, "II", 0x1000, 0x200)      # section and file alignment
    put(optional + 40, "HH", 4, 0)               # operating system version
    put(optional + 48, "HH", 4, 0)               # subsystem version
    put(optional + 56, "II", 0x2000, 0x200)      # image size, headers size
    put(optional + 68, "HH", 3, 0)               # console subsystem
    put(optional + 72, "IIII", 0x100000, 0x1000, 0x100000, 0x1000)
    directories = optional + 96
    put(directories - 4, "I", 16)
    put(directories + 16, "II", 0x1000, 0x100)   # the resource directory
    section = optional + 224
    image[section:section + 5] = b".rsrc"
    put(section + 8, "IIII", 0x200, 0x1000, 0x200, 0x200)
    put(section + 36, "I", 0x40000040)           # initialised, readable
    resources = 0x200
    put(resources + 14, "H", 1)
    put(resources + 16, "II", 16, 0x80000000 | 0x18)
    put(resources + 0x18 + 14, "H", 1)
    put(resources + 0x28, "II", 1, 0x80000000 | 0x30)
    put(resources + 0x30 + 14, "H", 1)
    put(resources + 0x40, "II", 0x409, 0x48)
    put(resources + 0x48, "II", 0x1000 + 0x60, 0x5C)
    version = resources + 0x60
    put(version, "HHH", 0x5C, 0x34, 0)
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    image[version + 6:version + 6 + len(key)] = key
    put(version + 40, "IIII", 0xFEEF04BD, 0x00010000, most, least)
    put(version + 56, "II", most, least)         # product version alike
    return bytes(image)


def write_image(run, name, most, least, mtime):
    """An image whose contents differ with every version (so a copy shows)."""
    run.write(name, version_image(most, least), mtime=mtime)


# ---------------------------------------------------------------- newer rule

@case
def decide_newer_by_time(run):
    rows = [  # source time, destination time, copied, explanation
        (1000, 1000, False, " : Up to Date."),
        (1001, 1000, True, " : Destination is older."),
        (999, 1000, False, " : Destination is newer."),
    ]
    for source_time, destination_time, copied, text in rows:
        run.write("s/f", "new", mtime=source_time)
        run.write("d/f", "old", mtime=destination_time)
        run.write("log", "")
        result = run.zorov("-b", "-n", "-llog", "s/f", "d/")
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read("d/f"), b"new" if copied else b"old", "copied at %d" % source_time)
        lines = log_lines(run)
        equal(lines[0], pair(run, "s/f", "d/f") + text, "explanation")
        if copied:
            equal(lines[1], pair(run, "s/f", "d/f") + " : Ok", "copy line")
            equal(result.out, pair(run, "s/f", "d/f") + " : Ok\n", "console")
        else:
            equal(result.out, "", "nothing on the console")


@case
def decide_newer_with_tolerance(run):
    for source_time, copied in ((1002, False), (1003, True), (998, False)):
        run.write("s/f", "new", mtime=source_time)
        run.write("d/f", "old", mtime=1000)
        result = run.zorov("-q", "-n2", "s/f", "d/")
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read("d/f"), b"new" if copied else b"old", "copied at %d" % source_time)


@case
def decide_quiet_logging_keeps_explanations_out(run):
    run.write("s/f", "new", mtime=1000)
    run.write("d/f", "old", mtime=1000)
    run.write("s/g", "new", mtime=2000)
    run.write("d/g", "old", mtime=1000)
    result = run.zorov("-q", "-n", "-l-", "-llog", "s/f", "s/g", "d/")
    equal(result.code, LEVEL_COPIED, result)
    equal(log_lines(run), [pair(run, "s/g", "d/g") + " : Ok", "Error Level 0", ""], "log")


# -------------------------------------------------------------- sameness rule

@case
def decide_changed_within_two_seconds(run):
    rows = [  # flag, source content, source time, copied
        ("-c", "new", 1002, False),
        ("-c", "new", 998, False),
        ("-c", "new", 1003, True),
        ("-c", "newer", 1000, True),
        ("-c5", "new", 1003, True),
        ("-c5", "new", 1002, False),
    ]
    for flag, content, source_time, copied in rows:
        run.write("s/f", content, mtime=source_time)
        run.write("d/f", "old", mtime=1000)
        run.write("log", "")
        result = run.zorov("-q", flag, "-llog", "s/f", "d/")
        equal(result.code, LEVEL_COPIED, result)
        what = "%s %s %d" % (flag, content, source_time)
        equal(run.read("d/f"), content.encode() if copied else b"old", what)
        same = pair(run, "s/f", "d/f") + " : Files are the same.\n"
        equal(same in run.text_lines("log"), not copied, "sameness line, " + what)


# ------------------------------------------------------------- file versions

@case
def decide_versions_before_times(run):
    rows = [  # source words, destination words, flags, copied, logged text
        ((0x00010009, 0), (0x00020000, 0), ["-w"], False, " : Destination has newer version."),
        ((0x00010009, 0), (0x00020000, 0), ["-w", "-l-"], False,
         " : Destination has newer version."),
        ((0x00010000, 7), (0x00010000, 5), ["-w"], True, " : Destination has older version."),
        ((0x00010000, 7), (0x00010000, 5), ["-w", "-l-"], True, None),
        ((0x00010000, 5), (0x00010000, 7), ["-w"], False, " : Destination has newer version."),
        ((0x00010000, 5), (0x00010000, 7), ["-w", "-l-"], False, None),
        ((0x80000000, 0), (0x7FFFFFFF, 0), ["-w"], True, " : Destination has older version."),
    ]
    for (source_ms, source_ls), (dest_ms, dest_ls), flags, copied, text in rows:
        # The times always point the other way, so only the versions decide.
        write_image(run, "s/app.exe", source_ms, source_ls, 1000 if copied else 9000)
        write_image(run, "d/app.exe", dest_ms, dest_ls, 9000 if copied else 1000)
        run.write("log", "")
        result = run.zorov("-q", *flags, "-llog", "s/app.exe", "d/")
        equal(result.code, LEVEL_COPIED, result)
        what = "%r over %r %r" % ((source_ms, source_ls), (dest_ms, dest_ls), flags)
        equal(run.read("d/app.exe"), run.read("s/app.exe") if copied else
              version_image(dest_ms, dest_ls), what)
        lines = log_lines(run)
        explanation = [line for line in lines if " : Destination has " in line]
        expected = [pair(run, "s/app.exe", "d/app.exe") + text] if text else []
        equal(explanation, expected, "log, " + what)


@case
def decide_versions_missing_fall_back_to_times(run):
    # Neither carries a version: the times decide, as with -n.
    run.write("s/plain", "new", mtime=1000)
    run.write("d/plain", "old", mtime=2000)
    # Only the source carries one: the destination's 0.0 is older.
    write_image(run, "s/app.exe", 0x00010000, 0, 1000)
    run.write("d/app.exe", "old", mtime=2000)
    result = run.zorov("-q", "-w", "-llog", "s/plain", "s/app.exe", "d/")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("d/plain"), b"old", "newer destination kept")
    equal(run.read("d/app.exe"), version_image(0x00010000, 0), "versioned source copied")
    log = run.text_lines("log")
    check(pair(run, "s/plain", "d/plain") + " : Destination is newer.\n" in log, log)
    check(pair(run, "s/app.exe", "d/app.exe") + " : Destination has older version.\n" in log, log)


@case
def decide_version_resource_of_the_windows_build(run):
    """The version resource the build gives the Windows program reads 4.38.0.0:
    natively through the program's own reader of executables, under wine
    through the system's version service."""
    program = os.environ.get("ZOROV_WINDOWS_PROGRAM")
    if run.windows:
        program = run.target.program
    if not program:
        return  # natively the release stage names the Windows build
    with open(program, "rb") as handle:
        run.write("s/zorov.exe", handle.read(), mtime=5000)
    rows = [  # destination words, the decision logged
        ((0x00040026, 0), " : Up to Date."),  # the very same version: times decide
        ((0x00040026, 1), " : Destination has newer version."),
        ((0x00040027, 0), " : Destination has newer version."),
        ((0x00040025, 0xFFFFFFFF), " : Destination has older version."),
    ]
    for (most, least), text in rows:
        write_image(run, "d/zorov.exe", most, least, 5000)
        run.write("log", "")
        result = run.zorov("-q", "-w", "-llog", "s/zorov.exe", "d/")
        equal(result.code, LEVEL_COPIED, result)
        lines = [line for line in log_lines(run) if line.startswith(pair(run, "s/zorov.exe", ""))]
        equal(lines[:1], [pair(run, "s/zorov.exe", "d/zorov.exe") + text], "%x.%x" % (most, least))


# -------------------------------------------------------- archive generations

@case
def decide_archive_three_generations(run):
    run.write("src/report.txt", "new")
    run.write("w/report.txt", "current")
    run.write("w/report.(-01).txt", "one")
    run.write("w/report.(-02).txt", "two")
    result = run.zorov("-q", "-g3", "-llog", "src/report.txt", "w/")
    equal(result.code, LEVEL_COPIED, result)
    equal(file_list(run, "w"), ["report.(-01).txt", "report.(-02).txt", "report.txt"], "names")
    equal(run.read("w/report.txt"), b"new", "copy")
    equal(run.read("w/report.(-01).txt"), b"current", "newest backup")
    equal(run.read("w/report.(-02).txt"), b"one", "older backup")
    equal(log_lines(run), [
        "%s has been deleted." % run.path("w/report.(-02).txt"),
        "%s renamed to %s" % (run.path("w/report.(-01).txt"), run.path("w/report.(-02).txt")),
        "%s renamed to %s" % (run.path("w/report.txt"), run.path("w/report.(-01).txt")),
        pair(run, "src/report.txt", "w/report.txt") + " : Ok",
        "Error Level 0",
        "",
    ], "log")
    # A second run with one generation fewer leaves the higher one alone.
    result = run.zorov("-q", "-g2", "src/report.txt", "w/")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("w/report.(-01).txt"), b"new", "backup of the second run")
    equal(run.read("w/report.(-02).txt"), b"one", "generation left by the lower count")


@case
def decide_archive_generation_names(run):
    rows = [  # flag, destination, newest backup
        ("-a", "README", "README.(-01)"),
        ("-a", "data.tar.gz", "data.tar.(-01).gz"),
        ("-g1", "one.txt", "one.(-00).txt"),
        ("-g99", "many.txt", "many.(-01).txt"),
    ]
    for flag, destination, backup in rows:
        run.write("src/" + destination, "new")
        run.write("w/" + destination, "old")
        result = run.zorov("-q", flag, "src/" + destination, "w/")
        equal(result.code, LEVEL_COPIED, result)
        equal(run.read("w/" + backup), b"old", backup)
        equal(run.read("w/" + destination), b"new", destination)
    # -g99 removes generation 98 first; -g1 replaces the previous .(-00).
    run.write("w/many.(-98).txt", "oldest")
    run.write("w/many.(-97).txt", "next")
    result = run.zorov("-q", "-g99", "-llog", "src/many.txt", "w/")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("w/many.(-98).txt"), b"next", "shifted into the oldest")
    check("%s has been deleted.\n" % run.path("w/many.(-98).txt") in run.text_lines("log"),
          "oldest removed")
    result = run.zorov("-q", "-g1", "src/one.txt", "w/")
    equal(run.read("w/one.(-00).txt"), b"new", "previous copy becomes the backup")


@case
def decide_archive_identify_only_renames_nothing(run):
    run.write("src/report.txt", "new")
    run.write("w/report.txt", "current")
    run.write("w/report.(-04).txt", "four")
    result = run.zorov("-id", "-a", "-llog", "src/report.txt", "w/")
    equal(result.code, LEVEL_COPIED, result)
    equal(file_list(run, "w"), ["report.(-04).txt", "report.txt"], "names")
    equal(run.read("w/report.txt"), b"current", "untouched")


@case
def decide_archive_onto_itself(run):
    run.write("report.txt", "current")
    run.write("report.(-01).txt", "one")
    result = run.zorov("-b", "-g3", "-llog", "report.txt", ".")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("report.txt"), b"current", "file kept")
    equal(run.read("report.txt.(-01)"), b"current", "copy beside it")
    equal(run.read("report.(-02).txt"), b"one", "generations shifted")
    equal(result.out, pair(run, "report.txt", "report.txt.(-01)") + " : Ok\n", "console")


@case
def decide_archive_onto_itself_with_one_generation(run):
    run.write("report.txt", "current")
    run.write("report.(-00).txt", "zero")
    result = run.zorov("-b", "-g1", "report.txt", ".")
    equal(result.code, LEVEL_FAILED, result)
    equal(run.read("report.txt"), b"current", "file kept")
    equal(run.read("report.(-00).txt"), b"zero", "backup kept")
    check(" : Source, Destination are same file." in result.out, result)


@case
def decide_archive_through_another_name(run):
    run.write("w/report.txt", "current")
    os.link(run.native("w/report.txt"), run.native("w/link.txt"))
    result = run.zorov("-b", "-g1", "w/report.txt", "w/link.txt")
    equal(result.code, LEVEL_FAILED, result)
    check(" : Source, Destination are same file." in result.out, result)
    equal(file_list(run, "w"), ["link.txt", "report.txt"], "nothing renamed")
    result = run.zorov("-b", "-a", "w/report.txt", "w/link.txt")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("w/report.txt"), b"current", "source kept")
    equal(run.read("w/link.txt.(-01)"), b"current", "copy beside the link")


@case
def decide_archive_tree_onto_itself(run):
    # The tree copy names the source relative, the destination absolute.
    run.write("t/x", "current")
    result = run.zorov("-b", "-g1", "-s", "t", "t")
    equal(result.code, LEVEL_FAILED, result)
    check(" : Source, Destination are same file." in result.out, result)
    equal(file_list(run, "t"), ["x"], "nothing renamed")
    result = run.zorov("-b", "-a", "-s", "t", "t")
    equal(result.code, LEVEL_COPIED, result)
    equal(run.read("t/x"), b"current", "source kept")
    equal(run.read("t/x.(-01)"), b"current", "copy beside it")


@case
def decide_archive_refuses_a_generation_as_source(run):
    run.write("report.txt", "current")
    run.write("report.(-01).txt", "one")
    result = run.zorov("-b", "-a", "-llog", "report.(-01).txt", "report.txt")
    equal(result.code, LEVEL_FAILED, result)
    line = (pair(run, "report.(-01).txt", "report.txt") +
            " : Failed.  The source is an archive generation of the destination.\n")
    equal(result.out, line, "console")
    equal(run.read("report.txt"), b"current", "destination kept")
    equal(run.read("report.(-01).txt"), b"one", "source kept")
    equal(file_list(run), ["log", "report.(-01).txt", "report.txt"], "names")


@case
def decide_names_of_the_program_fit_where_the_name_fits(run):
    """A destination whose name leaves no room for the temporary name's digits
    or a generation's suffix gets them after a shortened name, by the limit of
    a component (255 bytes on POSIX) or of a whole name (259 characters on
    Windows, 4095 bytes on POSIX)."""
    limit = 259 if run.windows else 4095
    base = run.path("") + ("\\" if run.windows else "/")
    # Directories of 200 characters until the final name is short enough.
    crowded = "c/"
    while len(base) + len(crowded) + 201 + 20 < limit:
        crowded += "d" * 200 + "/"
    crowded += "f" * (limit - len(base) - len(crowded) - 5)
    names = [crowded]
    if not run.windows:
        names += ["w/" + "l" * 246 + ".txt", "w/" + "\u4e2d" * 85]
    rows = [(["-os"], 1), (["-f", "-os"], 1), (["-a"], 2), (["-g2"], 2)]
    for name in names:
        directory = os.path.dirname(name)
        for flags, kept in rows:
            if run.exists(directory):
                for entry in os.listdir(run.native(directory)):
                    os.remove(run.native(os.path.join(directory, entry)))
            run.write(name, "old")
            run.write("src/f", "new")
            what = "%r onto %d bytes" % (flags, len(name.encode()))
            result = run.zorov("-b", *flags, "src/f", name)
            equal(result.code, LEVEL_COPIED, "%s: %r" % (what, result))
            equal(run.read(name), b"new", what)
            others = [entry for entry in os.listdir(run.native(directory))
                      if entry != os.path.basename(name)]
            equal(len(others) + 1, kept, "%s: %r" % (what, others))
            if not others:
                continue
            backup = os.path.join(directory, others[0])
            equal(run.read(backup), b"old", what)
            check(len(os.path.basename(backup).encode()) <= 255, what)
            # A later run finds the generation the first one made.
            result = run.zorov("-b", *flags, "src/f", name)
            equal(result.code, LEVEL_COPIED, "%s again: %r" % (what, result))
            names_now = sorted(os.listdir(run.native(directory)))
            equal(len(names_now), 3 if flags == ["-a"] else 2, "%s again: %r" % (what, names_now))
            equal(run.read(backup), b"new", what + " again")
    # The CopiedList (the LogFile's name and ".fil") is made under a fresh
    # name and renamed into place: it too takes a name that leaves no room
    # for the fresh name's digits.
    for name in names[:2]:
        listed = name[:-4]
        run.write("src/f", "new")
        result = run.zorov("-b", "-L" + run.path(listed), "src/f", "out/")
        equal(result.code, LEVEL_COPIED, "CopiedList of %d bytes: %r" % (len(name.encode()), result))
        equal(run.read(listed + ".fil").decode().strip(), run.path("src/f"), "CopiedList")
