"""Real file systems: small loop-mounted images of XFS (with reflink),
btrfs, exFAT (through FUSE), NTFS (ntfs-3g) and tmpfs, and network shares
(SFTP through sshfs, SMB through smbnetfs, each served by a server of the
case's own), each given the same scenarios; exFAT also the spellings by
letter case of a case-folding file system, the shares two runs copying into
one new target at once, and SFTP a device and a pipe on the server. Each is
then filled until little room is left, and every mode of copying meets the
full disk as that file system reports it (but for SMB, below). Needs root to
mount; without it, or without the tools, or where a mount fails, each is
skipped with the reason. Whatever happens, everything started is stopped and
everything mounted unmounted."""

import errno
import os
import random
import shutil
import socket
import subprocess
import time

from cases_naming import two_runs_into_one_target
from harness import LEVEL_COPIED, LEVEL_FAILED, Skipped, case, check, equal

TIME = 1600000000  # whole seconds: every file system here keeps them


def payload(size, seed):
    generator = random.Random(seed)
    return generator.randbytes(size)


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
    equal(result.code, LEVEL_COPIED, "%s: %r" % (what, result))


def scenarios(run, platform_copy=True):
    """What every file system gets, all inside m/ (the platform copy, -f,
    where the file system can take it)."""
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

    if platform_copy:
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


# The full disk: each copy finds this much room, less than its source (and
# enough for XFS to make a file at all).
ROOM = 256 << 10
FULL_SIZE = 1 << 20
NO_SPACE = "No space left on device"


class Filler:
    """Files that take all of m/ but a little room: pieces made with
    fallocate where the file system has it, else written, and spare pieces
    that give room back as the copies take it. Only whole files are
    removed: btrfs frees no part of an extent while any of it is used.
    `backing` is where m/ is kept, when the pieces are to be made and the
    room measured there (a share's server: over sshfs every file seems to
    take its blocks, and smbnetfs tells no room)."""

    def __init__(self, run, spares, backing=None):
        self.point = backing or run.native("m")
        self.directory = os.path.join(self.point, "filler")
        os.mkdir(self.directory)
        self.count = 0
        self.spares = [self.piece(ROOM) for _ in range(spares)]

    def free(self):
        # Space freed on btrfs is free only once its transaction is done.
        quiet(["sync", "-f", self.point])
        status = os.statvfs(self.point)
        return status.f_bavail * status.f_frsize

    def piece(self, size):
        name = os.path.join(self.directory, str(self.count))
        self.count += 1
        if quiet(["fallocate", "-l", str(size), name]).returncode == 0:
            return name
        # exFAT has no holes: a file made longer takes its clusters at once.
        try:
            os.truncate(name, size)
            if os.stat(name).st_blocks * 512 >= size:
                return name
        except OSError as error:
            if error.errno != errno.ENOSPC:
                raise
        with open(name, "wb") as handle:
            try:
                handle.write(bytes(size))
                handle.flush()
            except OSError as error:
                if error.errno != errno.ENOSPC:
                    raise
        return name

    def leave(self, room):
        """Makes the room `room` bytes, or near it: the room there is."""
        free = self.free()
        while free < room and self.spares:
            os.remove(self.spares.pop())
            free = self.free()
        if free > room:
            self.piece(free - room)
            free = self.free()
        return free

    def remove(self):
        shutil.rmtree(self.directory)
        self.free()


def full_rows(data):
    """The copies onto a full disk, one per mode: the flags, the destination
    in m/full/, what it held before (None: it was missing), what the failed
    copy leaves there, and the run that repairs it once there is room (None:
    nothing to repair). A copy leaves the destination "kept" (exactly as it
    was), "partial" (the head of the source) or "appended" (the old content
    and the head of the source)."""
    return [
        ([], "plain.bin", None, "partial", ["-n"]),
        (["-os"], "safe.bin", b"old safe", "kept", None),
        (["-e"], "append.bin", b"old head", "appended", ["-n"]),
        (["-e", "-os"], "append_safe.bin", b"old head", "kept", None),
        (["-pr"], "restart.bin", data[:100000], "partial", ["-pr"]),
        (["-a", "-g2"], "gen.bin", b"current", "partial", ["-n"]),
        (["-m"], "moved.bin", None, "partial", ["-m", "-n"]),
        (["-f"], "platform.bin", None, "partial", ["-f", "-pr"]),
        (["-f", "-os"], "platform_safe.bin", b"old platform", "kept", None),
    ]


