#!/usr/bin/env python3
"""Measures zorov against the usual copy tools and prints one table of
ratios: each ratio is zorov's median over the peer's, from runs that take
turns (zorov, peer, peer, zorov, ...), so that a burst of load on a shared
machine falls on both alike. The spread is the lowest and highest ratio of
the single rounds; "cpu" is the ratio of the medians of processor time
(user and system), which a busy machine disturbs less than wall time.

usage: measure.py ZOROV SCRATCH   (bench/run.sh prepares both)

Environment:
  BENCH_ROUNDS  rounds per comparison (default 7; the tree cases use 5)
  BENCH_CASES   which cases, of: busy big fast xfs tree nochange sparse
                (default: all; xfs only as root)
  BIG_MIB       size of the big file (default 256); the busy case takes half
  SPARSE_MIB, SPARSE_DATA_MIB  the sparse file and the data it holds
                (default 1024 and 10)
  TREE_DIRS, TREE_FILES_PER_DIR  shape of the tree (default 200 x 100)
  BUSY_LOOPS    busy processes of the busy case (default 4)
  BENCH_FS      where the files live: "ram" (the default when run as root
                with enough memory) is a fresh ext4 image in /dev/shm, mounted
                for the run; "disk" is SCRATCH itself. A virtual disk mounted
                with online discard stalls for seconds after each deletion of
                a tree, so the scratch disk's timings of one round differ by
                up to ten times; the image keeps the file system and page
                cache and leaves the disk out.
"""

import os
import random
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "7"))
TREE_ROUNDS = max(3, ROUNDS - 2)


def sh(command):
    """Runs `command` with its output thrown away, as its peers' is; a
    failure is run again to show what it said."""
    if subprocess.run(command, shell=True, stdout=subprocess.DEVNULL).returncode == 0:
        return
    again = subprocess.run(command, shell=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    sys.stdout.write(again.stdout.decode(errors="replace")[-3000:])
    raise SystemExit("failed with %d: %s" % (again.returncode, command))


def cpu_seconds():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def timed(command, prepare):
    """Wall time and processor time (user and system) of one run."""
    if prepare:
        sh(prepare)
    cpu = cpu_seconds()
    start = time.perf_counter()
    sh(command)
    return time.perf_counter() - start, cpu_seconds() - cpu


def take_turns(rounds, prepare, ours, peer):
    """Times of both commands, alternating which goes first."""
    times = {ours: [], peer: []}
    for round_number in range(rounds):
        order = (ours, peer) if round_number % 2 == 0 else (peer, ours)
        for command in order:
            times[command].append(timed(command, prepare))
    return times[ours], times[peer]


class Table:
    def __init__(self):
        self.rows = []

    def compare(self, work, ours, peer, target, prepare="", rounds=ROUNDS):
        label_ours, command_ours = ours
        label_peer, command_peer = peer
        print("  %s: %s against %s" % (work, label_ours, label_peer), flush=True)
        mine, theirs = take_turns(rounds, prepare, command_ours, command_peer)
        wall = [[run[0] for run in runs] for runs in (mine, theirs)]
        cpu = [[run[1] for run in runs] for runs in (mine, theirs)]
        ratio = statistics.median(wall[0]) / statistics.median(wall[1])
        singles = [a / b for a, b in zip(wall[0], wall[1])]
        cpu_ratio = statistics.median(cpu[0]) / max(1e-6, statistics.median(cpu[1]))
        self.rows.append((work, "%s / %s" % (label_ours, label_peer),
                          "%.3f" % statistics.median(wall[0]), "%.3f" % statistics.median(wall[1]),
                          "%.2fx" % ratio, "%.2f-%.2f" % (min(singles), max(singles)),
                          "%.2fx" % cpu_ratio, target, verdict(ratio, target)))

    def note(self, work, what, value, target, holds):
        self.rows.append((work, what, "", "", value, "", "", target,
                          "" if holds is None else ("yes" if holds else "NO")))

    def show(self):
        header = ("work", "ratio", "zorov s", "peer s", "median", "rounds", "cpu", "target",
                  "holds")
        widths = [max(len(str(row[i])) for row in self.rows + [header]) for i in range(9)]
        for row in [header] + self.rows:
            print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)))


