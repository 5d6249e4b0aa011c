"""Checks what a release hands over: the install trees, the .deb (what it
depends on, what lintian says of it, and that two builds of one commit give
the same bytes), the manual page, the bash and zsh completion, the help that
reaches a pipe, and each Windows build's version resource, manifest,
subsystem version and .zip (and that two builds of one commit give the same
bytes).

usage: release_check.py NATIVE_BUILD [WINDOWS_BUILD ...]
Prints a line per check and ends with "N passed, N failed".
"""

import gzip
import os
import pty
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "e2e"))
from harness import read_until_closed  # noqa: E402  (the end-to-end cases' helpers)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES",
            "ENVIRONMENT", "POSIX SYSTEMS", "EXAMPLES", "NOTES", "SEE ALSO"]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **options)


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        found = re.search(r"^%s:[A-Z]+=(.*)$" % name, cache.read(), re.M)
    return found.group(1) if found else ""


def project_version(build):
    return cache_value(build, "CMAKE_PROJECT_VERSION")


def help_text(program, scratch):
    """The help as it reaches a pipe, and the help file of the same run."""
    result = run([program], cwd=scratch, env=dict(os.environ, TMP=scratch),
                 stdin=subprocess.DEVNULL)
    check(result.returncode == 8, "help exits with 8: %d" % result.returncode)
    with open(os.path.join(scratch, "zorov.hlp"), "rb") as handle:
        written = handle.read()
    check(result.stdout == written, "the pipe gets the help file's text")
    return written.decode("latin-1")


# ----------------------------------------------------------- the native build

def elf_is_stripped(name):
    with open(name, "rb") as handle:
        data = handle.read()
    check(data[:4] == b"\x7fELF" and data[4] == 2, "a 64-bit ELF file: %s" % name)
    offset, = struct.unpack_from("<Q", data, 0x28)
    size, count = struct.unpack_from("<HH", data, 0x3A)
    types = [struct.unpack_from("<I", data, offset + i * size + 4)[0] for i in range(count)]
    return 2 not in types  # no symbol table section


def installed_files(build, scratch, prefix):
    """A DESTDIR install of the build: its root and the files it made."""
    root = os.path.join(scratch, "root" + prefix.replace("/", "-"))
    result = run(["cmake", "--install", build, "--prefix", prefix],
                 env=dict(os.environ, DESTDIR=root))
    check(result.returncode == 0, result.stderr.decode())
    return root, sorted(os.path.relpath(os.path.join(base, name), root)
                        for base, _, names in os.walk(root) for name in names)


def check_compressed(name, original):
    """Compressed as Debian asks: the most, no name or time inside, and whole."""
    with open(name, "rb") as handle:
        data = handle.read()
    flags, mtime, extra = data[3], struct.unpack_from("<I", data, 4)[0], data[8]
    check(data[:2] == b"\x1f\x8b" and not flags & 0x08 and mtime == 0 and extra == 2,
          "%s: gzip -9n (flags %#x, time %d, extra %d)" % (name, flags, mtime, extra))
    with open(original, "rb") as handle:
        check(gzip.decompress(data) == handle.read(), "%s holds %s" % (name, original))


# Where each install puts the zsh completion: the system's packages use
# vendor-completions, a local install site-functions.
INSTALLS = {"/usr": "vendor-completions", "/usr/local": "site-functions"}


def check_install_tree(build, scratch):
    for prefix, zsh_directory in INSTALLS.items():
        root, files = installed_files(build, scratch, prefix)
        top = prefix.lstrip("/")
        expected = sorted(top + "/" + name for name in [
            "bin/zorov", "share/doc/zorov/LICENSE", "share/doc/zorov/README.md",
            "share/man/man1/zorov.1.gz", "share/bash-completion/completions/zorov",
            "share/zsh/%s/_zorov" % zsh_directory])
        check(files == expected, "installed in %s: %r" % (prefix, files))
        program = os.path.join(root, top, "bin/zorov")
        check(os.access(program, os.X_OK), "bin/zorov installed and executable")
        check(elf_is_stripped(program), "bin/zorov is stripped")
        check_compressed(os.path.join(root, top, "share/man/man1/zorov.1.gz"),
                         os.path.join(build, "zorov.1"))
        for name, made in [("share/bash-completion/completions/zorov", "zorov.bash"),
                           ("share/zsh/%s/_zorov" % zsh_directory, "_zorov")]:
            with open(os.path.join(root, top, name), "rb") as installed, \
                    open(os.path.join(build, "completion", made), "rb") as original:
                check(installed.read() == original.read(), "%s is the one made" % name)


