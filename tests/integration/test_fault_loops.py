"""Fault loops over whole runs of the real native launcher with the stand-in
engine: every file system call on the Windows directory failing in turn.

Each run is made once through the preloaded fault_shim to count its calls
on the Windows directory (K); then for N = 1 to K call N fails, alone and
with every later call, and the run is checked:

- status 0, within the time limit;
- Orvane.ini and win.ini are whole lines (no NUL byte, no partial line);
  keys the run has no reason to touch keep their value and order, and the
  others hold their value before the run or one the run writes;
- a run that talked with the engine as the fault-free run did but left
  Orvane.ini otherwise has told the user with the write-failure message;
  once the engine has described an error, the report is complete in its
  order or the message was sent;
- the stand-in saw no broken rule, and every start was stopped, but for one
  started after the last stop to send that message;
- temporary files left behind are counted and printed.

Native only: the shim is a Linux preload. The Windows directory is put in
/dev/shm when there is one, where a flush costs nothing.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import harness
import sessions

SHIM = os.environ.get("OV_FAULT_SHIM", "")
RUN_TIMEOUT_SECONDS = 30

WRITE_FAILED = (
    "INFO,Impossible d'\xe9crire dans ORVANE.INI.\nFichier prot\xe9g\xe9 ou d\xe9passant 64Ko".encode("cp1252"),
    b"INFO,Can not be able to write to ORVANE.INI.\nFile protect or size exceed 64Ko")
REPORT_KEYS = ("CR", "NLIGNE", "NCOL", "NOMPROC", "MESSAGE", "NOMFEN", "NOMOBJET", "TYPEOBJET")
PUBLISHED = ("win.ini", "orvane55", "lignedecommande")
QUOTED = re.compile(rb'"((?:[^"\\]|\\.)*)"')


def request(mode, directory, param1="", extra=b""):
    """Orvane.ini as the editor leaves it, with an old report key, a
    component, another section and a comment that the run must keep."""
    return (b"; written by the editor\r\n" + harness.settings_bytes({
        "Orvane55": {"LANGUAGE": "FRENCH"},
        "TEST": {"LIGNEDECOMMANDE": "OVTST552.EXE /TEST", "COMMANDE": "EDITEUR", "REPEXE": "/opt/orvane",
                 "REPCOURANT": directory + "/", "PARAM1": param1, "PARAM2": mode, "NOMFEN": "OLDFEN"},
        "COMPOSANTE": {"COMPOSANTE_0": "GRAPH,Graphiques,3"},
        "OTHER": {"KEY": "kept"},
    }) + extra)


WIN_INI = b"[mail]\r\nMAPI=1\r\n"

WINDOW_REPORT = ("ENVI,* =>\nOUVRE,* =>\nECRAN,SAISIE => key=*E*\nOUINON,* => text=\"O\"\n"
                 "DFTOCS => kind=5 pointer=\"12,CLIENTS,BTN_OK.PRO,Division par z\\xE9ro\" pointerint=12\n")
PROJECT_SCREENS = ("ENVI,* =>\nPROGRAMME,* => key=F2\n\"INFO,OVTouche=F2\" =>\nFENETRE => kind=1 text=\"1\"\n"
                   "ECRAN,SAISIE => key=*M*\n\"info,Option de menu sans code (OVTouche = \\\"*M*\\\").\" =>\n"
                   "FENETRE => kind=1 text=\"2\"\nECRAN,SAISIE => key=AF4\nINFO,* =>\n")
CONSOLE_PASS = "Ouvre,* =>\nAFFI,* =>\nAffi,* =>\nAFFI,* =>\n"
CONSOLE_LINES = ("ENVI,* =>\nBIBLI,* =>\nPROJ,* =>\nNATION,* =>\n" + CONSOLE_PASS + "ECRA,SAIS => key=RET\n"
                 "RECU,COMMANDE => text=\"INFO,bonjour\"\nRECU,COMMANDE => text=\"INFO,bonjour\"\nFERM =>\n"
                 "INFO,bonjour => key=RET\n" + CONSOLE_PASS + "ECRA,SAIS => key=RET\n"
                 "RECU,COMMANDE => key=RET text=\"TEST,x\"\n\"INFO,Fonction interdite\" =>\nFERM =>\n" +
                 CONSOLE_PASS + "ECRA,SAIS => key=ESC\nFERM =>\n")
CONSOLE_LEFT = "ENVI,* =>\nBIBLI,* =>\nPROJ,* =>\nNATION,* =>\n" + CONSOLE_PASS + "ECRA,SAIS => key=ESC\nFERM =>\n"


class Profile:
    """A settings file read back: whole CRLF lines, or the problem found."""

    def __init__(self, data):
        self.problem = None
        self.values = {}     # (section, key), lower case -> value bytes
        self.untouched = []  # (section, line) of every line but the headers and the keys given to split()
        self.headers = set()
        self.lines = []
        if data is None or data == b"":
            return
        if bytes(1) in data:
            self.problem = f"NUL bytes from {data.index(bytes(1))} of {len(data)}"
            return
        # An in-place rewrite that could not shorten the file leaves the new
        # text padded to the old length with one blank line, which reads skip.
        padding = re.search(rb"\r\n( *\r\n|\n)\Z", data)
        if padding:
            data = data[:padding.start() + 2]
        if not data.endswith(b"\r\n"):
            self.problem = f"a partial last line {data[-40:]!r}"
            return
        section = ""
        for line in data[:-2].split(b"\r\n"):
            if b"\r" in line or b"\n" in line:
                self.problem = f"a broken line {line!r}"
                return
            if line.startswith(b"[") and line.endswith(b"]"):
                section = line[1:-1].decode("cp1252").lower()
                self.headers.add(section)
                self.lines.append((section, None, line))
            elif b"=" in line:
                key = line.split(b"=", 1)[0].decode("cp1252").strip().lower()
                self.values[(section, key)] = line.split(b"=", 1)[1]
                self.lines.append((section, key, line))
            else:
                self.lines.append((section, None, line))

    def untouched_lines(self, touched):
        return [(section, line) for section, key, line in self.lines
                if key is not None and (section, key) not in touched or key is None and not line.startswith(b"[")]


class Outcome:
    """One run: status, standard error, the files left, the transcript."""

    def __init__(self, result, files, leftovers, transcript, calls):
        self.result = result
        self.files = files          # name -> bytes or None
        self.leftovers = leftovers  # other names left in the Windows directory
        self.session = sessions.Session(result, transcript)
        self.calls = calls          # the shim's log lines


class LoopCase(harness.TargetTestCase):
    """Runs, fault loops and the rules every run must keep."""

    # Whether stat, lstat, fstat and opendir on the Windows directory are
    # counted and failed too.
    status_calls = False

    def setUp(self):
        super().setUp()
        if not SHIM or not Path(SHIM).is_file():
            self.skipTest("the fault shim is not built (OV_FAULT_SHIM)")
        if harness.valgrind_command():
            self.skipTest("a thousand runs under valgrind would take hours; the other end-to-end runs cover it")
        shm = Path("/dev/shm")
        base = shm if shm.is_dir() and os.access(shm, os.W_OK) else self.target.scratch
        self.windows = Path(tempfile.mkdtemp(prefix="ov-fault-windows-", dir=base))
        self.addCleanup(shutil.rmtree, self.windows, True)
        self.project = self.target.scratch / "project"
        self.project.mkdir()

    # -- Running -----------------------------------------------------------------

    def run_once(self, folder, files, script, fail_at=0, onwards=False, no_new_files=False):
        for entry in self.windows.iterdir():
            entry.unlink()
        for name, data in files.items():
            (self.windows / name).write_bytes(data)
        scratch = self.target.scratch
        (scratch / "script.txt").write_bytes(script.encode("cp1252"))
        for name in ("transcript.txt", "calls.txt"):
            if (scratch / name).exists():
                (scratch / name).unlink()
        environment = dict(os.environ, WINDIR=str(self.windows), LD_PRELOAD=SHIM,
                           OV_FAULT_AT=str(fail_at), OV_FAULT_ONWARDS="1" if onwards else "0",
                           OV_FAULT_NO_NEW_FILES="1" if no_new_files else "0",
                           OV_FAULT_STILL_CLOCK="1", OV_FAULT_STATUS_CALLS="1" if self.status_calls else "0",
                           OV_FAULT_LOG=str(scratch / "calls.txt"),
                           OV_STANDIN_SCRIPT=str(scratch / "script.txt"),
                           OV_STANDIN_TRANSCRIPT=str(scratch / "transcript.txt"))
        # Under AddressSanitizer the shim is preloaded ahead of its runtime.
        asan = os.environ.get("ASAN_OPTIONS")
        environment["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
        launcher = str(folder / self.target.launcher_name)
        try:
            result = subprocess.run([launcher], env=environment, cwd=folder, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=RUN_TIMEOUT_SECONDS, check=False)
            run = harness.RunResult([launcher], result.returncode, result.stdout, result.stderr)
        except subprocess.TimeoutExpired:
            run = harness.RunResult([launcher], "hung", b"", b"")
        left = {name: (self.windows / name).read_bytes() if (self.windows / name).is_file() else None
                for name in ("Orvane.ini", "win.ini")}
        leftovers = sorted(entry.name for entry in self.windows.iterdir() if entry.name not in left)
        transcript_path = scratch / "transcript.txt"
        transcript = transcript_path.read_bytes() if transcript_path.exists() else b""
        calls_path = scratch / "calls.txt"
        calls = calls_path.read_text().splitlines() if calls_path.exists() else []
        return Outcome(run, left, leftovers, transcript, calls)

    def loop(self, name, files, script, engine=True, no_new_files=False):
        """Counts the run's calls, fails each in turn both ways, and returns
        (K, runs, problems)."""
        folder = self.target.stage_launcher(with_engine=engine)
        baseline = self.run_once(folder, files, script, no_new_files=no_new_files)
        self.assertEqual(self.check(baseline, baseline, files), None, f"{name} without faults")
        # With the clock held still the calls do not depend on timing: call N
        # is the same call in every run.
        counts = {len(self.run_once(folder, files, script, no_new_files=no_new_files).calls) for _ in range(2)}
        self.assertEqual(counts, {len(baseline.calls)}, f"{name}: the runs make different numbers of calls")
        k = len(baseline.calls)
        problems = []
        leftovers = {False: 0, True: 0}
        last_leftover = None
        started = time.monotonic()
        for n in range(1, k + 1):
            for onwards in (False, True):
                outcome = self.run_once(folder, files, script, fail_at=n, onwards=onwards, no_new_files=no_new_files)
                if outcome.leftovers:
                    leftovers[onwards] += 1
                    last_leftover = outcome.leftovers
                problem = self.check(outcome, baseline, files)
                if problem:
                    failed = next((line for line in outcome.calls if line.endswith(" failed")), "?")
                    problems.append(f"N={n} {'onwards' if onwards else 'once'} (first failed call: {failed}): "
                                    f"{problem}")
        runs = 2 * k
        print(f"[ fault loop ] {name}: K={k} calls on the Windows directory; {runs} runs, {len(problems)} failed; "
              f"runs that left a temporary file: {leftovers[False]} failing once, {leftovers[True]} from then on "
              f"(such as {last_leftover}); {time.monotonic() - started:.1f} s", file=sys.stderr)
        return k, runs, problems

    def assert_loop(self, name, files, script, **options):
        k, runs, problems = self.loop(name, files, script, **options)
        self.assertGreater(k, 0)
        self.assertEqual(problems, [], f"{name}: {len(problems)} of {runs} runs broke a rule:\n" +
                         "\n".join(problems[:20]))

    # -- What every run must keep ----------------------------------------------------

    @staticmethod
    def touched_keys():
        keys = {("win.ini",) + PUBLISHED[1:], ("Orvane.ini", "test", "commande")}
        keys.update(("Orvane.ini", "test", key.lower()) for key in REPORT_KEYS)
        return keys

    def check(self, outcome, baseline, files):
        """The first rule the run broke, or None."""
        if outcome.result.status != 0:
            return f"status {outcome.result.status}, standard error {outcome.result.stderr[-300:]!r}"
        if b"Sanitizer" in outcome.result.stderr:
            return "a sanitizer report"
        broken = [line for line in outcome.session.lines if line.startswith(b"fault") or line.startswith(b"limit")]
        if broken:
            return f"the stand-in saw {broken[0]!r}"

        touched = self.touched_keys()
        for name in ("Orvane.ini", "win.ini"):
            before, after, expected = (Profile(files.get(name)), Profile(outcome.files[name]),
                                       Profile(baseline.files[name]))
            if after.problem:
                return f"{name}: {after.problem}"
            mine = {(section, key) for file, section, key in touched if file == name}
            kept, was = after.untouched_lines(mine), before.untouched_lines(mine)
            if kept != was:
                first = next((i for i, (now, then) in enumerate(zip(kept, was)) if now != then),
                             min(len(kept), len(was)))
                return (f"{name}: lines the run does not touch changed, from {kept[first:first + 2]!r} "
                        f"where there were {was[first:first + 2]!r}")
            if not after.headers <= before.headers | {section for section, _ in mine}:
                return f"{name}: a new section {sorted(after.headers - before.headers)}"
            for key in mine:
                allowed = {before.values.get(key), expected.values.get(key)}
                if (name,) + key == PUBLISHED:
                    # The command line as read, or "" when it could not be read.
                    request = Profile(files.get("Orvane.ini"))
                    allowed |= {request.values.get(("test", "lignedecommande"), b""), b""}
                if after.values.get(key) not in allowed:
                    return f"{name}: {key[1]} holds {after.values.get(key)!r}"

        commands = outcome.session.commands()
        told = any(command in WRITE_FAILED for command in commands)
        same_talk = self.masked(commands) == self.masked(baseline.session.commands())
        settings, expected = Profile(outcome.files["Orvane.ini"]), Profile(baseline.files["Orvane.ini"])
        if same_talk and settings.values != expected.values:
            return "Orvane.ini differs from the fault-free run's and the user was not told"
        if b"DFTOCS" in commands and not told:
            # The file shows which keys hold what, not in which order they
            # were written: an old key keeps its place.
            wrong = [key for key in REPORT_KEYS if settings.values.get(("test", key.lower())) !=
                     expected.values.get(("test", key.lower()))]
            if wrong:
                return f"a report without {wrong} and the user was not told"
        if b"DFTOCS" in baseline.session.commands() and b"DFTOCS" not in commands and any(
                command.startswith(b"OUINON,") for command in commands):
            return "the question was asked as in the fault-free run and the report was not asked for"

        # Starts and stops pair up, but for an instance started after the
        # last stop for the message of a failed write.
        running = False
        first_call = None
        waiting = False
        for line in outcome.session.lines:
            if line.startswith(b"start result=") and line != b"start result=0":
                running, waiting = True, True
            elif line == b"stop":
                running = False
            elif waiting and line.startswith(b"call "):
                first_call, waiting = sessions.unquote(QUOTED.search(line).group(1)), False
        if running and first_call not in WRITE_FAILED:
            return f"an instance left running, started for {first_call!r}"
        return None

    @staticmethod
    def masked(commands):
        return [re.sub(rb"^ENVI,\d+$", b"ENVI,", command) for command in commands]

    def window_request(self):
        return {"Orvane.ini": request("F", str(self.project)), "win.ini": WIN_INI}


class FaultLoopsTest(LoopCase):
    """The six runs, in a directory that takes new files."""

    def test_window_test_ending_in_an_error_report(self):
        self.assert_loop("window test ending in an error report", self.window_request(), WINDOW_REPORT)

    def test_project_test_over_several_screens(self):
        self.assert_loop("project test over several screens",
                         {"Orvane.ini": request("P", str(self.project), "P"), "win.ini": WIN_INI}, PROJECT_SCREENS)

    def test_console_with_a_typed_and_a_refused_line(self):
        self.assert_loop("console with a typed and a refused line",
                         {"Orvane.ini": request("I", str(self.project)), "win.ini": WIN_INI}, CONSOLE_LINES)

    def test_stand_alone_start(self):
        settings = harness.settings_bytes({"Orvane55": {"LANGUAGE": "US"},
                                           "TEST": {"LIGNEDECOMMANDE": "OVTST552.EXE /EARLIER"},
                                           "OTHER": {"KEY": "kept"}})
        self.assert_loop("stand-alone start", {"Orvane.ini": settings, "win.ini": WIN_INI}, CONSOLE_LEFT)

    def test_start_with_no_engine_library(self):
        k, runs, problems = self.loop("start with no engine library", self.window_request(), "", engine=False)
        self.assertEqual(problems, [], "\n".join(problems[:20]))
        self.assertGreater(k, 0)

    def test_start_whose_first_engine_start_is_refused(self):
        self.assert_loop("start whose first engine start is refused", self.window_request(),
                         "@start => refuse\nOUVRE,* => key=ESC\n")


class InPlaceRewriteFaultLoopsTest(LoopCase):
    """The window test in a directory that refuses new files, where every
    settings write is an in-place rewrite: a failing disk there must leave
    the old bytes and the old length."""

    def test_window_test_ending_in_an_error_report(self):
        self.assert_loop("window test ending in an error report, in a directory that refuses new files",
                         self.window_request(), WINDOW_REPORT, no_new_files=True)


class StatusCallFaultLoopsTest(FaultLoopsTest):
    """The six runs with the status calls failing in turn as well: a delete
    must not report success when the directory's status cannot be had."""

    status_calls = True


if __name__ == "__main__":
    harness.main(needs=("native",))
