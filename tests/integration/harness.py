"""Runs the real programs for the end-to-end tests, on either target.

A scenario is written once against a Target and runs on both:

- NativeTarget: the Linux build. Each test gets a fresh temporary Windows
  directory, handed to the programs as $WINDIR.
- WineTarget: the Windows build under Wine, in the private prefix that
  wine_prefix.py makes once per test run. The Windows directory is the
  prefix's drive_c/windows; every file a test leaves there is removed and
  win.ini is put back as the prefix was made, before and after each test.

The one thing that differs between the targets inside the programs is the
path syntax: a path written into a settings file or compared with a command
text goes through Target.path_text and Target.separator, nowhere else.

The Windows build comes in two flavours, each a target of its own with its
own prefix: windows32, the product (run by Wine as a 32-bit Linux process,
so only where the kernel runs 32-bit programs), and windows64, the same
sources built for 64-bit Windows, which Wine's 64-bit loader runs on any
x86-64 machine.

Environment (set by tests/integration/CMakeLists.txt):
  OV_NATIVE_BUILD_DIR     the native build: ovtst552, ovini, OV553KRN.DLL
  OV_WINDOWS_BUILD_DIR    the 32-bit Windows build: OVTST552.EXE, ovini.exe,
                          OV553KRN.DLL (OV_WINDOWS64_BUILD_DIR: the 64-bit one)
  OV_WINE_PREFIX          the 32-bit flavour's prefix (OV_WINE64_PREFIX)
  OV_BOXRUNNER_WINDOWS32  boxrunner.exe, which answers message boxes under
                          Wine (OV_BOXRUNNER_WINDOWS64)
  OV_WINE64               Wine's 64-bit loader, when not the usual one
  OV_ASSUME_NO_32BIT      1: act as on a machine whose kernel runs no 32-bit
                          programs (the windows32 tests skip themselves)
  OV_VALGRIND             set and not 0: the native launcher runs under valgrind
                          memcheck, and any memory error or definite leak makes
                          it exit with VALGRIND_ERROR_STATUS
"""

import argparse
import errno
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

# ctest's SKIP_RETURN_CODE for these scripts.
SKIP_STATUS = 77
# No run may hang a test: the program is killed and the test fails.
RUN_TIMEOUT_SECONDS = 60
SERVER_LINGER_SECONDS = 60

# The native launcher's status when valgrind found an error, and how much
# longer a run may take under it.
VALGRIND_ERROR_STATUS = 99
VALGRIND_SLOWDOWN = 5

SETTINGS_FILE = "Orvane.ini"
ENGINE_LIBRARY = "OV553KRN.DLL"

# The launcher's question before it hands an error to the editor.
QUESTION_FRENCH = "OUINON,Voulez-vous \xeatre positionn\xe9 sur le source?"
QUESTION_ENGLISH = "OUINON,Do you want to edit source code?"

# Files that wine_prefix.py leaves beside drive_c (never inside it).
PRISTINE_WIN_INI = "ov-pristine-win.ini"
PRISTINE_LISTING = "ov-pristine-windows-files.txt"
READY_MARKER = "ov-prefix-ready"


def under_ci():
    return os.environ.get("CI", "").lower() == "true"


def valgrind_command():
    """What the native launcher runs under: valgrind when OV_VALGRIND asks."""
    if os.environ.get("OV_VALGRIND", "0") in ("", "0"):
        return []
    return ["valgrind", "--quiet", f"--error-exitcode={VALGRIND_ERROR_STATUS}", "--leak-check=full",
            "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite"]


# The least i386 Linux program: exit(0) through int 0x80. An ELF header, one
# loadable segment over its first 96 bytes, then the code; zeros after it,
# since some loaders read a fixed first block of the file.
_I386_EXIT_PROGRAM = bytes.fromhex(
    "7f454c46010101000000000000000000" "02000300010000005480040834000000"
    "00000000000000003400200001000000" "00000000"
    "0100000000000000008004080080040860000000600000000500000000100000"
    "b80100000031dbcd80" "000000").ljust(512, b"\0")