def check_manual_page(build, scratch):
    page = os.path.join(build, "zorov.1")
    result = run(["groff", "-man", "-ww", "-z", page])
    check(result.returncode == 0 and not result.stderr, "groff: %r" % result.stderr)
    result = run(["man", "--warnings", "-l", page],
                 env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="", LC_ALL="C.UTF-8"))
    check(result.returncode == 0 and not result.stderr, "man -l: %r" % result.stderr)
    shown = re.sub(r".\x08", "", result.stdout.decode("utf-8"))
    headings = re.findall(r"^([A-Z][A-Z ]+)$", shown, re.M)
    for section in SECTIONS:
        check(section in headings, "section %s in %r" % (section, headings))
    options = shown[shown.index("\nOPTIONS\n"):shown.index("\nEXIT STATUS\n")]
    manual = help_text(os.path.join(build, "zorov"), scratch)
    flags = [re.split(r"--|\s", line, maxsplit=1)[0] if "--" not in line[1:]
             else line[:line.index("--", 1)].strip()
             for line in manual.split("\n") if line.startswith("-")]
    check(len(flags) >= 30, "the help's flags: %r" % flags)
    for flag in flags:
        check(re.search(r"^ {7}" + re.escape(flag) + r"(\s|$)", options, re.M),
              "an entry for %s" % flag)
    # every spelling of the flag table, those the help leaves out included
    terms = [term.lower() for term in re.findall(r"^ {7}(-\S+)", options, re.M)]
    for spelling in completion_flags(build):
        check([term for term in terms if term.startswith(spelling.lower())],
              "an entry for %s in %r" % (spelling, terms))
    posix = shown[shown.index("\nPOSIX SYSTEMS\n"):shown.index("\nEXAMPLES\n")]
    for corrected in ["Files larger than 2GB", "-b", "-f", "The progress window"]:
        check(re.search(r"^ {7}%s\b" % re.escape(corrected), posix, re.M),
              "POSIX SYSTEMS corrects %r" % corrected)
    for name in ["TMP", "TEMP", "TMPDIR", "PAGER", "zorov.hlp", "logfi.fil"]:
        check(re.search(r"^ {7}" + re.escape(name) + r"\b", shown, re.M), "an entry for " + name)


