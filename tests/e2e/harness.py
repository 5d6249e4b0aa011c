"""Runs the real program in temporary directories and checks what it did.

The same cases run against the POSIX build and against the Windows build
under wine; a case states its expectations with `Run.path`, which gives a name
in the form the program under test prints it.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

CASES = []


# The error levels a run ends with, as the help text promises them: what a
# batch script reads to tell how the copy went.
LEVEL_COPIED = 0
LEVEL_FAILED = 1
LEVEL_STOPPED = 8
LEVEL_NOT_DIRECTORY = 9
LEVEL_BAD_FLAGS = 12


def case(function):
    """Registers a test case."""
    CASES.append(function)
    return function


class Target:
    """The program under test and how to start it."""

    def __init__(self, program, wine=None):
        self.program = os.path.abspath(program)
        self.wine = wine
        self.windows = wine is not None
        self.environment = dict(os.environ)
        if self.windows:
            self.environment["WINEDEBUG"] = "-all"
            # no installers of wine's add-ons when the prefix is made
            self.environment["WINEDLLOVERRIDES"] = "mscoree,mshtml="

    def command(self, arguments):
        if self.windows:
            return [self.wine, self.program] + list(arguments)
        return [self.program] + list(arguments)


class Result:
    def __init__(self, code, out, err):
        self.code = code
        self.out = out
        self.err = err

    def __repr__(self):
        return "exit %d\nstdout: %r\nstderr: %r" % (self.code, self.out, self.err)


class Run:
    """One case's scratch directory and the program's calls within it."""

    def __init__(self, target, directory):
        self.target = target
        self.directory = directory

    @property
    def windows(self):
        return self.target.windows

    def path(self, relative=""):
        """The absolute name of `relative` as the program prints it."""
        full = os.path.join(self.directory, relative) if relative else self.directory
        if relative.endswith("/") and not full.endswith("/"):
            full += "/"
        if self.windows:
            return "Z:" + full.replace("/", "\\")
        return full

    def native(self, relative):
        """The host's name of a file in the scratch directory."""
        return os.path.join(self.directory, relative)

    def write(self, relative, data, mode=None, mtime=None):
        name = self.native(relative)
        os.makedirs(os.path.dirname(name), exist_ok=True)
        if isinstance(data, str):
            data = data.encode()
        with open(name, "wb") as handle:
            handle.write(data)
        if mtime is not None:
            os.utime(name, (mtime, mtime))
        if mode is not None:
            os.chmod(name, mode)
        return name

    def read(self, relative):
        with open(self.native(relative), "rb") as handle:
            return handle.read()

    def exists(self, relative):
        return os.path.lexists(self.native(relative))

    def text_lines(self, relative):
        """A text file of the program, with the platform's line ends checked."""
        data = self.read(relative)
        if self.windows:
            check(b"\n" not in data.replace(b"\r\n", b""), "bare LF in %s" % relative)
            data = data.replace(b"\r\n", b"\n")
        else:
            check(b"\r" not in data, "CR in %s" % relative)
        return data.decode("latin-1")

    def zorov(self, *arguments, stdin=None, environment=None, raw=False, preexec=None):
        code, out, err = self.run_once(arguments, stdin, environment, preexec)
        # Now and then, under load, a run under wine ends with 1 and not a
        # byte of output. A run that isn't quiet and fails a file always
        # says so, so such a run never happened as the program ran it: it is
        # made again, once.
        quiet = any(argument[:2].lower() == "-q" for argument in arguments)
        if self.windows and code == 1 and out == b"" and err == b"" and not quiet:
            if stdin is not None and hasattr(stdin, "seek"):
                stdin.seek(0)
            code, out, err = self.run_once(arguments, stdin, environment, preexec)
        if not raw:
            out = self.console_text(out)
            err = self.console_text(err)
        return Result(code, out, err)

    def run_once(self, arguments, stdin, environment, preexec):
        env = dict(self.target.environment)
        if environment:
            env.update(environment)
        # Under wine the program writes to files: the desktop process wine
        # starts for it inherits its output and outlives it by many seconds,
        # and a pipe would stay open until that process ends.
        with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
            started = subprocess.run(
                self.target.command(arguments),
                cwd=self.directory,
                env=env,
                stdin=subprocess.DEVNULL if stdin is None else stdin,
                stdout=out_file if self.windows else subprocess.PIPE,
                stderr=err_file if self.windows else subprocess.PIPE,
                timeout=120,
                preexec_fn=preexec,
            )
            out, err = started.stdout, started.stderr
            if self.windows:
                out_file.seek(0)
                err_file.seek(0)
                out, err = out_file.read(), err_file.read()
        return started.returncode, out, err

    def console_text(self, data):
        if self.windows:
            data = data.replace(b"\r\n", b"\n")
        return data.decode("latin-1")


class Failure(Exception):
    pass


class Skipped(Exception):
    """A case that can't run here; its text says why."""


def read_until_closed(leader):
    """Everything a pseudo-terminal's program writes until it ends; closes the leader."""
    output = b""
    while True:
        try:
            chunk = os.read(leader, 65536)
        except OSError:
            break
        if not chunk:
            break
        output += chunk
    os.close(leader)
    return output


def check(condition, message="check failed"):
    if not condition:
        raise Failure(message)


def equal(actual, expected, what="value"):
    if actual != expected:
        raise Failure("%s:\n  expected %r\n  actual   %r" % (what, expected, actual))


def run_cases(target, selected=None, exact=None):
    """Runs the cases whose names hold one of `selected` (all without any),
    or the one named `exact`."""
    passed = failed = skipped = 0
    root = tempfile.mkdtemp(prefix="zorov-e2e-")
    try:
        for function in CASES:
            if exact is not None and function.__name__ != exact:
                continue
            if selected and not any(s in function.__name__ for s in selected):
                continue
            directory = os.path.join(root, function.__name__)
            os.makedirs(directory)
            started = time.time()
            try:
                function(Run(target, directory))
                passed += 1
                print("  ok     %-50s %.2fs" % (function.__name__, time.time() - started))
            except Skipped as reason:
                skipped += 1
                print("  skip   %-50s %s" % (function.__name__, reason))
            except Exception:  # a failed case is reported, the others go on
                failed += 1
                print("  FAILED %s" % function.__name__)
                print("    " + traceback.format_exc().replace("\n", "\n    "))
            sys.stdout.flush()
    finally:
        for base, directories, files in os.walk(root):
            for name in directories + files:
                try:
                    os.chmod(os.path.join(base, name), 0o755)
                except OSError:
                    pass
        shutil.rmtree(root, ignore_errors=True)
    return passed, failed, skipped
