"""Interrupts the real program (POSIX) at random moments of a copy.

usage: run.py PROGRAM [SECONDS [MODE...]]

Modes (the names of their functions pick them; all without any), each given
an equal share of SECONDS (60 by default):
- SIGKILL during a plain copy, then -pr: the rerun gives a byte-identical
  copy;
- SIGKILL during -os onto an existing file: the destination is the old or
  the whole new content (a left-over temporary file is allowed);
- SIGKILL during -s onto a target, then -s -c: the rerun completes the tree;
- SIGINT and SIGTERM during a logged (-L) safe overwrite of a tree: the
  status is 128 + n, the log keeps every finished line, and no temporary
  file is left.

Prints the trials of each mode (and how many of them stopped the copy
midway) and ends with "N passed, N failed", one check per mode.
"""

import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SIZE = 32 << 20  # one large file
TREE_FILES = 24
TREE_FILE_SIZE = 2 << 20
PAST = time.time() - 86400  # sources older than any copy


class Failure(Exception):
    pass


def write(name, data, mtime=PAST):
    os.makedirs(os.path.dirname(name), exist_ok=True)
    with open(name, "wb") as handle:
        handle.write(data)
    os.utime(name, (mtime, mtime))


def read(name):
    with open(name, "rb") as handle:
        return handle.read()


