"""Real file systems: small loop-mounted images of XFS (with reflink),
btrfs, exFAT (through FUSE), NTFS (ntfs-3g) and tmpfs, each given the same
scenarios; exFAT also the spellings by letter case of a case-folding file
system. Needs root to mount; without it, or where a mount fails, each file
system is skipped with the reason."""

import os
import random
import shutil
import subprocess

from harness import Skipped, case, check, equal

TIME = 1600000000  # whole seconds: every file system here keeps them


def payload(size, seed):
    generator = random.Random(seed)
    return bytes(generator.getrandbits(8) for _ in range(size))


def quiet(command):
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          timeout=120)


class Mounted:
    """An image file made with `make`, attached to a loop device and mounted
    at `m` in the case's directory; detached whatever happens."""

    def __init__(self, run, kind, size_mb, make, mount):
        self.run = run
        self.kind = kind
        self.size_mb = size_mb
        self.make = make
        self.mount = mount
        self.point = run.native("m")
        self.device = None
        self.mounted = False

    def __enter__(self):
        if self.run.windows:
            # wine's own name layer over a FUSE mount can stall for minutes
            raise Skipped("the file-system stage runs with the native build")
        if os.geteuid() != 0:
            raise Skipped("mounting %s images needs root" % self.kind)
        tool = (self.make or self.mount)[0]
        if shutil.which(tool) is None:
            raise Skipped("%s is not installed" % tool)
        os.mkdir(self.point)
        try:
            self.attach()
        except Skipped:
            self.__exit__(None, None, None)
            raise
        return self

    def attach(self):
        image = self.run.native("image")
        if self.make:
            with open(image, "wb") as handle:
                handle.truncate(self.size_mb << 20)
            made = quiet(self.make + [image])
            if made.returncode != 0:
                raise Skipped("%s failed: %s" % (self.make[0], made.stderr.decode().strip()))
            attached = subprocess.run(["losetup", "-f", "--show", image],
                                      capture_output=True, timeout=60)
            if attached.returncode != 0:
                raise Skipped("no loop device: %s" % attached.stderr.decode().strip())
            self.device = attached.stdout.decode().strip()
        mounted = quiet(self.mount + ([self.device] if self.device else []) + [self.point])
        if mounted.returncode != 0:
            raise Skipped("mounting %s failed: %s" % (self.kind, mounted.stderr.decode().strip()))
        self.mounted = True

    def __exit__(self, *ignored):
        if self.mounted:
            for attempt in range(20):
                if quiet(["umount", self.point]).returncode == 0:
                    break
                subprocess.run(["sleep", "0.2"])
            else:
                quiet(["umount", "-l", self.point])
        if self.device:
            quiet(["losetup", "-d", self.device])
        return False


def write(run, name, data):
    path = run.write(name, data)
    os.utime(path, (TIME, TIME))
    return path


def ok(result, what):
    equal(result.code, 0, "%s: %r" % (what, result))