def check_help_reaches_pipe(build, scratch):
    program = os.path.join(build, "zorov")
    environment = dict(os.environ, TMP=scratch)
    piped = run(["sh", "-c", '"$0" | head -n 1', program], cwd=scratch, env=environment)
    check(piped.stdout.startswith(b"ZOROV 4.38 -- "), "zorov | head: %r" % piped.stdout)
    with open(os.path.join(scratch, "help.txt"), "wb") as output:
        code = subprocess.run([program], cwd=scratch, env=environment, stdout=output,
                              stdin=subprocess.DEVNULL).returncode
    check(code == 8, "zorov > help.txt exits with 8: %d" % code)
    with open(os.path.join(scratch, "help.txt"), "rb") as handle:
        saved = handle.read()
    with open(os.path.join(scratch, "zorov.hlp"), "rb") as handle:
        check(saved == handle.read() and b"Usage is:" in saved, "help.txt holds the help")
    # A terminal gets the pager, and not the text.
    try:
        leader, follower = pty.openpty()
    except OSError:
        print("    (no pseudo-terminals here: the pager is not checked)")
        return
    environment["PAGER"] = 'cat >"$PWD/shown" <'
    child = subprocess.Popen([program], cwd=scratch, env=environment, stdout=follower,
                             stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    os.close(follower)
    output = read_until_closed(leader)
    check(child.wait(timeout=60) == 8, "exit 8 on a terminal")
    check(b"Usage is:" not in output, "no help text on the terminal: %r" % output[:200])
    with open(os.path.join(scratch, "shown"), "rb") as handle:
        check(b"Usage is:" in handle.read(), "the pager showed the help file")


def library_packages(program):
    """The packages holding the shared libraries the program needs."""
    needed = re.findall(rb"\(NEEDED\)\s+Shared library: \[(.*?)\]",
                        run(["readelf", "-d", program]).stdout)
    resolved = run(["ldd", program]).stdout.decode()
    owners = set()
    for library in needed:
        name = re.escape(library.decode())
        # The loader itself is listed by its full path, without an arrow.
        found = re.search(r"^\s*%s => (\S+)" % name, resolved, re.M) or \
            re.search(r"^\s*(/\S*/%s)\s" % name, resolved, re.M)
        check(found, "%s resolved" % library)
        path = os.path.realpath(found.group(1))
        owner = run(["dpkg", "-S", path]).stdout.decode() or \
            run(["dpkg", "-S", found.group(1)]).stdout.decode()
        check(owner, "the package of %s" % path)
        owners.add(owner.split(":")[0])
    return owners


def make_package(build, scratch, generator, environment=None):
    out = os.path.join(scratch, "packages-%s-%d" % (generator, len(os.listdir(scratch))))
    result = run(["cpack", "-G", generator, "--config", os.path.join(build, "CPackConfig.cmake"),
                  "-B", out], env=environment or dict(os.environ, SOURCE_DATE_EPOCH=commit_time()))
    check(result.returncode == 0, result.stdout.decode() + result.stderr.decode())
    made = [name for name in os.listdir(out) if name.endswith("." + generator.lower())]
    check(len(made) == 1, "one package: %r" % made)
    return os.path.join(out, made[0])


def deb_field(package, field):
    return run(["dpkg-deb", "-f", package, field]).stdout.decode().strip()


def check_deb(build, scratch):
    package = make_package(build, scratch, "DEB")
    version = project_version(build)
    architecture = run(["dpkg", "--print-architecture"]).stdout.decode().strip()
    expected = {"Package": "zorov", "Version": version, "Architecture": architecture,
                "Section": "utils", "Priority": "optional"}
    for field, value in expected.items():
        check(deb_field(package, field) == value, "%s: %r" % (field, deb_field(package, field)))
    check(re.match(r".+ <.+@.+>$", deb_field(package, "Maintainer")), "a maintainer")
    check(len(deb_field(package, "Description").split("\n")) > 2, "a long description")
    depends = {entry.split()[0]: entry for entry in
               (part.strip() for part in deb_field(package, "Depends").split(","))}
    for owner in library_packages(os.path.join(build, "zorov")):
        check(owner in depends and "(>=" in depends[owner],
              "depends on %s with a version: %r" % (owner, depends))
    listing = run(["dpkg-deb", "-c", package]).stdout.decode()
    files = sorted(re.findall(r" \./(\S*[^/\s])$", listing, re.M))
    expected = sorted("usr/" + name for name in [
        "bin/zorov", "share/doc/zorov/README.md", "share/doc/zorov/changelog.gz",
        "share/doc/zorov/copyright", "share/man/man1/zorov.1.gz",
        "share/bash-completion/completions/zorov", "share/zsh/vendor-completions/_zorov"])
    check(files == expected, "the package holds %r" % files)
    print("    %s: %d bytes\n      %s" % (os.path.basename(package), os.path.getsize(package),
                                         "\n      ".join(re.findall(r"\./\S*[^/]$", listing, re.M))))
    check_lintian(package, help_text(os.path.join(build, "zorov"), scratch))
    check_deb_installs(package, scratch)
    check_reproducible(package, scratch,
                       ["-DZOROV_PACKAGE_CONTACT=" + deb_field(package, "Maintainer")],
                       ["zorov", "zorov_manual", "zorov_completion", "zorov_compressed"])


# The only notes lintian may make: misspellings of the help text, which is
# the program's output and stays word for word (in the program and in the
# manual page made from it).
HELP_SPELLINGS = ["spelling-error-in-binary", "typo-in-manual-page"]


def check_lintian(package, manual):
    result = run(["lintian", "-I", "--pedantic", "--no-tag-display-limit", package])
    lines = result.stdout.decode().splitlines()
    print("    lintian -I --pedantic:\n      " + "\n      ".join(lines or ["(nothing)"]))
    for line in lines:
        found = re.match(r"^([A-Z]): zorov: (\S+) (\S+)", line)
        check(found and found.group(1) == "I" and found.group(2) in HELP_SPELLINGS,
              "lintian: %s" % line)
        check(re.search(r"\b%s\b" % re.escape(found.group(3)), manual),
              "%r is a word of the help text" % found.group(3))
    check(result.returncode == 0, "lintian: %s" % result.stderr.decode())


def commit_time():
    """The time of the last commit, which the packages' times are."""
    result = run(["git", "-C", ROOT, "log", "-1", "--format=%ct"])
    return result.stdout.decode().strip() if result.returncode == 0 else "1235174400"


def deb_listing(package):
    return "".join("dpkg-deb %s:\n%s" % (member, run(["dpkg-deb", member, package]).stdout.decode())
                   for member in ["-c", "-I"])


def zip_listing(archive):
    with zipfile.ZipFile(archive) as opened:
        return "".join("%s %r %o %08x %s\n" % (info.filename, info.date_time,
                                               info.external_attr >> 16, info.CRC,
                                               info.extra.hex())
                       for info in opened.infolist())


def check_reproducible(package, scratch, configure, targets):
    """A second build of the package, in a directory of another name and
    depth, without the compiler cache (which would hand back the first
    build's objects) and packed in another time zone, gives the same bytes.
    Only what the package holds is built."""
    started = time.time()
    other = os.path.join(scratch, "another", "build")
    environment = dict(os.environ, SOURCE_DATE_EPOCH=commit_time())
    environment.pop("CMAKE_CXX_COMPILER_LAUNCHER", None)
    log = os.path.join(scratch, "another.log")
    with open(log, "wb") as output:
        steps = [["cmake", "-S", ROOT, "-B", other, "-DCMAKE_BUILD_TYPE=Release",
                  "-DZOROV_TESTS=OFF"] + configure,
                 ["cmake", "--build", other, "-j2", "--target"] + targets]
        for step in steps:
            code = subprocess.run(step, stdout=output, stderr=subprocess.STDOUT,
                                  env=environment).returncode
            if code:
                with open(log) as handle:
                    raise Failure("%s: %s" % (" ".join(step), handle.read()[-3000:]))
    generator, listing = ("DEB", deb_listing) if package.endswith(".deb") else ("ZIP", zip_listing)
    # nine hours east of the first (a rule that needs no time zone data)
    again = make_package(other, scratch, generator, dict(environment, TZ="ZZZ-9"))
    with open(package, "rb") as first, open(again, "rb") as second:
        same = first.read() == second.read()
    if not same:
        for name, made in [("the first", package), ("the second", again)]:
            print("    %s:\n      %s" % (name, listing(made).rstrip("\n").replace("\n", "\n      ")))
    check(same, "two builds of one commit give the same package")
    print("    the package built again elsewhere is the same bytes (%.0f s)" %
          (time.time() - started))


def dpkg(*arguments):
    """dpkg, waiting while another dpkg holds its lock."""
    for _ in range(60):
        result = run(["dpkg"] + list(arguments))
        if b"lock" not in result.stderr:
            return result
        subprocess.run(["sleep", "2"])
    return result


def check_deb_installs(package, scratch):
    if os.geteuid() != 0:
        print("    skipped: installing the package with dpkg -i needs root")
        return
    if run(["dpkg-query", "-W", "-f", "${Status}", "zorov"]).stdout.endswith(b" installed"):
        print("    skipped: a zorov package is installed already; it is left alone")
        return
    result = dpkg("-i", package)
    try:
        check(result.returncode == 0, "dpkg -i: %s" % result.stderr.decode())
        code = run(["/usr/bin/zorov"], cwd=scratch, env=dict(os.environ, TMP=scratch)).returncode
        check(code == 8, "the installed program shows its help: %d" % code)
        found = run(["man", "-w", "zorov"]).stdout.decode().strip()
        check(found == "/usr/share/man/man1/zorov.1.gz", "man finds the page: %r" % found)
    finally:
        removed = dpkg("--purge", "zorov")
        check(removed.returncode == 0, "dpkg --purge: %s" % removed.stderr.decode())


# ------------------------------------------------------------ shell completion

# What is typed, with the cursor at its end, and what the typed word can
# become, in a directory holding data.txt, dir/ and list.txt. "FLAGS" stands
# for every spelling of the flag table. bash splits its own words at "@" as
# well; zsh's names come without the "@", which it keeps aside.
COMPLETIONS = [
    ("zorov -", ["zorov", "-"], "FLAGS"),
    ("zorov -s", ["zorov", "-s"], {"-s", "-sv"}),
    ("zorov -t", ["zorov", "-t"], {"-t"}),                      # -to is no flag
    ("zorov -x *.tmp -r", ["zorov", "-x", "*.tmp", "-r"], {"-r", "-rc", "-rn"}),  # -x takes a list
    ("zorov -s d", ["zorov", "-s", "d"], {"data.txt", "dir"}),
    ("zorov data.txt -t", ["zorov", "data.txt", "-t"], {"-to"}),
    ("zorov -n data.txt -to l", ["zorov", "-n", "data.txt", "-to", "l"], {"list.txt"}),
    ("zorov @l", ["zorov", "@", "l"], {"@list.txt"}),
    ("zorov data.txt -to @l", ["zorov", "data.txt", "-to", "@", "l"], {"@list.txt"}),
]


def completion_directory(scratch):
    place = os.path.join(scratch, "names")
    os.makedirs(os.path.join(place, "dir"))
    for name in ["data.txt", "list.txt"]:
        open(os.path.join(place, name), "w").close()
    return place


def bash_offers(script, place, line, words):
    """The replies of the completion function, called as bash calls it."""
    program = ('source "$1"; COMP_LINE=$2; COMP_POINT=${#COMP_LINE}; shift 2; '
               'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _zorov zorov "${@: -1}"; '
               'printf "%s\\n" "${COMPREPLY[@]}"')
    result = run(["bash", "--norc", "--noprofile", "-c", program, "bash", script, line] + words,
                 cwd=place)
    check(result.returncode == 0 and not result.stderr, "bash: %r" % result.stderr)
    offered = [reply for reply in result.stdout.decode().split("\n") if reply]
    # What the typed word becomes: readline replaces its end after the last
    # "=" or ":", or from the last "@" on (tried on a terminal below).
    typed = line.split(" ")[-1]
    kept = max(typed.rfind("="), typed.rfind(":")) + 1
    kept = max(kept, typed.rfind("@"))
    return {typed[:kept] + reply for reply in offered}


def bash_typed(script, place, lines):
    """The arguments each line ends with when a tab is typed at its end and
    the line is run, in an interactive bash on a terminal."""
    leader, follower = pty.openpty()
    child = subprocess.Popen(["bash", "--norc", "--noprofile", "-i"], cwd=place, stdin=follower,
                             stdout=follower, stderr=follower,
                             env=dict(os.environ, TERM="dumb", HOME=place, PS1="$ "))
    os.close(follower)
    typed = 'source %s\nzorov() { local IFS="|"; echo "=[$*]="; }\n' % script
    typed += "".join(line + "\t\n" for line in lines) + "exit\n"
    try:
        for character in typed:  # a key at a time, as readline gets them
            os.write(leader, character.encode())
            if character in "\t\n":
                time.sleep(0.2)
        output = read_until_closed(leader)
    finally:
        child.kill()
        child.wait()
    return [found.split("|") for found in re.findall(r"^=\[(.*)\]=\r?$",
                                                     output.decode(errors="replace"), re.M)]


# A zsh started on a terminal loads the completion from its directory, the
# typed line ends in a tab, and each set of names the completion adds (with
# what zsh matches against what was typed) is written to a file.
ZSH_SETUP = r"""PS1='> '
fpath=(%(directory)s $fpath)
autoload -Uz compinit && compinit -u -D
compadd() {
  if (( ! ${@[(I)-[OAD]]} )); then
    local -a found
    builtin compadd -O found "$@"
    print -rl -- $found >>%(out)s
  fi
  builtin compadd "$@"
}
"""


def zsh_offers(directory, place, line):
    out = os.path.join(place, "..", "offered")
    if os.path.exists(out):
        os.remove(out)
    leader, follower = pty.openpty()
    child = subprocess.Popen(["zsh", "-f", "-i"], cwd=place, stdin=follower, stdout=follower,
                             stderr=follower, env=dict(os.environ, TERM="dumb", HOME=place))
    os.close(follower)
    try:
        os.write(leader, (ZSH_SETUP % {"directory": directory, "out": out}).encode())
        os.write(leader, line.encode() + b"\t")
        deadline = time.time() + 20
        offered = None
        while time.time() < deadline:
            time.sleep(0.3)
            if os.path.exists(out):
                time.sleep(0.5)  # all that one tab adds
                with open(out) as handle:
                    offered = set(handle.read().split())
                break
        check(offered is not None, "zsh offered nothing for %r" % line)
        return offered
    finally:
        child.kill()
        child.wait()
        os.close(leader)


def completion_flags(build):
    """Every spelling of the flag parser's table, as the completion offers them."""
    result = run([os.path.join(build, "zorov_shell_completion"), "--flags"])
    flags = set(result.stdout.decode().split())
    check(result.returncode == 0 and len(flags) > 30, "the flag table's spellings: %r" % flags)
    return flags


def check_completion(build, scratch):
    flags = completion_flags(build)
    place = completion_directory(scratch)
    script = os.path.join(build, "completion", "zorov.bash")
    for line, words, expected in COMPLETIONS:
        expected = flags if expected == "FLAGS" else expected
        offered = bash_offers(script, place, line, words)
        check(offered == expected, "bash, %r: %r" % (line, sorted(offered)))
    unique = [(line, expected) for line, _, expected in COMPLETIONS if len(expected) == 1]
    ended = bash_typed(script, place, [line for line, _ in unique])
    check(len(ended) == len(unique), "bash ran %r" % ended)
    for (line, expected), arguments in zip(unique, ended):
        check(arguments[-1] == next(iter(expected)), "bash, %r<tab>: %r" % (line, arguments))
    if not shutil.which("zsh"):
        print("    zsh is not installed: its completion is not tried")
        return
    for line, _, expected in COMPLETIONS:
        expected = flags if expected == "FLAGS" else expected
        offered = zsh_offers(os.path.join(build, "completion"), place, line)
        # zsh shows a directory's name with its slash
        expected = {name.lstrip("@") for name in expected}
        check({name.rstrip("/") for name in offered} == expected,
              "zsh, %r: %r" % (line, sorted(offered)))


# ---------------------------------------------------------- the Windows builds

def pe_sections(data):
    header, = struct.unpack_from("<I", data, 0x3C)
    count, = struct.unpack_from("<H", data, header + 6)
    symbols, = struct.unpack_from("<I", data, header + 12)
    optional_size, = struct.unpack_from("<H", data, header + 20)
    table = header + 24 + optional_size
    names = [data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode() for i in range(count)]
    return names, symbols


def pe_headers(data):
    """The optional header's offset and the section table (name, size in
    memory, address, size in the file, offset in the file)."""
    header, = struct.unpack_from("<I", data, 0x3C)
    count, = struct.unpack_from("<H", data, header + 6)
    optional_size, = struct.unpack_from("<H", data, header + 20)
    table = header + 24 + optional_size
    sections = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(count)]
    return header + 24, sections