def check_failed(run, result, what, source, data, no_space):
    """The copy says it failed, for the full disk, and keeps its source."""
    equal(result.code, LEVEL_FAILED, "%s: %r" % (what, result))
    check(no_space in result.out, "%s: the full disk is reported: %r" % (what, result))
    equal(run.read(source), data, what + ": the source stays as it was")


def check_left(run, what, name, before, left, data):
    if left == "kept":
        equal(run.read(name), before, what + ": the destination is as it was")
        equal(int(os.stat(run.native(name)).st_mtime), TIME, what + ": and so is its time")
        return
    written = run.read(name)
    head = before if left == "appended" else b""
    check(written.startswith(head) and data.startswith(written[len(head):]),
          "%s: the destination holds its old content and the head of the source" % what)
    check(len(written) < len(head) + len(data), what + ": the copy is partial")
    # (1 s later where the file system can't keep the epoch: sshfs)
    check(int(os.stat(run.native(name)).st_mtime) in (0, 1),
          what + ": a partial copy has the epoch")


def full_disk(run, no_space=NO_SPACE, backing=None, platform_copy=True):
    """Every mode of copying meets a full disk: each fails and says so (with
    `no_space`, the system's text for it), and loses nothing; partial copies
    never look newer than their source, and a second run repairs them once
    there is room. The sources live off the image, so that no copy can share
    their blocks (reflinks). `backing` as for the Filler; `platform_copy`
    as for the scenarios."""
    data = payload(FULL_SIZE, 2)
    write(run, "full/a.bin", data)
    write(run, "full/move.bin", data)
    write(run, "full/tree/small.txt", b"small")
    write(run, "full/tree/sub/big.bin", data)
    rows = [row for row in full_rows(data) if platform_copy or "-f" not in row[0]]
    os.mkdir(run.native("m/full"))
    for flags, destination, before, left, repair in rows:
        if before is not None:
            write(run, "m/full/" + destination, before)
    write(run, "m/full/gen.(-01).bin", b"previous")
    filler = Filler(run, len(rows) + 1, backing)
    for flags, destination, before, left, repair in rows:
        what = "%r onto a full disk" % flags
        room = filler.leave(ROOM)
        check(0 < room < FULL_SIZE // 2, "%s: %d bytes of room" % (what, room))
        source = "full/move.bin" if "-m" in flags else "full/a.bin"
        result = run.zorov("-b", *flags, source, "m/full/" + destination)
        check_failed(run, result, what, source, data, no_space)
        check(" : Ok" not in result.out, "%s: %r" % (what, result))
        check_left(run, what, "m/full/" + destination, before, left, data)
    equal(run.read("m/full/gen.(-01).bin"), b"current", "-a -g2 keeps the old destination")

    filler.leave(ROOM)
    result = run.zorov("-b", "-s", "full/tree", "m/full/tree/")
    check_failed(run, result, "-s onto a full disk", "full/tree/sub/big.bin", data, no_space)
    copies = [line for line in result.out.splitlines() if " ===> " in line]
    equal([line.endswith(" : Ok") for line in copies], [True, False], "-s: %r" % result)
    check_left(run, "-s onto a full disk", "m/full/tree/sub/big.bin", None, "partial", data)

    filler.remove()
    equal(sorted(set(os.listdir(run.native("m/full"))) - set(row[1] for row in rows)),
          ["gen.(-01).bin", "tree"], "no temporary file left")
    for flags, destination, before, left, repair in rows:
        if repair is None:
            continue
        source = "full/move.bin" if "-m" in flags else "full/a.bin"
        ok(run.zorov("-b", *repair, source, "m/full/" + destination), "%r repairs" % repair)
        equal(run.read("m/full/" + destination), data, "%r repairs %r" % (repair, flags))
    check(not run.exists("full/move.bin"), "-m -n moves the source once it is copied whole")
    ok(run.zorov("-b", "-s", "-n", "full/tree", "m/full/tree/"), "-s -n repairs")
    equal(run.read("m/full/tree/sub/big.bin"), data, "-s -n repairs")


def counting_runs(run):
    """Counts the program's runs of a case (those through `run.zorov`), so
    that each file system's line tells how much it was given."""
    count = [0]
    plain = run.zorov

    def counted(*arguments, **settings):
        count[0] += 1
        return plain(*arguments, **settings)
    run.zorov = counted
    return count


def image_case(kind, size_mb, make, mount, extra=None):
    def run_case(run):
        runs = counting_runs(run)
        with Mounted(run, kind, size_mb, make, mount):
            scenarios(run)
            if extra:
                extra(run)
            full_disk(run)
        print("    %s: %d runs of the program" % (kind, runs[0]))
    run_case.__name__ = "filesystem_" + kind
    case(run_case)


def case_folding(run):
    """exFAT folds letter case and gives each spelling its own inode."""
    for flags in ([], ["-os"], ["-e"], ["-f"], ["-m"], ["-a", "-m"], ["-g1"]):
        write(run, "m/case/doc.txt", b"precious")
        result = run.zorov("-b", *flags, "m/case/doc.txt", "m/case/DOC.TXT")
        equal(result.code, LEVEL_FAILED, "%r: %r" % (flags, result))
        check(" : Source, Destination are same file." in result.out, "%r: %r" % (flags, result))
        equal(run.read("m/case/doc.txt"), b"precious", "%r keeps the file" % flags)
        equal(sorted(os.listdir(run.native("m/case"))), ["doc.txt"], "%r makes nothing" % flags)
    # Letters of every script, and a name the file system reads as another
    # though it is no spelling by case (a pair of surrogates in UTF-8 for
    # the one letter they stand for), which its directory doesn't list.
    unlisted = os.fsdecode(b"\xed\xa0\x81\xed\xb0\x80.txt")
    for source, destination in (("\u0531.txt", "\u0561.txt"), ("\u01f1.txt", "\u01f3.txt"),
                                ("\uff21.txt", "\uff41.txt"), ("\u10a0.txt", "\u2d00.txt"),
                                ("\U00010400.txt", unlisted)):
        write(run, "m/script/" + source, b"precious")
        result = run.zorov("-b", "m/script/" + source, "m/script/" + destination)
        equal(result.code, LEVEL_FAILED, "%r: %r" % (destination, result))
        check(" : Source, Destination are same file." in result.out, result)
        equal(run.read("m/script/" + source), b"precious", "%r keeps the file" % destination)
        equal(os.listdir(run.native("m/script")), [source], "%r makes nothing" % destination)
        os.remove(run.native("m/script/" + source))
    # The kernel keeps what a spelling's status was when it was looked up,
    # for a while: a source changed since then is still its source.
    write(run, "m/stale/\U00010400.txt", b"old")
    os.stat(run.native("m/stale/" + unlisted))
    write(run, "m/stale/\U00010400.txt", b"precious")
    result = run.zorov("-b", "m/stale/\U00010400.txt", "m/stale/" + unlisted)
    equal(result.code, LEVEL_FAILED, "changed since looked up: %r" % result)
    equal(run.read("m/stale/\U00010400.txt"), b"precious", "changed since looked up")
    # A tree onto itself through a spelling of its directory's name.
    result = run.zorov("-b", "-m", "-s", "m/case", "m/CASE")
    equal(result.code, LEVEL_FAILED, result)
    equal(run.read("m/case/doc.txt"), b"precious", "tree onto itself")
    # From inside the directory, which the destination spells otherwise.
    inside = subprocess.run(run.target.command(["-b", "-m", "-s", ".", run.path("m/CASE")]),
                            cwd=run.native("m/case"), env=run.target.environment,
                            capture_output=True, timeout=120)
    equal(inside.returncode, LEVEL_FAILED, inside)
    equal(run.read("m/case/doc.txt"), b"precious", "tree onto itself from inside")
    # Names that differ in more than case are other files.
    ok(run.zorov("-b", "m/case/doc.txt", "m/case/DOC2.TXT"), "another file")
    equal(run.read("m/case/DOC2.TXT"), b"precious", "another file")
    # A tree copied into its own subdirectory, named by another spelling,
    # never walks into what it writes there.
    write(run, "m/nest/doc.txt", b"nested")
    result = run.zorov("-b", "-s", "m/nest", "m/NEST/in/")
    equal(result.code, LEVEL_FAILED, result)
    check(": Directory is a destination of this copy; passed over." in result.out, result)
    equal(sorted(os.listdir(run.native("m/nest/in"))), ["doc.txt"], "nothing nested")


image_case("xfs", 320, ["mkfs.xfs", "-q", "-m", "reflink=1"], ["mount"])
image_case("btrfs", 256, ["mkfs.btrfs", "-q"], ["mount"])
image_case("exfat", 64, ["mkfs.exfat"], ["mount.exfat-fuse"], case_folding)
image_case("ntfs", 16, ["mkntfs", "-q", "-F", "-Q"], ["ntfs-3g"])
image_case("tmpfs", 0, None, ["mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs"])


def free_loopback_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until(condition, process, seconds=15):
    """True once `condition()` holds; False when `process` ended first or
    the time ran out."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        if process.poll() is not None:
            return False
        time.sleep(0.1)
    return False


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


SSHD_CONFIG = """Port %(port)d
ListenAddress 127.0.0.1
HostKey %(keys)s/host_key
PidFile none
AuthorizedKeysFile %(keys)s/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
"""


class SftpShare:
    """A directory served over SFTP by an sshd of the case's own, on a free
    loopback port, and mounted with sshfs at `m`. Its host key and the key
    the client logs in with are made for the case, and root may log in by
    this sshd's own configuration only. The served directory is a small
    tmpfs, so that the share fills up as a disk does. What was started is
    stopped, and what was mounted unmounted, whatever happens."""

    kind = "sftp"
    tools = ("/usr/sbin/sshd", "ssh-keygen", "sshfs", "fusermount3")

    def __init__(self, run):
        self.run = run
        self.point = run.native("m")
        self.keys = run.native("keys")
        self.served = run.native("served")
        self.served_mounted = False
        self.privilege_directory = None
        self.server = None
        self.client = None

    def __enter__(self):
        if self.run.windows:
            raise Skipped("the file-system stage runs with the native build")
        if os.geteuid() != 0:
            raise Skipped("serving and mounting a share needs root")
        for tool in self.tools:
            if shutil.which(tool) is None:
                raise Skipped("%s is not installed" % tool)
        try:
            self.start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def start(self):
        os.mkdir(self.keys, 0o700)
        self.prepare()
        os.mkdir(self.served)
        mounted = quiet(["mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs", self.served])
        if mounted.returncode != 0:
            raise Skipped("mounting the served tmpfs failed: %s" % mounted.stderr.decode().strip())
        self.served_mounted = True
        self.serve()
        self.mount()

    def prepare(self):
        for key in ("host_key", "user_key"):
            made = quiet(["ssh-keygen", "-q", "-t", "ed25519", "-N", "",
                          "-f", os.path.join(self.keys, key)])
            if made.returncode != 0:
                raise Skipped("ssh-keygen failed: %s" % made.stderr.decode().strip())
        shutil.copy(os.path.join(self.keys, "user_key.pub"),
                    os.path.join(self.keys, "authorized_keys"))
        # sshd wants its privilege separation directory, which the system's
        # own service would make.
        if not os.path.isdir("/run/sshd"):
            os.mkdir("/run/sshd", 0o755)
            self.privilege_directory = "/run/sshd"

    def serve(self):
        port = free_loopback_port()
        config = os.path.join(self.keys, "sshd_config")
        with open(config, "w") as handle:
            handle.write(SSHD_CONFIG % {"port": port, "keys": self.keys})
        self.log = open(os.path.join(self.keys, "sshd.log"), "wb")
        self.server = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", config],
                                       stdin=subprocess.DEVNULL, stdout=self.log,
                                       stderr=self.log)
        if not wait_until(lambda: accepts(port), self.server):
            raise Skipped("sshd did not start: %s" % self.server_said("sshd.log"))
        self.port = port

    def server_said(self, log):
        try:
            with open(os.path.join(self.keys, log), "rb") as handle:
                return handle.read().decode(errors="replace").strip()[-500:]
        except OSError:
            return ""

    def mount(self):
        os.mkdir(self.point)
        options = ["-F", "/dev/null", "-o", ",".join([
            "port=%d" % self.port, "IdentityFile=" + os.path.join(self.keys, "user_key"),
            "StrictHostKeyChecking=no", "UserKnownHostsFile=/dev/null", "BatchMode=yes",
            "LogLevel=ERROR"])]
        self.client = subprocess.Popen(
            ["sshfs", "-f"] + options + ["root@127.0.0.1:" + self.served, self.point],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not wait_until(lambda: os.path.ismount(self.point), self.client):
            said = self.client.stderr.read().decode(errors="replace") \
                if self.client.poll() is not None else "timed out"
            raise Skipped("sshfs could not mount the share: %s %s"
                          % (said.strip(), self.server_said("sshd.log")))

    def unmount(self):
        if os.path.ismount(self.point):
            unmount = [self.tools[-1], "-u"]
            for attempt in range(20):
                if quiet(unmount + [self.point]).returncode == 0:
                    break
                time.sleep(0.2)
            else:
                quiet(unmount + ["-z", self.point])

    def __exit__(self, *ignored):
        if self.client:
            self.unmount()
            stop(self.client)
        if self.server:
            stop(self.server)
            self.log.close()
        if self.served_mounted and quiet(["umount", self.served]).returncode != 0:
            quiet(["umount", "-l", self.served])
        if self.privilege_directory:
            os.rmdir(self.privilege_directory)
        shutil.rmtree(self.keys, ignore_errors=True)
        return False


def stop(process):
    """Ends a process the case started, and waits for it."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    if process.stderr:
        process.stderr.close()


def share_case(share, no_space, extra=None, platform_copy=True):
    """`no_space` None: no full disk on this share."""
    def run_case(run):
        runs = counting_runs(run)
        with share(run):
            scenarios(run, platform_copy)
            if extra:
                extra(run)
            if no_space:
                full_disk(run, no_space, run.native("served"), platform_copy)
        print("    %s: %d runs of the program" % (share.kind, runs[0]))
    run_case.__name__ = "filesystem_share_" + share.kind
    case(run_case)


def concurrent_runs(run):
    """Two runs copying trees into one new target on the share at once (a
    share is where two machines meet). Special files can't be made on an
    SFTP share: the protocol has no call for it."""
    rounds = 3
    two_runs_into_one_target(run, "m/", rounds, directories=10)
    print("    %d rounds of two runs at once" % rounds)


SMBD_CONFIG = """[global]
  smb ports = %(port)d
  interfaces = 127.0.0.1
  bind interfaces only = yes
  server role = standalone server
  disable netbios = yes
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  map to guest = Bad User
  private dir = %(state)s/private
  binddns dir = %(state)s/private
  lock directory = %(state)s/lock
  state directory = %(state)s/state
  cache directory = %(state)s/cache
  pid directory = %(state)s/pid
  ncalrpc dir = %(state)s/ncalrpc
  passdb backend = tdbsam:%(state)s/private/passdb.tdb
[share]
  path = %(served)s
  read only = no
  guest ok = yes
  force user = root
"""


class SmbShare(SftpShare):
    """A directory served over SMB by an smbd of the case's own on a free
    loopback port (guest access; its state in the case's directory), and
    mounted with the FUSE client smbnetfs, whose tree names the share
    HOST:PORT/share; `m` is a link to it. The served directory is a small
    tmpfs, as for SFTP. Both run in sessions of their own: smbd signals its
    whole process group as it stops."""

    kind = "smb"
    tools = ("/usr/sbin/smbd", "smbnetfs", "fusermount")

    def __init__(self, run):
        SftpShare.__init__(self, run)
        self.network = run.native("network")

    def prepare(self):
        for below in ("private", "lock", "state", "cache", "pid", "ncalrpc", "home/.smb"):
            os.makedirs(os.path.join(self.keys, below))

    def serve(self):
        port = free_loopback_port()
        config = os.path.join(self.keys, "smb.conf")
        with open(config, "w") as handle:
            handle.write(SMBD_CONFIG % {"port": port, "state": self.keys, "served": self.served})
        self.log = open(os.path.join(self.keys, "smbd.log"), "wb")
        self.server = subprocess.Popen(
            ["/usr/sbin/smbd", "-F", "--no-process-group", "--debug-stdout", "-s", config],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log, start_new_session=True)
        if not wait_until(lambda: accepts(port), self.server):
            raise Skipped("smbd did not start: %s" % self.server_said("smbd.log"))
        self.port = port

    def mount(self):
        home = os.path.join(self.keys, "home")
        for name, text in (("smb.conf", "[global]\n  client min protocol = SMB2\n"),
                           ("smbnetfs.conf", 'auth "guest" ""\n')):
            name = os.path.join(home, ".smb", name)
            with open(name, "w") as handle:
                handle.write(text)
            os.chmod(name, 0o600)
        os.mkdir(self.network)
        share = os.path.join(self.network, "127.0.0.1:%d" % self.port, "share")
        # Single-threaded: run on several threads, smbnetfs may close a copied
        # file on the server (which dates it) after the times the program set
        # by name once it had closed it, so a copy's time came out as the
        # moment of the copy in about one run of five.
        self.client = subprocess.Popen(["smbnetfs", "-f", "-s", self.network],
                                       env=dict(os.environ, HOME=home),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE, start_new_session=True)
        if not wait_until(lambda: os.path.ismount(self.network) and os.path.isdir(share),
                          self.client):
            raise Skipped("smbnetfs could not reach the share: %s" % self.server_said("smbd.log"))
        os.symlink(share, self.point)

    def unmount(self):
        self.point = self.network
        SftpShare.unmount(self)


def special_files(run):
    """A device node and a pipe on the server, seen through the share: the
    device is refused as a device, whole (the share is mounted without
    devices, so that even a plain copy can't open it), and the pipe no one
    reads fails at once; neither is replaced, dated or given permissions."""
    import stat
    os.mknod(run.native("served/null"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    os.chmod(run.native("served/null"), 0o666)
    os.utime(run.native("served/null"), (1000000000, 1000000000))
    os.mkfifo(run.native("served/pipe.txt"))
    write(run, "private.txt", b"secret")
    os.chmod(run.native("private.txt"), 0o600)
    rows = [  # flags, destination, the end of the report
        ([], "null", " : Unable to open output.  Permission denied"),
        (["-os"], "null", " : Failed.  Can not safely overwrite a device or pipe."),
        (["-a"], "null", " : Failed.  Can not archive a device or pipe."),
        (["-e"], "null", " : Failed.  Can not append to a device or pipe."),
        (["-pr"], "null", " : Failed.  Can not restart a copy onto a device or pipe."),
        ([], "pipe.txt", " : Unable to open output.  No such device or address"),
        (["-f"], "pipe.txt", " : Unable to open output.  No such device or address"),
    ]
    before = sorted(os.listdir(run.native("m")))
    for flags, destination, text in rows:
        label = "%r onto %s" % (flags, destination)
        result = run.zorov("-b", *flags, "private.txt", "m/" + destination)
        equal(result.code, LEVEL_FAILED, "%s: %r" % (label, result))
        pair = "%s ===> %s" % (run.path("private.txt"), run.path("m/" + destination))
        check(result.out.endswith(pair + text + "\n"), "%s: %r" % (label, result))
        equal(run.read("private.txt"), b"secret", label + ": the source stays")
        equal(sorted(os.listdir(run.native("m"))), before, label + ": nothing made beside")
        node = os.stat(run.native("served/null"))
        check(stat.S_ISCHR(node.st_mode), label + ": still the device")
        equal(stat.S_IMODE(node.st_mode), 0o666, label + ": its permissions")
        equal(node.st_mtime, 1000000000, label + ": its time")
        check(stat.S_ISFIFO(os.stat(run.native("served/pipe.txt")).st_mode), "the pipe stays")
    print("    %d copies onto a device or a pipe" % len(rows))


def concurrent_runs_and_special_files(run):
    concurrent_runs(run)
    special_files(run)


# sshfs hands on the server's failure as an input/output error.
share_case(SftpShare, "Input/output error", concurrent_runs_and_special_files)
# smbnetfs loses its connection to the server for good when asked for a
# file's extended attributes, which the platform copy carries: no -f there;
# and it fails now and then to truncate a file (EIO), which overwriting the
# partial copies after a full disk does. SMB shows the server's devices and
# pipes as plain files: no special files there either.
share_case(SmbShare, None, concurrent_runs, platform_copy=False)
