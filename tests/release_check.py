"""Checks what a release hands over: the install tree, the .deb and what it
depends on, the manual page, the help that reaches a pipe, and each Windows
build's version resource and .zip.

usage: release_check.py NATIVE_BUILD [WINDOWS_BUILD ...]
Prints a line per check and ends with "N passed, N failed".
"""

import os
import pty
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import traceback
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "e2e"))
from harness import read_until_closed  # noqa: E402  (the end-to-end cases' helpers)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES",
            "ENVIRONMENT", "NOTES"]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **options)


def project_version(build):
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        found = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", cache.read(), re.M)
    return found.group(1)


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
    root = os.path.join(scratch, "root")
    result = run(["cmake", "--install", build, "--prefix", prefix],
                 env=dict(os.environ, DESTDIR=root))
    check(result.returncode == 0, result.stderr.decode())
    return root, sorted(os.path.relpath(os.path.join(base, name), root)
                        for base, _, names in os.walk(root) for name in names)


def check_install_tree(build, scratch):
    root, files = installed_files(build, scratch, "/usr")
    expected = ["usr/bin/zorov", "usr/share/doc/zorov/LICENSE", "usr/share/doc/zorov/README.md",
                "usr/share/man/man1/zorov.1"]
    check(files == expected, "installed: %r" % files)
    program = os.path.join(root, "usr/bin/zorov")
    check(os.access(program, os.X_OK), "usr/bin/zorov installed and executable")
    check(elf_is_stripped(program), "usr/bin/zorov is stripped")
    check(os.path.isfile(os.path.join(root, "usr/share/man/man1/zorov.1")),
          "usr/share/man/man1/zorov.1 installed")


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


def make_package(build, scratch, generator):
    out = os.path.join(scratch, "packages-" + generator)
    result = run(["cpack", "-G", generator, "--config", os.path.join(build, "CPackConfig.cmake"),
                  "-B", out])
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
    for name in ["./usr/bin/zorov", "./usr/share/man/man1/zorov.1"]:
        check(re.search(r" %s$" % re.escape(name), listing, re.M), "%s in the package" % name)
    print("    %s: %d bytes\n      %s" % (os.path.basename(package), os.path.getsize(package),
                                         "\n      ".join(re.findall(r"\./\S*[^/]$", listing, re.M))))
    check_deb_installs(package, scratch)


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
        check(found == "/usr/share/man/man1/zorov.1", "man finds the page: %r" % found)
    finally:
        removed = dpkg("--purge", "zorov")
        check(removed.returncode == 0, "dpkg --purge: %s" % removed.stderr.decode())


# ---------------------------------------------------------- the Windows builds

def pe_sections(data):
    header, = struct.unpack_from("<I", data, 0x3C)
    count, = struct.unpack_from("<H", data, header + 6)
    symbols, = struct.unpack_from("<I", data, header + 12)
    optional_size, = struct.unpack_from("<H", data, header + 20)
    table = header + 24 + optional_size
    names = [data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode() for i in range(count)]
    return names, symbols


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
        listed = sorted(opened.namelist())
        expected = sorted("%s/%s" % (top, name) for name in
                          ["zorov.exe", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"])
        check(listed == expected, "zip contents %r" % listed)
        check(opened.read(top + "/zorov.exe") == data, "the zip holds the built program")
        readme = opened.read(top + "/README.txt")
        check(b"\n" not in readme.replace(b"\r\n", b""), "README.txt has CR LF line ends")
        sizes = ["%s %d" % (info.filename, info.file_size) for info in opened.infolist()]
    print("    %s: %d bytes\n      %s" % (os.path.basename(archive), os.path.getsize(archive),
                                         "\n      ".join(sizes)))


def main(arguments):
    if not arguments:
        print(__doc__)
        return 2
    native = os.path.abspath(arguments[0])
    checks = [("install tree", lambda s: check_install_tree(native, s)),
              ("help reaches a pipe", lambda s: check_help_reaches_pipe(native, s)),
              ("manual page", lambda s: check_manual_page(native, s)),
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
