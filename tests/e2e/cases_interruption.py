"""Interruption: a run stopped by a signal (Ctrl-C, Ctrl-Break or closing the
console on Windows; on POSIX also Ctrl-\\ and the reader of its output going
away) keeps its logs and leaves no temporary file, and a partial destination
never looks newer than its source. (The terminal's progress indicator is
checked by the platform tests.)"""

import glob
import os
import signal
import subprocess
import time

from harness import case, check, equal

# Windows ends a process stopped by Ctrl-C with STATUS_CONTROL_C_EXIT; wine
# hands its low byte to the host.
WINDOWS_CONTROL_C_STATUS = 0xC000013A & 0xFF


def wait_for(condition, what, seconds=30):
    deadline = time.time() + seconds
    while not condition():
        check(time.time() < deadline, "timed out waiting for " + what)
        time.sleep(0.05)


def size_of(name):
    try:
        return os.path.getsize(name)
    except OSError:
        return -1


def interrupted_run(run, arguments, started, number):
    """Starts the program, waits until `started()` holds and sends the
    signal; the exit code. SIGPIPE comes as it does in use: the reader of
    standard output (a pipe) goes away once it has the first finished file's
    line, as `grep -m1 Ok` does, and the program's next hand-over of output
    raises the signal."""
    if number == signal.SIGPIPE:
        child = subprocess.Popen(run.target.command(arguments), cwd=run.directory,
                                 env=run.target.environment, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            for line in child.stdout:
                if line.rstrip().endswith(b" : Ok"):
                    break
            child.stdout.close()
            return child.wait(timeout=30)
        finally:
            if child.poll() is None:
                child.kill()
                child.wait()
    # Standard output goes to a file, as a script's or a scheduled job's does.
    with open(run.native("out.txt"), "wb") as output:
        child = subprocess.Popen(run.target.command(arguments), cwd=run.directory,
                                 env=run.target.environment, stdin=subprocess.DEVNULL,
                                 stdout=output, stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: started() or child.poll() is not None, "the copy to start")
        check(child.poll() is None, "the run ended before the signal")
        child.send_signal(number)
        return child.wait(timeout=30)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()


@case
def interruption_keeps_logs_and_puts_the_output_right(run):
    # One buffer, 16 KB a second: each block is written as soon as it is
    # read, and the big file would take a minute.
    paced = ["-p", "-i16K/1"]
    # Output goes to a pipe in 4 KB pieces, and a line at a time; 64-byte
    # blocks spin the bar often enough that a piece leaves in the middle of
    # the big file, after the reader went away.
    spinning = ["-k64"]
    size = 1 << 20  # the paced copies are stopped long before their end
    rows = [  # signal, flags, destination existed before
        (signal.SIGINT, paced, False),
        (signal.SIGTERM, paced + ["-os"], True),
        (signal.SIGHUP, paced, True),
        (signal.SIGQUIT, paced + ["-os"], True),
        (signal.SIGPIPE, spinning, False),
        (signal.SIGPIPE, spinning + ["-os"], True),
    ]
    if run.windows:  # wine turns only SIGINT into a console control event
        rows = [(signal.SIGINT, paced, False), (signal.SIGINT, paced + ["-os"], True)]
    for number, flags, existed in rows:
        label = "%s %s" % (number, flags)
        for name in glob.glob(run.native("*")):
            os.remove(name) if os.path.isfile(name) else None
        run.write("small", "S")
        run.write("big", b"B" * size, mtime=1500000000)
        os.makedirs(run.native("t"), exist_ok=True)
        for name in glob.glob(run.native("t/*")):
            os.remove(name)
        if existed:
            run.write("t/big", "old", mtime=1600000000)
        big = run.native("t/big")
        if "-os" in flags:
            started = lambda: any(size_of(n) > 0 for n in glob.glob(big + "_*"))
        else:
            started = lambda: 0 < size_of(big) < size and size_of(big) != 3
        code = interrupted_run(run, ["-Lrun.log"] + flags + ["small", "big", "t"], started,
                               number)
        expected = WINDOWS_CONTROL_C_STATUS if run.windows else 128 + number
        equal(code, expected, "exit status, " + label)
        lines = run.text_lines("run.log").split("\n")
        equal(lines[-1], "", "the log ends with a complete line, " + label)
        pair = "%s ===> %s" % (run.path("small"), run.path("t/small"))
        check(any(line.startswith(pair) and line.endswith(" : Ok") for line in lines),
              "the finished file is logged, %s: %r" % (label, lines))
        equal(run.text_lines("run.log.fil"), run.path("small") + "\n", "copied list, " + label)
        if number != signal.SIGPIPE:
            out = run.console_text(run.read("out.txt")).split("\n")
            check(any(line.startswith(pair) and line.endswith(" : Ok") for line in out[:-1]),
                  "the finished line reached the output, %s: %r" % (label, out))
        equal(glob.glob(big + "_*"), [], "no temporary file left, " + label)
        if "-os" in flags:
            equal(run.read("t/big"), b"old", "the destination is as it was, " + label)
        else:
            check(0 < size_of(big) < size, "the partial destination stays, " + label)
            equal(os.stat(big).st_mtime, 0, "and is older than any source, " + label)