def verdict(ratio, target):
    """Judged on the figure as shown, two decimals."""
    if not target.startswith("<="):
        return ""
    return "yes" if round(ratio, 2) <= float(target[2:].rstrip("x")) else "NO"


# ---------------------------------------------------------------- inputs

def random_file(name, mib):
    if os.path.exists(name) and os.path.getsize(name) == mib * MIB:
        return
    print("writing %s (%d MiB)" % (name, mib), flush=True)
    with open(name, "wb") as out:
        for _ in range(mib):
            out.write(os.urandom(MIB))


def sparse_file(name, mib, data_mib):
    """`mib` MiB of which `data_mib` hold data, in ten pieces."""
    with open(name, "wb") as out:
        out.truncate(mib * MIB)
        piece = data_mib * MIB // 10
        for index in range(10):
            out.seek(index * (mib * MIB // 10) + 12345)
            out.write(os.urandom(piece))


def tree(dirs, files):
    stamp = "tree.shape-%d-%d" % (dirs, files)
    if os.path.exists(stamp):
        return
    print("writing tree.src (%d directories x %d files of 1-8 KiB)" % (dirs, files), flush=True)
    shutil.rmtree("tree.src", ignore_errors=True)
    generator = random.Random(20000)
    pool = os.urandom(8192 * 4)
    for d in range(dirs):
        path = os.path.join("tree.src", "d%03d" % d)
        os.makedirs(path)
        for f in range(files):
            size = generator.randint(1024, 8192)
            start = generator.randint(0, len(pool) - size)
            with open(os.path.join(path, "f%03d.dat" % f), "wb") as out:
                out.write(pool[start:start + size])
    for old in [n for n in os.listdir(".") if n.startswith("tree.shape-")]:
        os.remove(old)
    open(stamp, "w").close()


def blocks(name):
    return os.stat(name).st_blocks


# ----------------------------------------------------------------- cases

def case_busy(table, zorov, big_mib):
    """A copy while busy loops keep both cores full, started and stopped
    here."""
    mib = max(1, big_mib // 2)
    random_file("busy.src", mib)
    loops = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
             for _ in range(int(os.environ.get("BUSY_LOOPS", "4")))]
    try:
        time.sleep(1)
        table.compare("%d MiB, %d busy loops" % (mib, len(loops)),
                      ("zorov", "'%s' -b busy.src busy.dst" % zorov), ("cp", "cp busy.src busy.dst"),
                      "<=1.2x", prepare="rm -f busy.dst; sync")
    finally:
        for loop in loops:
            loop.send_signal(signal.SIGTERM)
            loop.wait()
    os.remove("busy.dst")


def case_big(table, zorov, big_mib):
    random_file("big.src", big_mib)
    prepare = "rm -f big.dst; sync"
    ours = ("zorov", "'%s' -b big.src big.dst" % zorov)
    table.compare("%d MiB, idle" % big_mib, ours,
                  ("dd bs=65024", "dd if=big.src of=big.dst bs=65024 status=none"), "<=1.0x",
                  prepare)
    table.compare("%d MiB, idle" % big_mib, ours, ("cp", "cp big.src big.dst"), "", prepare)
    if os.path.exists("/usr/bin/time"):
        sh(prepare)
        peak = subprocess.run(["/usr/bin/time", "-f", "%M", zorov, "-b", "big.src", "big.dst"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
        table.note("%d MiB, idle" % big_mib, "zorov's peak memory",
                   "%s KiB" % peak.stderr.decode().split()[-1], "", None)
    with open("big.src", "rb") as one, open("big.dst", "rb") as other:
        if one.read() != other.read():
            raise SystemExit("zorov's copy of big.src differs")


def case_fast(table, zorov, big_mib, where="", work_suffix=""):
    source = os.path.join(where, "big.src") if where else "big.src"
    target = os.path.join(where, "big.dst") if where else "big.dst"
    if where:
        shutil.copyfile("big.src", source)
        sh("sync")
    table.compare("%d MiB, -f%s" % (big_mib, work_suffix),
                  ("zorov -f", "'%s' -b -f %s %s" % (zorov, source, target)),
                  ("cp", "cp %s %s" % (source, target)), "<=1.0x", "rm -f %s; sync" % target)


def case_xfs(table, zorov, big_mib):
    if os.geteuid() != 0 or not shutil.which("mkfs.xfs"):
        print("  xfs case skipped: needs root and mkfs.xfs", flush=True)
        return
    image, mount = os.path.abspath("xfs.img"), os.path.abspath("xfs.mnt")
    with open(image, "wb") as out:
        out.truncate((2 * big_mib + 512) * MIB)
    sh("mkfs.xfs -q -f -m reflink=1 '%s'" % image)
    os.makedirs(mount, exist_ok=True)
    sh("mount -o loop '%s' '%s'" % (image, mount))
    try:
        case_fast(table, zorov, big_mib, mount, " on XFS")
        target = os.path.join(mount, "big.dst")
        sh("rm -f '%s'; sync" % target)
        before = used_kib(mount)
        sh("'%s' -b -f '%s' '%s'; sync" % (zorov, os.path.join(mount, "big.src"), target))
        taken = used_kib(mount) - before
        table.note("%d MiB, -f on XFS" % big_mib, "space the copy takes", "%d KiB" % taken,
                   "a reflink", taken < big_mib * 1024 // 10)
    finally:
        sh("umount '%s'" % mount)
        os.remove(image)


def used_kib(mount):
    stat = os.statvfs(mount)
    return (stat.f_blocks - stat.f_bfree) * stat.f_frsize // 1024


def case_tree(table, zorov, dirs, files):
    tree(dirs, files)
    # Copies are moved aside, not deleted, between runs: ext4 avoids reusing
    # the inodes of files deleted moments ago, so deleting them would make
    # the next run pay for 20,000 deletions.
    shutil.rmtree("tree.old", ignore_errors=True)
    os.makedirs("tree.old")
    prepare = "[ -e tree.dst ] && mv tree.dst tree.old/$(date +%s%N); sync"
    ours = ("zorov -s", "'%s' -b -s tree.src tree.dst/" % zorov)
    work = "%d files, first copy" % (dirs * files)
    table.compare(work, ours, ("cp -r --preserve=timestamps",
                               "cp -r --preserve=timestamps tree.src tree.dst"), "<=1.0x",
                  prepare, TREE_ROUNDS)
    table.compare(work, ours, ("rsync -a", "rsync -a tree.src/ tree.dst/"), "<=0.7x", prepare,
                  TREE_ROUNDS)
    shutil.rmtree("tree.old", ignore_errors=True)


def case_nochange(table, zorov, dirs, files):
    tree(dirs, files)
    shutil.rmtree("tree.dst", ignore_errors=True)
    sh("cp -r --preserve=timestamps tree.src tree.dst && sync")
    ours = ("zorov -s -n", "'%s' -b -s -n tree.src tree.dst/" % zorov)
    work = "%d files, nothing to do" % (dirs * files)
    table.compare(work, ours, ("cp -ru", "cp -ruT tree.src tree.dst"), "<=1.0x", "", ROUNDS)
    table.compare(work, ours, ("rsync -a", "rsync -a tree.src/ tree.dst/"), "", "", ROUNDS)
    shutil.rmtree("tree.dst", ignore_errors=True)


def case_sparse(table, zorov):
    mib = int(os.environ.get("SPARSE_MIB", "1024"))
    data_mib = int(os.environ.get("SPARSE_DATA_MIB", "10"))
    sparse_file("sparse.src", mib, data_mib)
    work = "%d MiB sparse, %d MiB data" % (mib, data_mib)
    prepare = "rm -f sparse.dst; sync"
    for flags, label in (("-b", "zorov"), ("-b -f", "zorov -f")):
        command = "'%s' %s sparse.src sparse.dst" % (zorov, flags)
        table.compare(work, (label, command), ("cp", "cp sparse.src sparse.dst"), "<=1.0x",
                      prepare)
        sh(prepare + "; " + command)
        ratio = blocks("sparse.dst") / max(1, blocks("sparse.src"))
        table.note(work, "%s blocks / source's" % label, "%.2fx" % ratio, "<=2.0x", ratio <= 2.0)
    os.remove("sparse.dst")


# ------------------------------------------------------- where it runs

def memory_available_mib():
    with open("/proc/meminfo") as info:
        for line in info:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) // 1024
    return 0


def ram_file_system_refusal():
    """Why the files can't live on an ext4 image in memory, or ""."""
    if os.environ.get("BENCH_FS", "ram") != "ram":
        return "BENCH_FS=%s" % os.environ["BENCH_FS"]
    if os.geteuid() != 0:
        return "mounting an image needs root"
    if not shutil.which("mkfs.ext4") or not os.path.isdir("/dev/shm"):
        return "no mkfs.ext4 or /dev/shm"
    if memory_available_mib() < RAM_FS_MIB + 2048:
        return "less than %d MiB of memory available" % (RAM_FS_MIB + 2048)
    return ""


RAM_FS_MIB = 6144


def mount_ram_file_system():
    """A fresh ext4 image in /dev/shm, mounted: (image, mount point)."""
    handle, image = tempfile.mkstemp(prefix="zorov-bench-", suffix=".img", dir="/dev/shm")
    os.close(handle)
    mount = tempfile.mkdtemp(prefix="zorov-bench-")
    try:
        os.truncate(image, RAM_FS_MIB * MIB)
        # One inode per 4 KiB: the tree cases keep every copy they make.
        sh("mkfs.ext4 -q -F -i 4096 '%s'" % image)
        sh("mount -o loop '%s' '%s'" % (image, mount))
    except BaseException:
        os.remove(image)
        os.rmdir(mount)
        raise
    return image, mount


def unmount_ram_file_system(image, mount):
    os.chdir("/")
    sh("umount '%s'" % mount)
    os.rmdir(mount)
    os.remove(image)


def main(arguments):
    zorov, scratch = arguments
    refusal = ram_file_system_refusal()
    if refusal:
        print("files on %s (%s)" % (scratch, refusal))
        os.chdir(scratch)
        measure(zorov, scratch)
        return
    image, mount = mount_ram_file_system()
    print("files on an ext4 image in /dev/shm (BENCH_FS=disk for %s)" % scratch)
    try:
        os.chdir(mount)
        measure(zorov, "an ext4 image in memory")
    finally:
        unmount_ram_file_system(image, mount)


def measure(zorov, scratch):
    big_mib = int(os.environ.get("BIG_MIB", "256"))
    dirs = int(os.environ.get("TREE_DIRS", "200"))
    files = int(os.environ.get("TREE_FILES_PER_DIR", "100"))
    cases = os.environ.get("BENCH_CASES", "busy big fast xfs tree nochange sparse").split()
    print("scratch: %s; rounds: %d (trees: %d); load average: %s" % (
        scratch, ROUNDS, TREE_ROUNDS, " ".join(open("/proc/loadavg").read().split()[:3])))
    table = Table()
    steps = {
        "busy": lambda: case_busy(table, zorov, big_mib),
        "big": lambda: case_big(table, zorov, big_mib),
        "fast": lambda: case_fast(table, zorov, big_mib),
        "xfs": lambda: case_xfs(table, zorov, big_mib),
        "tree": lambda: case_tree(table, zorov, dirs, files),
        "nochange": lambda: case_nochange(table, zorov, dirs, files),
        "sparse": lambda: case_sparse(table, zorov),
    }
    for name in cases:
        steps[name]()
    print()
    table.show()


if __name__ == "__main__":
    main(sys.argv[1:])