def pe_versions(data):
    """The image's operating system and subsystem versions, and its subsystem."""
    optional, _ = pe_headers(data)
    return (struct.unpack_from("<HH", data, optional + 40),
            struct.unpack_from("<HH", data, optional + 48),
            struct.unpack_from("<H", data, optional + 68)[0])


def pe_resource(data, kind, identifier):
    """The bytes of a resource of the image, by type and identifier (any
    language), or None."""
    optional, sections = pe_headers(data)
    magic, = struct.unpack_from("<H", data, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    address, size = struct.unpack_from("<II", data, directories + 2 * 8)
    if not size:
        return None

    def file_offset(rva):
        for _, length, start, raw_length, raw in sections:
            if start <= rva < start + max(length, raw_length):
                return raw + rva - start
        raise Failure("address %#x in no section" % rva)

    base = file_offset(address)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        return [struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
                for i in range(named + numbered)]

    directory = 0
    for wanted in (kind, identifier, None):
        found = [target for name, target in entries(directory) if wanted in (None, name)]
        if not found:
            return None
        directory = found[0] & 0x7FFFFFFF
    data_address, data_size = struct.unpack_from("<II", data, base + directory)
    start = file_offset(data_address)
    return data[start:start + data_size]


# The Windows versions the manifest names, from Vista on.
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
                "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11"}