def machine_runs_32bit_programs():
    """False when this machine's kernel refuses i386 programs (ENOEXEC), or
    when OV_ASSUME_NO_32BIT=1 says to act as if it did. Wine runs the 32-bit
    Windows build as an i386 Linux process, so such a machine cannot run it,
    whatever is installed."""
    if os.environ.get("OV_ASSUME_NO_32BIT") == "1":
        return False
    with tempfile.TemporaryDirectory() as scratch:
        program = Path(scratch) / "exit32"
        program.write_bytes(_I386_EXIT_PROGRAM)
        program.chmod(0o700)
        try:
            subprocess.run([str(program)], timeout=30, check=False)
        except OSError as error:
            if error.errno == errno.ENOEXEC:
                return False
            raise
    return True


NO_32BIT_REASON = ("this machine's kernel does not run 32-bit (i386) programs, so Wine cannot run the 32-bit "
                   "Windows build here; no package can change that")


def native_build_dir():
    return Path(os.environ.get("OV_NATIVE_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "native"))


class Flavour:
    """One Windows build of the tests: where its programs, its prefix and its
    test helpers are, and which Wine loader runs it."""

    def __init__(self, name, bits, build_env, build_folder, prefix_env, prefix_folder, boxrunner_env,
                 incomplete_engine_env):
        self.name = name
        self.bits = bits
        self.build_env = build_env
        self.build_folder = build_folder
        self.prefix_env = prefix_env
        self.prefix_folder = prefix_folder
        self.boxrunner_env = boxrunner_env
        self.incomplete_engine_env = incomplete_engine_env

    @property
    def wine_architecture(self):
        return f"win{self.bits}"

    def wine_loader(self):
        """The Wine command that runs this flavour's programs, or None.
        Debian's wine wrapper starts the 32-bit loader whenever Wine's 32-bit
        half is installed, so the 64-bit flavour calls the 64-bit loader
        itself: it needs nothing 32-bit from the kernel."""
        if self.bits == 32:
            return shutil.which("wine")
        for candidate in (os.environ.get("OV_WINE64"), "/usr/lib/wine/wine64", shutil.which("wine64")):
            if candidate and os.access(candidate, os.X_OK) and Path(candidate).is_file():
                return candidate
        return None

    def unavailable(self):
        """Why this flavour cannot run on this machine, or None."""
        if self.bits == 32 and not machine_runs_32bit_programs():
            skip_for_machine(NO_32BIT_REASON)
        if self.wine_loader() is None:
            return ("Wine is not installed (no wine on PATH)" if self.bits == 32 else
                    "Wine's 64-bit loader is not installed (no /usr/lib/wine/wine64 or wine64 on PATH; "
                    "Debian's package wine64)")
        return None

    def build_dir(self):
        return os.environ.get(self.build_env, str(Path(__file__).resolve().parents[2] / "build" / self.build_folder))

    def prefix(self):
        return Path(os.environ.get(self.prefix_env, str(native_build_dir() / self.prefix_folder)))


FLAVOURS = {
    "windows32": Flavour("windows32", 32, "OV_WINDOWS_BUILD_DIR", "windows", "OV_WINE_PREFIX", "wine-prefix",
                         "OV_BOXRUNNER_WINDOWS32", "OV_INCOMPLETE_ENGINE_WINDOWS32"),
    "windows64": Flavour("windows64", 64, "OV_WINDOWS64_BUILD_DIR", "windows64", "OV_WINE64_PREFIX",
                         "wine64-prefix", "OV_BOXRUNNER_WINDOWS64", "OV_INCOMPLETE_ENGINE_WINDOWS64"),
}


def skip_for_machine(reason):
    """Ends the script as skipped, under CI=true too: for a limit of the
    machine that no install step can lift."""
    print(f"SKIPPED (machine limit): {reason}", file=sys.stderr)
    sys.exit(SKIP_STATUS)


def skip_or_fail(reason):
    """Ends the script: skipped for ctest, or failed under CI=true."""
    if under_ci():
        print(f"FAILED: {reason} (under CI=true the Windows tests may not be skipped)", file=sys.stderr)
        sys.exit(1)
    print(f"SKIPPED: {reason}", file=sys.stderr)
    sys.exit(SKIP_STATUS)


def wine_environment(prefix):
    """What every Wine command of the tests runs with."""
    environment = dict(os.environ)
    # The programs find the Windows directory through the prefix, not $WINDIR.
    environment.pop("WINDIR", None)
    environment["WINEPREFIX"] = str(prefix)
    environment["WINEDEBUG"] = "-all"
    # No Mono or Gecko installer may pop up while the prefix is updated.
    environment["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return environment


def start_lingering_server(prefix):
    """Starts the prefix's wineserver so that it outlives each program, which
    saves every run the start-up of a new one. It ends a minute after the
    last program (or when killed). Call it while no server runs."""
    subprocess.run(["wineserver", f"-p{SERVER_LINGER_SECONDS}"], env=wine_environment(prefix),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60,
                   check=False)


def settings_bytes(sections):
    """A settings file as the editor writes it: CRLF lines, Windows-1252.

    sections maps a section name to a mapping of keys to values, both in the
    order they are to appear.
    """
    lines = []
    for section, keys in sections.items():
        lines.append(f"[{section}]")
        lines.extend(f"{key}={value}" for key, value in keys.items())
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


class RunResult:
    """The outcome of one program run."""

    def __init__(self, argv, status, stdout, stderr):
        self.argv = argv
        self.status = status
        self.stdout = stdout
        self.stderr = stderr

    def stderr_lines(self):
        return self.stderr.decode("cp1252").splitlines()

    def __repr__(self):
        return f"RunResult(status={self.status}, stdout={self.stdout!r}, stderr={self.stderr!r})"


class Target:
    """One build of the programs and the Windows directory they use."""

    # name: the kind of target, which decides the programs' behaviour
    # (native or windows); flavour: the build under test, which names it.
    name = None
    flavour = None
    separator = None
    launcher_name = None
    tool_suffix = None

    def __init__(self, build_dir):
        self.build_dir = Path(build_dir)
        self.scratch = None
        self.incomplete_engine = None

    # -- Per test ------------------------------------------------------------

    def begin(self):
        """Gives the test an empty scratch folder and a clean Windows directory."""
        self.scratch = Path(tempfile.mkdtemp(prefix=f"ov-{self.name}-"))

    def end(self):
        if self.scratch is not None:
            shutil.rmtree(self.scratch, ignore_errors=True)
            self.scratch = None

    # -- Where things are ----------------------------------------------------

    @property
    def windows_dir(self):
        """The Windows directory, as a path on this machine."""
        raise NotImplementedError

    @property
    def windows_dir_text(self):
        """The Windows directory as the programs spell it."""
        raise NotImplementedError

    def path_text(self, path):
        """A path on this machine as the target's programs spell it."""
        raise NotImplementedError

    def join_text(self, *parts):
        """Path components joined with the target's separator."""
        return self.separator.join(parts)

    @property
    def launcher(self):
        return self.build_dir / self.launcher_name

    @property
    def engine_library(self):
        """The stand-in engine of this build (it may not be built)."""
        return self.build_dir / ENGINE_LIBRARY

    def tool(self, name):
        return self.build_dir / (name + self.tool_suffix)

    def missing_programs(self, *paths):
        """The paths of the given programs that are not built."""
        return [str(path) for path in paths if not Path(path).is_file()]

    # -- Files in the Windows directory ---------------------------------------

    def write_file(self, name, data):
        (self.windows_dir / name).write_bytes(data)

    def read_file(self, name):
        """The file's bytes, or None when it does not exist."""
        path = self.windows_dir / name
        return path.read_bytes() if path.is_file() else None

    def remove_file(self, name):
        path = self.windows_dir / name
        if path.exists():
            path.unlink()

    def write_request(self, sections):
        """Writes Orvane.ini, replacing whatever it held; see settings_bytes."""
        data = settings_bytes(sections)
        self.write_file(SETTINGS_FILE, data)
        return data

    def read_settings(self):
        return self.read_file(SETTINGS_FILE)

    def read_win_ini(self):
        return self.read_file("win.ini")

    # -- Running -------------------------------------------------------------

    def stage_launcher(self, with_engine=False):
        """A fresh folder holding a copy of the launcher, and of the stand-in
        engine beside it when with_engine is true. Returns the folder."""
        folder = Path(tempfile.mkdtemp(prefix="run-", dir=self.scratch))
        shutil.copy2(self.launcher, folder / self.launcher_name)
        if with_engine:
            shutil.copy2(self.engine_library, folder / ENGINE_LIBRARY)
        return folder

    def run_launcher(self, folder, arguments=(), environment=None, timeout=RUN_TIMEOUT_SECONDS, answer_boxes=True):
        """Runs the launcher staged in folder, with folder as the current
        directory. environment adds to (or, with None values, removes from)
        the environment of this process, which the program receives. Message
        boxes end up as "CAPTION: TEXT" lines on standard error; under Wine,
        answer_boxes false leaves them open, so a box blocks the run."""
        raise NotImplementedError

    def run_tool(self, name, arguments, environment=None, cwd=None, timeout=RUN_TIMEOUT_SECONDS):
        """Runs a console tool of this build (ovini) and returns its result."""
        raise NotImplementedError

    def _run(self, argv, environment, cwd, timeout, stdin=subprocess.DEVNULL):
        # Output goes to files, not pipes: under Wine, helper processes that
        # the program starts (the desktop, the services) inherit its standard
        # handles and can hold a pipe open for seconds after it has ended.
        with tempfile.TemporaryFile() as stdout, tempfile.TemporaryFile() as stderr:
            process = subprocess.Popen(argv, env=environment, cwd=cwd, stdin=stdin, stdout=stdout, stderr=stderr)
            try:
                status = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                self._after_timeout()
                raise AssertionError(f"{argv} did not end within {timeout} s and was killed")
            stdout.seek(0)
            stderr.seek(0)
            return RunResult(argv, status, stdout.read(), stderr.read())

    def _after_timeout(self):
        pass

    @staticmethod
    def _merged(base, environment):
        merged = dict(base)
        for key, value in (environment or {}).items():
            if value is None:
                merged.pop(key, None)
            else:
                merged[key] = value
        return merged


class NativeTarget(Target):
    name = "native"
    flavour = "native"
    separator = "/"
    launcher_name = "ovtst552"
    tool_suffix = ""

    def unavailable(self):
        return None

    def begin(self):
        super().begin()
        self._windows_dir = self.scratch / "windows"
        self._windows_dir.mkdir()
        # A command the launcher runs under for the current test, such as
        # setpriv to take root's power over file permissions away.
        self.launch_prefix = []

    @property
    def windows_dir(self):
        return self._windows_dir

    @property
    def windows_dir_text(self):
        return str(self._windows_dir)

    def path_text(self, path):
        return str(path)

    def _environment(self, environment):
        base = dict(os.environ)
        base["WINDIR"] = str(self._windows_dir)
        return self._merged(base, environment)

    def run_launcher(self, folder, arguments=(), environment=None, timeout=RUN_TIMEOUT_SECONDS, answer_boxes=True):
        # The Linux layer writes a box to standard error and waits only for a
        # person at a terminal; standard input is never one here.
        argv = [*self.launch_prefix, *valgrind_command(), str(Path(folder) / self.launcher_name), *arguments]
        if valgrind_command():
            timeout *= VALGRIND_SLOWDOWN
        return self._run(argv, self._environment(environment), folder, timeout)

    def run_tool(self, name, arguments, environment=None, cwd=None, timeout=RUN_TIMEOUT_SECONDS):
        argv = [str(self.tool(name)), *arguments]
        return self._run(argv, self._environment(environment), cwd or self.scratch, timeout)


class WineTarget(Target):
    name = "windows"
    separator = "\\"
    launcher_name = "OVTST552.EXE"
    tool_suffix = ".exe"

    def __init__(self, flavour, build_dir, prefix, boxrunner):
        super().__init__(build_dir)
        self.flavour = flavour.name
        self.kind = flavour
        self.prefix = Path(prefix)
        self.boxrunner = Path(boxrunner) if boxrunner else None
        self.wine = flavour.wine_loader()

    def unavailable(self):
        """Why this flavour's tests cannot run here, or None."""
        reason = self.kind.unavailable()
        if reason:
            return reason
        missing = self.missing_programs(self.launcher, self.tool("ovini"))
        if missing:
            preset = "windows" if self.kind.bits == 32 else "windows64"
            return f"the {self.flavour} build is missing ({', '.join(missing)}); run cmake --build --preset {preset}"
        if self.boxrunner is None or not self.boxrunner.is_file():
            return f"boxrunner.exe of {self.flavour} is not built (no MinGW compiler of that flavour for the tests)"
        if not (self.prefix / READY_MARKER).is_file():
            return f"the Wine prefix {self.prefix} was not made (the wine_prefix fixture did not pass)"
        return None

    @property
    def windows_dir(self):
        return self.prefix / "drive_c" / "windows"

    @property
    def windows_dir_text(self):
        return "C:\\windows"

    def path_text(self, path):
        # A new prefix maps drive Z: to the root of this machine.
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def begin(self):
        super().begin()
        self._restore_windows_dir()

    def end(self):
        try:
            self._restore_windows_dir()
        finally:
            super().end()

    def _restore_windows_dir(self):
        """Removes every file that was not there when the prefix was made and
        puts win.ini back as it was then."""
        pristine = set((self.prefix / PRISTINE_LISTING).read_text().splitlines())
        for entry in self.windows_dir.iterdir():
            if entry.is_file() and entry.name not in pristine:
                entry.unlink()
        saved = self.prefix / PRISTINE_WIN_INI
        if saved.is_file():
            shutil.copyfile(saved, self.windows_dir / "win.ini")

    def _environment(self, environment):
        return self._merged(wine_environment(self.prefix), environment)

    def run_launcher(self, folder, arguments=(), environment=None, timeout=RUN_TIMEOUT_SECONDS, answer_boxes=True):
        # boxrunner starts the launcher, writes each message box it shows to
        # standard error as "CAPTION: TEXT" and closes it, and passes the
        # launcher's exit status on.
        program = self.path_text(Path(folder) / self.launcher_name)
        runner = [str(self.boxrunner)] if answer_boxes else []
        argv = [self.wine, *runner, program, *arguments]
        return self._run(argv, self._environment(environment), folder, timeout)

    def run_tool(self, name, arguments, environment=None, cwd=None, timeout=RUN_TIMEOUT_SECONDS):
        argv = [self.wine, str(self.tool(name)), *arguments]
        return self._run(argv, self._environment(environment), cwd or self.scratch, timeout)

    def _after_timeout(self):
        # Whatever the killed command left running in the test prefix, and a
        # new server for the tests that follow.
        environment = wine_environment(self.prefix)
        subprocess.run(["wineserver", "-k"], env=environment, timeout=30, check=False)
        subprocess.run(["wineserver", "-w"], env=environment, timeout=60, check=False)
        start_lingering_server(self.prefix)


def make_target(name):
    """native, or a Windows flavour (windows32, windows64)."""
    if name == "native":
        target = NativeTarget(native_build_dir())
        engine = os.environ.get("OV_INCOMPLETE_ENGINE_NATIVE")
    elif name in FLAVOURS:
        flavour = FLAVOURS[name]
        target = WineTarget(flavour, flavour.build_dir(), flavour.prefix(),
                            os.environ.get(flavour.boxrunner_env))
        engine = os.environ.get(flavour.incomplete_engine_env)
    else:
        raise ValueError(f"unknown target {name!r}")
    target.incomplete_engine = Path(engine) if engine else None
    return target


class TargetTestCase(unittest.TestCase):
    """A test run on the target chosen on the command line (see main)."""

    target = None

    def setUp(self):
        self.target.begin()
        self.addCleanup(self.target.end)


TARGETS = ("native", *FLAVOURS)


def main(needs=TARGETS):
    """Runs the script's tests on the target given by --target (one of
    needs). A Windows target that cannot run here skips the whole script."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--target", choices=needs, default=needs[0])
    options, rest = parser.parse_known_args()
    target = make_target(options.target)
    reason = target.unavailable()
    if reason:
        skip_or_fail(reason)
    TargetTestCase.target = target
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)