class Bench:
    def __init__(self, program, root):
        self.program = os.path.abspath(program)
        self.root = root
        self.rng = random.Random(int(os.environ.get("ZOROV_INTERRUPT_SEED", time.time())))
        self.big = os.urandom(SIZE)
        self.old = os.urandom(SIZE // 3)
        write(self.path("src/big.bin"), self.big)
        self.tree = {}
        for i in range(TREE_FILES):
            name = "tree/f%02d.bin" % i
            self.tree[name] = self.big[i * 997:i * 997 + TREE_FILE_SIZE]
            write(self.path(name), self.tree[name])

    def path(self, relative):
        return os.path.join(self.root, relative)

    def start(self, *arguments):
        return subprocess.Popen([self.program] + list(arguments), cwd=self.root,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def run(self, *arguments):
        return subprocess.run([self.program] + list(arguments), cwd=self.root,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)

    def duration(self, prepare, arguments):
        """How long an uninterrupted run of `arguments` takes."""
        prepare()
        started = time.monotonic()
        result = self.run(*arguments)
        if result.returncode != 0:
            raise Failure("a clean run of %s failed: %r" % (arguments, result.stderr))
        return time.monotonic() - started

    def interrupt(self, arguments, duration, number):
        """Starts the program and sends it signal `number` at a random moment of
        a run that takes `duration`; the process's status."""
        process = self.start(*arguments)
        time.sleep(self.rng.uniform(0, duration * 1.1))
        process.send_signal(number)
        try:
            return process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise Failure("%s did not stop after signal %d" % (arguments, number))

    def clear(self, relative):
        shutil.rmtree(self.path(relative), ignore_errors=True)
        os.makedirs(self.path(relative))

    def leftovers(self, relative):
        """Temporary names of a safe overwrite: the destination, "_", digits."""
        return [name for name in os.listdir(self.path(relative)) if re.search(r"_[0-9]+$", name)]


def plain_then_restart(bench, deadline):
    arguments = ("-b", "-q", "src/big.bin", "out/big.bin")
    duration = bench.duration(lambda: bench.clear("out"), arguments)
    trials = midway = 0
    while time.monotonic() < deadline:
        bench.clear("out")
        bench.interrupt(arguments, duration, signal.SIGKILL)
        trials += 1
        copied = bench.path("out/big.bin")
        if os.path.exists(copied) and os.path.getsize(copied) < SIZE:
            midway += 1
        result = bench.run("-b", "-q", "-pr", "src/big.bin", "out/big.bin")
        if result.returncode != 0 or read(copied) != bench.big:
            raise Failure("trial %d: the rerun with -pr did not give the whole file" % trials)
    return trials, midway


def safe_overwrite(bench, deadline):
    arguments = ("-b", "-q", "-os", "src/big.bin", "out/big.bin")

    def prepare():
        bench.clear("out")
        write(bench.path("out/big.bin"), bench.old)

    duration = bench.duration(prepare, arguments)
    trials = midway = 0
    while time.monotonic() < deadline:
        prepare()
        bench.interrupt(arguments, duration, signal.SIGKILL)
        trials += 1
        content = read(bench.path("out/big.bin"))
        if content == bench.old:
            midway += 1
        elif content != bench.big:
            raise Failure("trial %d: the destination is neither the old nor the new content "
                          "(%d bytes)" % (trials, len(content)))
    return trials, midway


def tree_then_changed(bench, deadline):
    arguments = ("-b", "-q", "-s", "tree", "out/")
    duration = bench.duration(lambda: bench.clear("out"), arguments)
    trials = midway = 0
    while time.monotonic() < deadline:
        bench.clear("out")
        bench.interrupt(arguments, duration, signal.SIGKILL)
        trials += 1
        complete = all(os.path.exists(bench.path("out/" + name[5:])) and
                       read(bench.path("out/" + name[5:])) == data
                       for name, data in bench.tree.items())
        if not complete:
            midway += 1
        result = bench.run("-b", "-q", "-s", "-c", "tree", "out/")
        for name, data in bench.tree.items():
            copied = bench.path("out/" + name[5:])
            if result.returncode != 0 or not os.path.exists(copied) or read(copied) != data:
                raise Failure("trial %d: -s -c left %s incomplete" % (trials, name))
    return trials, midway


def logged_stop(bench, deadline):
    """SIGINT and SIGTERM in turn during a logged safe overwrite of a tree."""

    def prepare():
        bench.clear("out")
        for name in bench.tree:
            write(bench.path("out/" + name[5:]), bench.old[:4096])
        for log in ("run.log", "run.log.fil"):
            if os.path.exists(bench.path(log)):
                os.remove(bench.path(log))

    arguments = ("-b", "-os", "-Lrun.log", "tree", "out/")
    duration = bench.duration(prepare, arguments)
    trials = midway = 0
    numbers = (signal.SIGINT, signal.SIGTERM)
    while time.monotonic() < deadline:
        prepare()
        number = numbers[trials % 2]
        status = bench.interrupt(arguments, duration, number)
        trials += 1
        if status == 0:
            continue  # the run ended before the signal came
        midway += 1
        # Before its handlers are in place the program dies of the signal
        # itself, which a shell reports as 128 + n too.
        if status not in (128 + number, -number):
            raise Failure("trial %d: signal %d ended the run with status %d"
                          % (trials, number, status))
        check_logs(bench, trials)
        left = bench.leftovers("out")
        if left:
            raise Failure("trial %d: temporary files left: %s" % (trials, left))
    return trials, midway


def check_logs(bench, trial):
    """Every line in the logs is whole, and a file whose line was finished is
    in them: the files are copied in name order, so a file with a later file
    complete after it had its " : Ok" line written before that one began."""
    log = read(bench.path("run.log")).decode("latin-1") \
        if os.path.exists(bench.path("run.log")) else ""
    listed = read(bench.path("run.log.fil")).decode("latin-1") \
        if os.path.exists(bench.path("run.log.fil")) else ""
    for text, what in ((log, "log"), (listed, "list of copied files")):
        if text and not text.endswith("\n"):
            raise Failure("trial %d: the %s ends in the middle of a line" % (trial, what))
    names = sorted(bench.tree)
    complete = [read(bench.path("out/" + name[5:])) == bench.tree[name] for name in names]
    for index, name in enumerate(names):
        if not complete[index] or not any(complete[index + 1:]):
            continue
        copied = bench.path("out/" + name[5:])
        if not re.search(re.escape(copied) + r" : Ok\n", log):
            raise Failure("trial %d: the log lacks the finished line of %s" % (trial, name))
        if (name + "\n") not in listed:
            raise Failure("trial %d: the list of copied files lacks %s" % (trial, name))


MODES = (
    ("SIGKILL during a plain copy, then -pr", plain_then_restart),
    ("SIGKILL during -os onto an existing file", safe_overwrite),
    ("SIGKILL during -s, then -s -c", tree_then_changed),
    ("SIGINT and SIGTERM during -os -L", logged_stop),
)


def main(arguments):
    program = arguments[0]
    seconds = float(arguments[1]) if len(arguments) > 1 else 60.0
    selected = arguments[2:]
    root = tempfile.mkdtemp(prefix="zorov-interrupt-")
    passed = failed = 0
    try:
        bench = Bench(program, root)
        modes = [mode for mode in MODES if not selected or any(s in mode[1].__name__ for s in selected)]
        for label, function in modes:
            deadline = time.monotonic() + seconds / len(modes)
            try:
                trials, midway = function(bench, deadline)
                passed += 1
                print("  ok     %-45s %d trials, %d stopped midway" % (label, trials, midway))
            except (Failure, OSError, subprocess.SubprocessError) as failure:
                failed += 1
                print("  FAILED %-45s %s" % (label, failure))
            sys.stdout.flush()
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