def check_manifest(versions, text):
    """The manifest the system reads at start: run as the invoker (no file
    virtualisation), the supported versions, version 6 of the common
    controls; and the image states Vista (6.0) as its oldest system. The
    end-to-end cases check what wine's loader sees with it too."""
    os_version, subsystem_version, subsystem = versions
    check(subsystem == 3, "a console program: subsystem %d" % subsystem)
    check(subsystem_version == (6, 0) and os_version == (6, 0),
          "subsystem version %r, system version %r" % (subsystem_version, os_version))
    check(text, "a manifest resource (type 24, identifier 1)")
    from xml.etree import ElementTree
    root = ElementTree.fromstring(text)
    namespaces = {"v1": "urn:schemas-microsoft-com:asm.v1",
                  "v3": "urn:schemas-microsoft-com:asm.v3",
                  "c": "urn:schemas-microsoft-com:compatibility.v1"}
    levels = [level.get("level") for level in root.iterfind(
        ".//v3:requestedExecutionLevel", namespaces)]
    check(levels == ["asInvoker"], "execution level %r" % levels)
    systems = {system.get("Id") for system in root.iterfind(".//c:supportedOS", namespaces)}
    check(systems == set(SUPPORTED_OS), "supported systems %r" % systems)
    controls = [(identity.get("name"), identity.get("version")) for identity in root.iterfind(
        ".//v1:dependentAssembly/v1:assemblyIdentity", namespaces)]
    check(controls == [("Microsoft.Windows.Common-Controls", "6.0.0.0")],
          "dependencies %r" % controls)