def scenarios(run):
    """What every file system gets, all inside m/."""
    data = payload(300000, 1)
    write(run, "m/src/a.bin", data)
    ok(run.zorov("-b", "m/src/a.bin", "m/plain.bin"), "plain copy")
    equal(run.read("m/plain.bin"), data, "plain copy")
    equal(int(os.stat(run.native("m/plain.bin")).st_mtime), TIME, "plain copy's time")

    write(run, "m/safe.bin", b"old")
    ok(run.zorov("-b", "-os", "m/src/a.bin", "m/safe.bin"), "-os")
    equal(run.read("m/safe.bin"), data, "-os")
    equal(sorted(os.listdir(run.native("m"))), ["plain.bin", "safe.bin", "src"],
          "no temporary file left")

    write(run, "m/append.bin", b"head")
    ok(run.zorov("-b", "-e", "m/src/a.bin", "m/append.bin"), "-e")
    equal(run.read("m/append.bin"), b"head" + data, "-e")

    ok(run.zorov("-b", "-p", "m/src/a.bin", "m/checkpoint.bin"), "-p")
    equal(run.read("m/checkpoint.bin"), data, "-p")
    os.truncate(run.native("m/checkpoint.bin"), 100000)
    ok(run.zorov("-b", "-pr", "m/src/a.bin", "m/checkpoint.bin"), "-pr")
    equal(run.read("m/checkpoint.bin"), data, "-pr")

    for number in range(3):
        write(run, "m/src/g.txt", b"version %d" % number)
        ok(run.zorov("-b", "-a", "-g3", "m/src/g.txt", "m/gen/"), "-a -g3")
    equal(run.read("m/gen/g.txt"), b"version 2", "-a -g3")
    equal(run.read("m/gen/g.(-01).txt"), b"version 1", "-a -g3")
    equal(run.read("m/gen/g.(-02).txt"), b"version 0", "-a -g3")

    write(run, "m/src/move.txt", b"moving")
    ok(run.zorov("-b", "-m", "m/src/move.txt", "m/moved.txt"), "-m")
    equal(run.read("m/moved.txt"), b"moving", "-m")
    check(not run.exists("m/src/move.txt"), "-m deletes the source")

    ok(run.zorov("-b", "-f", "m/src/a.bin", "m/platform.bin"), "-f")
    equal(run.read("m/platform.bin"), data, "-f")

    write(run, "m/tree/one.txt", b"1")
    write(run, "m/tree/sub/two.txt", b"2")
    write(run, "m/tree/sub/deep/three.txt", b"3")
    ok(run.zorov("-b", "-s", "m/tree", "m/copy/"), "-s")
    equal(run.read("m/copy/sub/deep/three.txt"), b"3", "-s")
    again = run.zorov("-b", "-s", "-n", "m/tree", "m/copy/")
    ok(again, "-s -n")
    equal(again.out, "", "-s -n copies nothing the second time")


def image_case(kind, size_mb, make, mount, extra=None):
    def run_case(run):
        with Mounted(run, kind, size_mb, make, mount):
            scenarios(run)
            if extra:
                extra(run)
    run_case.__name__ = "filesystem_" + kind
    case(run_case)


def case_folding(run):
    """exFAT folds letter case and gives each spelling its own inode."""
    for flags in ([], ["-os"], ["-e"], ["-f"], ["-m"], ["-a", "-m"], ["-g1"]):
        write(run, "m/case/doc.txt", b"precious")
        result = run.zorov("-b", *flags, "m/case/doc.txt", "m/case/DOC.TXT")
        equal(result.code, 1, "%r: %r" % (flags, result))
        check(" : Source, Destination are same file." in result.out, "%r: %r" % (flags, result))
        equal(run.read("m/case/doc.txt"), b"precious", "%r keeps the file" % flags)
        equal(sorted(os.listdir(run.native("m/case"))), ["doc.txt"], "%r makes nothing" % flags)
    # A tree onto itself through a spelling of its directory's name.
    result = run.zorov("-b", "-m", "-s", "m/case", "m/CASE")
    equal(result.code, 1, result)
    equal(run.read("m/case/doc.txt"), b"precious", "tree onto itself")
    # From inside the directory, which the destination spells otherwise.
    inside = subprocess.run(run.target.command(["-b", "-m", "-s", ".", run.path("m/CASE")]),
                            cwd=run.native("m/case"), env=run.target.environment,
                            capture_output=True, timeout=120)
    equal(inside.returncode, 1, inside)
    equal(run.read("m/case/doc.txt"), b"precious", "tree onto itself from inside")
    # Names that differ in more than case are other files.
    ok(run.zorov("-b", "m/case/doc.txt", "m/case/DOC2.TXT"), "another file")
    equal(run.read("m/case/DOC2.TXT"), b"precious", "another file")
    # A tree copied into its own subdirectory, named by another spelling,
    # never walks into what it writes there.
    write(run, "m/nest/doc.txt", b"nested")
    result = run.zorov("-b", "-s", "m/nest", "m/NEST/in/")
    equal(result.code, 1, result)
    check(": Directory is a destination of this copy; passed over." in result.out, result)
    equal(sorted(os.listdir(run.native("m/nest/in"))), ["doc.txt"], "nothing nested")


image_case("xfs", 320, ["mkfs.xfs", "-q", "-m", "reflink=1"], ["mount"])
image_case("btrfs", 256, ["mkfs.btrfs", "-q"], ["mount"])
image_case("exfat", 64, ["mkfs.exfat"], ["mount.exfat-fuse"], case_folding)
image_case("ntfs", 64, ["mkntfs", "-q", "-F", "-Q"], ["ntfs-3g"])
image_case("tmpfs", 0, None, ["mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs"])
