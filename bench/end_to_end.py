#!/usr/bin/env python3
"""Times the real launcher against the least program that does its work.

Two measurements, each launcher against baseline_session (bench/
baseline_session.c, which loads the same stand-in engine and sends the
same commands, with no settings file and no window):

- window: a scripted window test of N screens (default 1000). The engine
  answers "OUVRE" and each "ECRAN,SAISIE" with the key XYZ, which the test
  does not handle, so every screen costs "INFO,OVTouche=XYZ", "FENETRE"
  (answered 1) and "ECRAN,SAISIE"; the last screen ends with ESC.
- start: from process start to the first command reaching the engine. The
  stand-in's call bound is set to one call, so the process ends (status 3)
  the moment the first command arrives, in both programs alike.

Natively, and under Wine for the Windows build (its own prefix). The
baseline is also timed making the launcher's three settings writes
("+ settings": the command line published in WIN.INI, the request's
COMMANDE deleted, the command line withdrawn), each as safely as the
launcher makes it, and under Wine with the hidden window the launcher
creates ("+ window"): what the launcher must do besides the commands. The
stand-in's transcript is off in the timed runs; one run of each program
with the transcript on checks first that both followed the script to its
end and sent the same commands.

Every run is a fresh process; the two programs take turns, and the figures
are medians of the runs. Output: a table, and with --json the figures.

--callgrind counts instructions instead (native only): one run of each
program of each measurement under valgrind's callgrind, the whole process
from the dynamic loader on, once with the stand-in engine (included in both
programs alike) and once with the do-nothing engine (bench/null_engine.c),
whose entry points return at once, so that what is counted is the programs'
own work. With the do-nothing engine the start is a whole run whose replies
are all empty: the window opens, no key comes back, the programs stop the
engine and exit. A screen's cost is the window test's count less the
start's, divided by the screens.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
ENGINE = "OV553KRN.DLL"
RUN_TIMEOUT = 300


def settings_bytes(sections):
    lines = []
    for section, keys in sections.items():
        lines.append(f"[{section}]")
        lines.extend(f"{key}={value}" for key, value in keys.items())
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


def padding_section(size):
    """About size bytes of other settings, as an editor's settings file grows
    them (recent files and the like), after the request."""
    keys, line, total = {}, 0, 0
    while total < size:
        line += 1
        keys[f"FICHIER{line}"] = value = f"C:\\PROJETS\\PROJET{line}\\FENETRE{line}.WDW"
        total += len(f"FICHIER{line}") + len(value) + 3
    return keys


def window_script(screens):
    lines = ["ENVI,* =>", "OUVRE,* => key=XYZ", "ECRAN,SAISIE => key=XYZ"]
    for screen in range(screens):
        lines.append('"INFO,OVTouche=XYZ" =>')
        lines.append('FENETRE => kind=1 text="1"')
        lines.append("ECRAN,SAISIE => key=" + ("ESC" if screen == screens - 1 else "XYZ"))
    return "\n".join(lines) + "\n"


class Target:
    """Where the programs are and how they are started."""

    name = None

    padding = 0  # bytes of other settings after the request (--settings-padding)

    def __init__(self, scratch):
        self.scratch = scratch
        self.project = scratch / "project"
        self.project.mkdir()
        self.stage = scratch / "run"
        self.stage.mkdir()

    def request(self):
        return {
            "TEST": {
                "LIGNEDECOMMANDE": "OVTST552.EXE /TEST",
                "COMMANDE": "EDITEUR",
                "REPEXE": self.path_text(self.stage),
                "REPCOURANT": self.path_text(self.project),
                "PARAM1": "",
                "PARAM2": "F",
            },
            "Orvane55": {"LANGUAGE": "FRENCH"},
            **({"RECENTS": padding_section(self.padding)} if self.padding else {}),
        }

    def prepare_run(self):
        """What the editor does before each start: the request written anew,
        WIN.INI without the published command line."""
        (self.windows_dir / "Orvane.ini").write_bytes(settings_bytes(self.request()))
        self.reset_win_ini()

    def run(self, argv, variables):
        """Runs the program once: (wall time, processor time, both in ns, exit status)."""
        environment = self.environment()
        environment.update(variables)
        begin = time.perf_counter_ns()
        process = subprocess.Popen(argv, env=environment, cwd=self.stage, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # wait4 for the child's own processor time, which other work on a
        # shared machine disturbs less than the wall time.
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.perf_counter_ns() - begin
        process.returncode = os.waitstatus_to_exitcode(status)
        return elapsed, int((usage.ru_utime + usage.ru_stime) * 1e9), process.returncode


class NativeTarget(Target):
    name = "native"

    def __init__(self, scratch, build, engine=None):
        """engine: the engine library to run with; the stand-in by default."""
        super().__init__(scratch)
        self.windows_dir = scratch / "windows"
        self.windows_dir.mkdir()
        for name in ("ovtst552", "baseline_session"):
            shutil.copy2(build / name, self.stage / name)
        shutil.copy2(engine or build / ENGINE, self.stage / ENGINE)

    def path_text(self, path):
        return str(path)

    def environment(self):
        environment = dict(os.environ, WINDIR=str(self.windows_dir))
        for name in ("OV_STANDIN_SCRIPT", "OV_STANDIN_TRANSCRIPT", "OV_STANDIN_MAX_CALLS", "OV_STANDIN_MODE",
                     "OV_NULL_ENGINE_SCREENS"):
            environment.pop(name, None)
        return environment

    def reset_win_ini(self):
        (self.windows_dir / "win.ini").unlink(missing_ok=True)

    def launcher(self):
        return [str(self.stage / "ovtst552")]

    def baselines(self):
        program = [str(self.stage / "baseline_session"), self.path_text(self.project)]
        return {"baseline": program, "baseline + settings": program + ["settings"]}


class WineTarget(Target):
    name = "wine"

    def __init__(self, scratch, build, baseline_exe, prefix):
        super().__init__(scratch)
        self.prefix = prefix
        self.windows_dir = prefix / "drive_c" / "windows"
        for name in ("OVTST552.EXE", ENGINE):
            shutil.copy2(build / name, self.stage / name)
        shutil.copy2(baseline_exe, self.stage / "baseline_win32.exe")
        self.pristine_win_ini = scratch / "win.ini"
        shutil.copyfile(self.windows_dir / "win.ini", self.pristine_win_ini)

    def path_text(self, path):
        # A new prefix maps drive Z: to the root of this machine.
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def environment(self):
        environment = dict(os.environ)
        for name in ("WINDIR", "OV_STANDIN_SCRIPT", "OV_STANDIN_TRANSCRIPT", "OV_STANDIN_MAX_CALLS",
                     "OV_STANDIN_MODE"):
            environment.pop(name, None)
        environment.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        return environment

    def reset_win_ini(self):
        shutil.copyfile(self.pristine_win_ini, self.windows_dir / "win.ini")

    def restore(self):
        self.reset_win_ini()
        (self.windows_dir / "Orvane.ini").unlink(missing_ok=True)

    def launcher(self):
        return ["wine", self.path_text(self.stage / "OVTST552.EXE")]

    def baselines(self):
        program = self.path_text(self.stage / "baseline_win32.exe")
        project = self.path_text(self.project)
        return {"baseline": ["wine", program, project], "baseline + window": ["wine", program, project, "window"],
                "baseline + window + settings": ["wine", program, project, "window", "settings"]}


def checked_commands(target, argv, variables, label):
    """Runs once with the transcript on; the commands the engine received."""
    transcript = target.scratch / "transcript.txt"
    transcript.unlink(missing_ok=True)
    target.prepare_run()
    _, _, status = target.run(argv, dict(variables, OV_STANDIN_TRANSCRIPT=target.path_text(transcript)))
    lines = transcript.read_bytes().split(b"\n") if transcript.exists() else []
    faults = [line for line in lines if re.match(rb"(mismatch|script|fault|limit)", line)
              and not line.startswith(b"limit calls=1 ")]
    if faults:
        raise SystemExit(f"{label}: the run left the script: {faults[:3]}")
    commands = [re.sub(rb"^call \"ENVI,\d+\"", b'call "ENVI,<address>"', line) for line in lines
                if line.startswith(b"call ")]
    return status, commands


def measure(target, name, variables, expected_status, runs, warmup):
    programs = {"launcher": target.launcher(), **target.baselines()}
    reference = None
    for label, argv in programs.items():
        status, commands = checked_commands(target, argv, variables, f"{target.name} {name} {label}")
        if status != expected_status:
            raise SystemExit(f"{target.name} {name} {label}: exit status {status}, expected {expected_status}")
        if reference is None:
            reference = commands
        elif commands != reference:
            raise SystemExit(f"{target.name} {name}: {label} sent other commands than the launcher")
    wall = {label: [] for label in programs}
    processor = {label: [] for label in programs}
    for run in range(warmup + runs):
        order = list(programs.items())
        if run % 2:
            order.reverse()
        for label, argv in order:
            target.prepare_run()
            elapsed, used, status = target.run(argv, variables)
            if status != expected_status:
                raise SystemExit(f"{target.name} {name} {label}: exit status {status} in a timed run")
            if run >= warmup:  # the first rounds warm the caches up
                wall[label].append(elapsed)
                processor[label].append(used)
    wall_medians = {label: statistics.median(values) for label, values in wall.items()}
    processor_medians = {label: statistics.median(values) for label, values in processor.items()}
    return {
        "target": target.name,
        "measurement": name,
        "commands": len(reference),
        "runs": runs,
        "median_ms": {label: value / 1e6 for label, value in wall_medians.items()},
        "ratio": {label: wall_medians["launcher"] / value for label, value in wall_medians.items()
                  if label != "launcher"},
        "median_cpu_ms": {label: value / 1e6 for label, value in processor_medians.items()},
        "cpu_ratio": {label: processor_medians["launcher"] / value for label, value in processor_medians.items()
                      if label != "launcher" and value > 0},
    }


def instructions_in(profile, library):
    """The instructions a callgrind profile spent in calls into library from
    outside it (its start-up code, its entry points), with all they called."""
    names = {}
    current = callee = None
    call_into_library = False
    spent = 0
    for line in profile.splitlines():
        # Object names are numbered at their first mention, as a caller or a callee.
        named = re.match(rb"(c?)ob=(?:\((\d+)\))? ?(.*)", line)
        if named:
            if named.group(2) and named.group(3):
                names[named.group(2)] = named.group(3)
            name = os.path.basename(names.get(named.group(2), named.group(3)).decode(errors="replace"))
            if named.group(1):
                callee = name
            else:
                current = callee = name
        elif line.startswith(b"calls="):
            call_into_library = callee == library and current != library
        elif line[:1].isdigit() or line[:1] in (b"+", b"-", b"*"):
            # The cost line after calls= is the call's, with all it called.
            if call_into_library:
                fields = line.split()
                spent += int(fields[1]) if len(fields) > 1 else 0
            call_into_library = False
            callee = current
    return spent


def count_instructions(target, argv, variables, expected_status, label):
    """Runs once under callgrind: the instructions the whole process executed,
    and those outside the engine library."""
    output = target.scratch / "callgrind.out"
    output.unlink(missing_ok=True)
    target.prepare_run()
    _, _, status = target.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={output}", *argv], variables)
    if status != expected_status:
        raise SystemExit(f"{label}: exit status {status} under callgrind, expected {expected_status}")
    profile = output.read_bytes()
    found = re.search(rb"^(?:summary|totals): (\d+)", profile, re.MULTILINE)
    if found is None:
        raise SystemExit(f"{label}: callgrind wrote no total")
    return int(found.group(1)), int(found.group(1)) - instructions_in(profile, ENGINE)


def callgrind_target(target, screens, null_engine=False):
    """Instructions of each program; with null_engine, the target runs the
    do-nothing engine, whose start is a whole run that ends normally."""
    if null_engine:
        window = {"OV_NULL_ENGINE_SCREENS": str(screens)}
        start, start_status = {}, 0
    else:
        script = target.scratch / "script.txt"
        script.write_text(window_script(screens), encoding="cp1252")
        window = {"OV_STANDIN_SCRIPT": target.path_text(script), "OV_STANDIN_MAX_CALLS": str(10 * screens + 100)}
        start, start_status = {"OV_STANDIN_MODE": "quiet", "OV_STANDIN_MAX_CALLS": "1"}, 3
    programs = {"launcher": target.launcher(), **target.baselines()}
    counts = {}
    for label, argv in programs.items():
        start_all, start_own = count_instructions(target, argv, start, start_status, f"start {label}")
        window_all, window_own = count_instructions(target, argv, window, 0, f"window {label}")
        counts[label] = {
            "start": start_all, "window": window_all, "screen": (window_all - start_all) / screens,
            "start_without_engine": start_own, "window_without_engine": window_own,
            "screen_without_engine": (window_own - start_own) / screens,
        }
    return {"target": target.name, "engine": "do-nothing" if null_engine else "stand-in", "screens": screens,
            "instructions": counts}


def print_instructions(result):
    counts = result["instructions"]
    least = counts["baseline"]
    window = f"{result['screens']} screens"
    for suffix, title in (("", "the whole process"), ("_without_engine", "outside the engine library")):
        print(f"Instructions with the {result['engine']} engine, {title}:")
        print(f"{'program':21} {'start and exit':>15} {'ratio':>6} {window:>15} "
              f"{'ratio':>6} {'per screen':>11} {'ratio':>6}")
        for label, count in counts.items():
            start, screens, screen = (count["start" + suffix], count["window" + suffix],
                                      count["screen" + suffix])
            print(f"{label:21} {start:15,} {start / least['start' + suffix]:6.2f} {screens:15,} "
                  f"{screens / least['window' + suffix]:6.2f} {screen:11,.0f} "
                  f"{screen / least['screen' + suffix]:6.2f}")
    print("valgrind --tool=callgrind; a screen: the window test less the start, over the screens; "
          "ratio: against the baseline")


def run_target(target, screens, runs, warmup):
    script = target.scratch / "script.txt"
    script.write_text(window_script(screens), encoding="cp1252")
    window = {"OV_STANDIN_SCRIPT": target.path_text(script), "OV_STANDIN_MAX_CALLS": str(10 * screens + 100)}
    start = {"OV_STANDIN_MODE": "quiet", "OV_STANDIN_MAX_CALLS": "1"}
    return [measure(target, f"window test, {screens} screens", window, 0, runs, warmup),
            measure(target, "start to first command", start, 3, runs, warmup)]


def ensure_wine_prefix(prefix):
    """Makes the 32-bit prefix the Windows build runs in, once; returns why
    it cannot be made, or None."""
    if (prefix / "ov-prefix-ready").is_file():
        # The server that outlives each program, as the tests keep one.
        environment = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all")
        subprocess.run(["wineserver", "-p60"], env=environment, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        return None
    environment = dict(os.environ, OV_WINE_PREFIX=str(prefix))
    setup = subprocess.run([sys.executable, str(ROOT / "tests" / "integration" / "wine_prefix.py"), "setup",
                            "windows32"], env=environment, check=False)
    return None if setup.returncode == 0 else f"no Wine prefix (wine_prefix.py setup ended with {setup.returncode})"


def print_table(results):
    print(f"{'target':7} {'measurement':29} {'program':21} {'wall ms':>8} {'ratio':>6} {'cpu ms':>8} {'ratio':>6}")
    for result in results:
        for label, value in result["median_ms"].items():
            ratio = result["ratio"].get(label)
            cpu = result["median_cpu_ms"][label]
            cpu_ratio = result["cpu_ratio"].get(label)
            print(f"{result['target']:7} {result['measurement']:29} {label:21} {value:8.2f} "
                  f"{'' if ratio is None else f'{ratio:6.3f}':>6} {cpu:8.2f} "
                  f"{'' if cpu_ratio is None else f'{cpu_ratio:6.3f}':>6}")
    print("ratio: the launcher's median over the program's; medians of the timed runs of each")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native-build", type=Path, default=ROOT / "build" / "native",
                        help="the native build: ovtst552, OV553KRN.DLL, baseline_session (and baseline_win32.exe)")
    parser.add_argument("--windows-build", type=Path, default=ROOT / "build" / "windows",
                        help="the Windows build: OVTST552.EXE, OV553KRN.DLL")
    parser.add_argument("--wine-prefix", type=Path, default=ROOT / "build" / "bench-wine-prefix")
    parser.add_argument("--no-wine", action="store_true", help="the native measurements only")
    parser.add_argument("--screens", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=11, help="timed runs of each program (native)")
    parser.add_argument("--wine-runs", type=int, default=7, help="timed runs of each program under Wine")
    parser.add_argument("--settings-padding", type=int, default=0, metavar="BYTES",
                        help="other settings of about this many bytes in Orvane.ini, after the request")
    parser.add_argument("--json", type=Path, help="also write the figures here")
    parser.add_argument("--callgrind", action="store_true",
                        help="count instructions under valgrind's callgrind instead of timing (native only)")
    arguments = parser.parse_args()
    Target.padding = arguments.settings_padding

    if arguments.callgrind:
        build = arguments.native_build.resolve()
        null_engine = build / "null-engine" / ENGINE
        if not null_engine.is_file():
            raise SystemExit(f"no do-nothing engine at {null_engine}: build the target ovnullengine")
        results = []
        with tempfile.TemporaryDirectory(prefix="ovbench-") as scratch:
            for folder, engine in (("standin", None), ("null", null_engine)):
                directory = Path(scratch) / folder
                directory.mkdir()
                results.append(callgrind_target(NativeTarget(directory, build, engine), arguments.screens,
                                                null_engine=engine is not None))
        for result in results:
            print_instructions(result)
            print()
        if arguments.json:
            arguments.json.write_text(json.dumps(results, indent=2) + "\n")
        return 0

    results = []
    with tempfile.TemporaryDirectory(prefix="ovbench-") as scratch:
        native = Path(scratch) / "native"
        native.mkdir()
        results += run_target(NativeTarget(native, arguments.native_build.resolve()), arguments.screens,
                              arguments.runs, 1)
        if not arguments.no_wine:
            missing = [str(path) for path in (arguments.windows_build / "OVTST552.EXE",
                                              arguments.windows_build / ENGINE,
                                              arguments.native_build / "baseline_win32.exe") if not path.is_file()]
            prefix = arguments.wine_prefix.resolve()
            if shutil.which("wine") is None:
                reason = "no wine"
            elif missing:
                reason = f"missing {missing}"
            else:
                reason = ensure_wine_prefix(prefix)
            if reason:
                print(f"Wine measurements skipped: {reason}", file=sys.stderr)
            else:
                wine = Path(scratch) / "wine"
                wine.mkdir()
                target = WineTarget(wine, arguments.windows_build.resolve(),
                                    arguments.native_build.resolve() / "baseline_win32.exe", prefix)
                try:
                    # Wine's own processes (the desktop) settle over the first runs.
                    results += run_target(target, arguments.screens, arguments.wine_runs, 3)
                finally:
                    target.restore()
    print_table(results)
    if arguments.json:
        arguments.json.write_text(json.dumps(results, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