def version_info(data):
    """The fixed version words and the strings of the image's VS_VERSIONINFO."""
    start = data.index("VS_VERSION_INFO\0".encode("utf-16-le")) - 6

    def walk(offset, strings):
        length, value_length, kind = struct.unpack_from("<HHH", data, offset)
        end = offset + length
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value = (key_end + 2 + 3) & ~3
        if kind == 1 and value_length:
            text = data[value:value + 2 * value_length].decode("utf-16-le").rstrip("\0")
            strings[key] = text
            value += 2 * value_length
        else:
            value += value_length
        child = (value + 3) & ~3
        while child < end:
            child_length, = struct.unpack_from("<H", data, child)
            if not child_length:
                break
            walk(child, strings)
            child = (child + child_length + 3) & ~3

    strings = {}
    walk(start, strings)
    fixed = data.index(struct.pack("<I", 0xFEEF04BD), start)
    words = struct.unpack_from("<IIII", data, fixed + 8)
    return words, strings


def check_windows_build(build, native_build, scratch):
    program = os.path.join(build, "zorov.exe")
    with open(program, "rb") as handle:
        data = handle.read()
    names, symbols = pe_sections(data)
    check(not [n for n in names if n.startswith((".debug", "/"))] and symbols == 0,
          "stripped: sections %r, %d symbols" % (names, symbols))
    version = project_version(build)
    parts = [int(part) for part in version.split(".")]
    (file_ms, file_ls, product_ms, product_ls), strings = version_info(data)
    words = [file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF]
    check(words == parts == [4, 38, 0, 0], "FileVersion words %r" % words)
    check((product_ms, product_ls) == (file_ms, file_ls), "ProductVersion words")
    for key in ["FileVersion", "ProductVersion"]:
        check(strings.get(key) == version, "%s: %r" % (key, strings.get(key)))
    check(strings.get("ProductName") == "ZOROV", "ProductName: %r" % strings)
    check_manifest(pe_versions(data), pe_resource(data, 24, 1))
    check("WITHOUT ANY WARRANTY" in strings.get("LegalCopyright", ""), "licence line: %r" % strings)
    banner = help_text(os.path.join(native_build, "zorov"), scratch).split("\n")[0]
    check(banner.startswith("%s %d.%d -- " % (strings["ProductName"], parts[0], parts[1])),
          "the banner %r matches the resource" % banner)
    # The POSIX build reads the same words with -w.
    case = run([sys.executable, os.path.join(HERE, "e2e", "run.py"),
                os.path.join(native_build, "zorov"), "decide_version_resource_of_the_windows_build"],
               env=dict(os.environ, ZOROV_WINDOWS_PROGRAM=program))
    check(case.returncode == 0, case.stdout.decode())
    _, files = installed_files(build, scratch, "/opt/zorov")
    check(files == ["opt/zorov/bin/zorov.exe"], "installed: %r" % files)
    archive = make_package(build, scratch, "ZIP")
    top = os.path.basename(archive)[:-4]
    with zipfile.ZipFile(archive) as opened:
        listed = opened.namelist()
        expected = sorted("%s/%s" % (top, name) for name in
                          ["zorov.exe", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"])
        check(listed == expected, "zip contents in name order %r" % listed)
        # whoever packs it, in whatever time zone: the commit's time in UTC
        # (in the two-second steps of the MS-DOS field), fixed modes, and no
        # owner (only the "UT" time field)
        made = time.gmtime(int(commit_time()))[:6]
        made = made[:5] + (made[5] // 2 * 2,)
        for info in opened.infolist():
            mode = 0o100755 if info.filename.endswith(".exe") else 0o100644
            fields = (info.date_time, info.external_attr >> 16, extra_fields(info.extra))
            check(fields == (made, mode, [0x5455]), "%s: %r" % (info.filename, fields))
        check(opened.read(top + "/zorov.exe") == data, "the zip holds the built program")
        readme = opened.read(top + "/README.txt")
        check(b"\n" not in readme.replace(b"\r\n", b""), "README.txt has CR LF line ends")
        # written for someone at a command prompt, not the developers' README
        commands = re.findall(rb"^  zorov .*$", readme, re.M)
        check(len(commands) == 10, "ten everyday commands: %r" % commands)
        for heading in [b"INSTALL", b"EXIT CODES", b"THE FULL REFERENCE"]:
            check(re.search(rb"^%s\r$" % heading, readme, re.M), "README.txt: %s" % heading)
        check(b"```" not in readme and b"## " not in readme, "README.txt is no Markdown")
        sizes = ["%s %d" % (info.filename, info.file_size) for info in opened.infolist()]
    print("    %s: %d bytes\n      %s" % (os.path.basename(archive), os.path.getsize(archive),
                                         "\n      ".join(sizes)))
    # a time the MS-DOS field can't hold is packed as its earliest
    with zipfile.ZipFile(make_package(build, scratch, "ZIP",
                                      dict(os.environ, SOURCE_DATE_EPOCH="0"))) as opened:
        check({info.date_time for info in opened.infolist()} == {(1980, 1, 1, 0, 0, 0)},
              "SOURCE_DATE_EPOCH=0 packs at the start of 1980")
    check_reproducible(archive, scratch,
                       ["-DCMAKE_TOOLCHAIN_FILE=" + cache_value(build, "CMAKE_TOOLCHAIN_FILE")],
                       ["zorov"])


def extra_fields(extra):
    """The kinds of an entry's extra fields."""
    kinds = []
    while len(extra) >= 4:
        kind, size = struct.unpack_from("<HH", extra)
        kinds.append(kind)
        extra = extra[4 + size:]
    return kinds


def main(arguments):
    if not arguments:
        print(__doc__)
        return 2
    native = os.path.abspath(arguments[0])
    checks = [("install tree", lambda s: check_install_tree(native, s)),
              ("help reaches a pipe", lambda s: check_help_reaches_pipe(native, s)),
              ("manual page", lambda s: check_manual_page(native, s)),
              ("shell completion", lambda s: check_completion(native, s)),
              (".deb package", lambda s: check_deb(native, s))]
    for windows in arguments[1:]:
        build = os.path.abspath(windows)
        checks.append(("Windows build %s" % windows,
                       lambda s, build=build: check_windows_build(build, native, s)))
    passed = failed = 0
    for label, function in checks:
        scratch = tempfile.mkdtemp(prefix="zorov-release-")
        try:
            function(scratch)
            passed += 1
            print("  ok     " + label)
        except Exception:  # a failed check is reported, the others go on
            failed += 1
            print("  FAILED " + label)
            print("    " + traceback.format_exc().replace("\n", "\n    "))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        sys.stdout.flush()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
