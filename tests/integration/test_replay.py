"""ovrun replay end to end: the recorded sessions of tests/sessions replayed
(traces of both targets, in another folder than they were recorded in), a
trace edited to expect another command, damaged traces, and the settings
files of the Windows directory before and after, also after a time-out.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

import os
import re
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import harness

SESSIONS = Path(__file__).resolve().parents[1] / "sessions"
# Another program's sections, and a request of the editor's, around a replay.
SETTINGS_BEFORE = (b"[Autre]\r\nCLEF=valeur\r\n[TEST]\r\nCOMMANDE=EDITEUR\r\nREPCOURANT=C:\\ailleurs\r\n"
                   b"[OVTST552]\r\nTRACE=elsewhere.txt\r\n")
WIN_INI_BEFORE = b"[mail]\r\nmapi=1\r\n[Orvane55]\r\nLIGNEDECOMMANDE=old\r\n"
EDITED_FROM = b'\n"FENETRE" => kind=1 text="2"'
EDITED_TO = b'\n"FENETRES" => kind=1 text="2"'
# A command edited so that the divergence's texts hold the recorded directory.
OPENED_FROM = b'"OUVRE,/tmp/rec/proj/_OV_GO.OVW /RE"'
OPENED_TO = b'"OUVRE,/tmp/rec/proj/_OV_GO.OVW /RX"'
RUN_SEPARATOR = b"# ======== the next run ========\n"


class ReplayTest(harness.TargetTestCase):
    def setUp(self):
        super().setUp()
        self.target.write_file(harness.SETTINGS_FILE, SETTINGS_BEFORE)
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        self.windows_before = self.windows_files()

    def windows_files(self):
        return {entry.name: entry.read_bytes() for entry in self.target.windows_dir.iterdir() if entry.is_file()}

    def replay(self, *arguments, environment=None):
        return self.target.run_tool("ovrun", ["replay", *arguments], environment=environment, timeout=300)

    def path(self, path):
        return self.target.path_text(path)

    def edited_trace(self, folder=None, edit=(EDITED_FROM, EDITED_TO)):
        """window-error.txt expecting FENETRES where the launcher sends
        FENETRE (or with another edit); returns its folder and the number of
        the edited line."""
        folder = folder or self.target.scratch / "edited"
        folder.mkdir(exist_ok=True)
        recorded = (SESSIONS / "window-error.txt").read_bytes()
        self.assertIn(edit[0], recorded)
        (folder / "window-error.txt").write_bytes(recorded.replace(*edit))
        return folder, recorded[:recorded.index(edit[0])].count(b"\n") + 1 + edit[0].startswith(b"\n")

    def assert_windows_directory_unchanged(self):
        """Natively the replays never touch the user's Windows directory;
        under Wine they put its settings files back byte for byte."""
        after = self.windows_files()
        if self.target.name == "native":
            self.assertEqual(after, self.windows_before)
        else:
            for name in (harness.SETTINGS_FILE, "win.ini"):
                self.assertEqual(after.get(name), self.windows_before[name], name)

    def test_recorded_sessions_pass(self):
        junit = self.target.scratch / "sessions.xml"
        result = self.replay(self.path(SESSIONS), "--junit", self.path(junit))
        self.assertEqual(result.status, 0, result)
        names = sorted(path.name for path in SESSIONS.glob("*.txt"))
        self.assertEqual(result.stdout.decode().splitlines(),
                         [f"PASS {self.path(SESSIONS)}{self.target.separator}{name}" for name in names] +
                         [f"{len(names)} passed, 0 failed"])
        suite = ElementTree.parse(junit).getroot().find("testsuite")
        self.assertEqual((suite.get("tests"), suite.get("failures")), (str(len(names)), "0"))
        self.assert_windows_directory_unchanged()

    def test_edited_trace_fails_at_its_line_with_both_texts(self):
        folder, line = self.edited_trace()
        junit = self.target.scratch / "edited.xml"
        result = self.replay(self.path(folder), "--junit", self.path(junit))
        self.assertEqual(result.status, 1, result)
        message = f'line {line}: expected "FENETRES" => kind=1 text="2" got "FENETRE" =>'
        name = self.path(folder / "window-error.txt")
        self.assertEqual(result.stdout.decode("cp1252").splitlines(), [f"FAIL {name}: {message}", "0 passed, 1 failed"])
        cases = list(ElementTree.parse(junit).getroot().iter("testcase"))
        self.assertEqual([(case.get("name"), case.find("failure").get("message")) for case in cases], [(name, message)])
        self.assert_windows_directory_unchanged()

    def test_side_by_side_the_report_is_the_same(self):
        edited, _ = self.edited_trace()
        reports = [self.replay(self.path(SESSIONS), self.path(edited), "--jobs", jobs) for jobs in ("1", "2")]
        self.assertEqual([report.status for report in reports], [1, 1])
        self.assertEqual(reports[0].stdout, reports[1].stdout)

    def test_a_replay_ended_by_its_time_out_leaves_the_settings_as_they_were(self):
        # An engine without its entry points: under Wine the launcher's box
        # waits for a click until the time-out ends the run.
        engine = self.target.incomplete_engine
        self.assertTrue(engine is not None and engine.is_file(), engine)
        result = self.replay(self.path(SESSIONS / "window-error.txt"), "--standin", self.path(engine),
                             "--timeout", "3")
        self.assertEqual(result.status, 1, result)
        self.assertIn(b" got # entry point OVCALLC missing\n" if self.target.name == "native" else
                      b", the last line it reached\n", result.stdout)
        self.assert_windows_directory_unchanged()

    def test_damaged_traces_are_not_replayable(self):
        folder = self.target.scratch / "damaged"
        folder.mkdir()
        recorded = (SESSIONS / "window-error.txt").read_bytes()
        damaged = {
            "binary.txt": recorded[:500] + b"\0" + recorded[500:],
            "cut-in-header.txt": recorded[:250],
            "cut-run.txt": recorded[:recorded.index(b'"DFTOCS" =>') + 11],
            "huge.txt": recorded + b"#" * (33 << 20),
            "no-script.txt": recorded.replace(b'"FENETRE" => kind=1', b'"FENETRE" => kyy=1'),
            "opens-a-section.txt": recorded.replace(b'PARAM1=""', b'PARAM1="x\\x0D\\x0A[OVTST552]\\x0D\\x0ATRACE=/x"'),
        }
        for name, data in damaged.items():
            (folder / name).write_bytes(data)
        result = self.replay(self.path(folder))
        self.assertEqual(result.status, 1, result)
        lines = result.stdout.decode().splitlines()
        self.assertEqual(len(lines), len(damaged) + 1, lines)
        for line, reason in zip(lines, ("holds NUL bytes", "cut before its header ended", "never ended",
                                        "larger than 32 MiB", "the stand-in cannot read it as a script: \"line ",
                                        "PARAM1 holds a line break: refused")):
            self.assertRegex(line, r"^FAIL .*: not replayable: ")
            self.assertIn(reason, line)
        self.assertEqual(lines[-1], f"0 passed, {len(damaged)} failed")
        self.assert_windows_directory_unchanged()

    def test_wrong_usage_and_replays_that_cannot_run(self):
        """Each refused before any replay, with nothing on standard output."""
        missing = self.path(self.target.scratch / "missing")
        trace = self.path(SESSIONS / "window-error.txt")
        native = self.target.name == "native"
        # A library of the other target as the stand-in: a Windows DLL on Linux.
        other = [harness.native_build_dir() / harness.ENGINE_LIBRARY] if not native else [
            Path(flavour.build_dir()) / harness.ENGINE_LIBRARY for flavour in harness.FLAVOURS.values()]
        other = [library for library in other if library.is_file()]
        cases = [([], 2, b"replay needs a trace"), ([missing], 2, b"no trace or folder"),
                 ([trace, "--jobs", "0"], 2, b"--jobs takes"),
                 ([trace, "--launcher", missing], 3, b"no launcher at"),
                 ([trace, "--standin", missing], 3, b"no stand-in engine at"),
                 ([trace, "--launcher", trace], 3, b"the replays cannot run: the launcher "),
                 ([trace, "--junit", self.target.join_text(missing, "report.xml")], 2, b"cannot be written")]
        cases += [([trace, "--standin", self.path(library)], 3, b"cannot be loaded") for library in other[:1]]
        for arguments, status, message in cases:
            with self.subTest(arguments=arguments):
                result = self.replay(*arguments)
                self.assertEqual((result.status, result.stdout), (status, b""), result)
                self.assertIn(message, result.stderr)
        if native:
            result = self.replay(trace, environment={"TMPDIR": missing})
            self.assertEqual((result.status, result.stdout), (3, b""), result)
            self.assertIn(f"no scratch folder can be made in {missing} (TMPDIR)".encode(), result.stderr)
        self.assert_windows_directory_unchanged()

    def test_reports_of_a_folder_with_a_latin1_name(self):
        """Natively the folder's name holds the byte 0xE9, as a Latin-1
        system writes it; under Wine it is "é", which the ANSI code page
        holds. The failure's texts hold the recorded directory, which the
        replay moved into its scratch folder."""
        native = self.target.name == "native"
        name = os.fsdecode(b"traces caf\xe9") if native else "traces caf\xe9"
        folder = self.target.scratch / name
        folder.mkdir()
        for session in ("console.txt", "project-english.txt"):
            (folder / session).write_bytes((SESSIONS / session).read_bytes())
        _, line = self.edited_trace(folder, (OPENED_FROM, OPENED_TO))
        shown = self.target.join_text(self.path(self.target.scratch), "traces caf\\xE9" if native else name,
                                      "window-error.txt")
        message = ('expected "OUVRE,/tmp/rec/proj/_OV_GO.OVW /RX" => key="RET" '
                   'got "OUVRE,/tmp/rec/proj/_OV_GO.OVW /RE" =>')
        junit = self.target.scratch / "report.xml"
        reports = [self.replay(self.path(folder), "--jobs", jobs, "--junit", self.path(junit)) for jobs in ("1", "2")]
        self.assertEqual([report.status for report in reports], [1, 1], reports)
        self.assertEqual(reports[0].stdout, reports[1].stdout)
        text = reports[0].stdout.decode("utf-8")
        self.assertNotIn("ovrun-", text)
        self.assertIn(f"FAIL {shown}: line {line}: {message}\n", text)
        cases = list(ElementTree.parse(junit).getroot().iter("testcase"))
        self.assertEqual(len(cases), 3)
        self.assertEqual([(case.get("file"), case.get("line"), case.find("failure").text) for case in cases
                          if case.find("failure") is not None], [(shown, str(line), f"{shown}:{line}: {message}")])
        annotated = self.replay(self.path(folder), environment={"GITHUB_ACTIONS": "true"})
        self.assertIn(f"\n::error file={shown.replace(':', '%3A')},line={line},title=ovrun replay::{shown}:{line}: "
                      f"{message}\n".encode(), annotated.stdout)

    def test_folders_outside_the_code_page_and_past_max_path_are_found(self):
        """Under Wine, names that Windows-1252 cannot hold and a path past
        MAX_PATH (260) reach ovrun through the wide functions; its report is
        UTF-8."""
        outside = self.target.scratch / "следы"
        deep = self.target.scratch / ("L" * 150) / ("M" * 150)
        for folder in (outside, deep):
            folder.mkdir(parents=True)
            (folder / "console.txt").write_bytes((SESSIONS / "console.txt").read_bytes())
        result = self.replay(self.path(outside), self.path(deep))
        self.assertEqual(result.status, 0, result)
        self.assertEqual(result.stdout.decode("utf-8").splitlines(), [
            f"PASS {self.target.join_text(self.path(outside), 'console.txt')}",
            f"PASS {self.target.join_text(self.path(deep), 'console.txt')}", "2 passed, 0 failed"])

    def test_runs_after_the_first_are_told_at_their_lines_in_the_file(self):
        """A divergence and a script fault in the second run of a trace."""
        recorded = (SESSIONS / "window-error.txt").read_bytes()
        edited, line = self.edited_trace()
        folder = self.target.scratch / "runs"
        folder.mkdir()
        (folder / "diverges.txt").write_bytes(recorded + RUN_SEPARATOR + (edited / "window-error.txt").read_bytes())
        (folder / "faulty.txt").write_bytes(recorded + RUN_SEPARATOR + recorded.replace(EDITED_FROM, b"\nFENETRE => kyy=1"))
        in_second_run = recorded.count(b"\n") + 1 + line
        result = self.replay(self.path(folder))
        self.assertEqual(result.status, 1, result)
        self.assertEqual(result.stdout.decode().splitlines()[:2], [
            f'FAIL {self.path(folder / "diverges.txt")}: line {in_second_run}: expected "FENETRES" => kind=1 '
            'text="2" got "FENETRE" =>',
            f'FAIL {self.path(folder / "faulty.txt")}: not replayable: the stand-in cannot read it as a script: '
            f'"line {in_second_run}: unknown item kyy"'])

    def test_a_replay_past_its_time_out_says_so_and_where(self):
        engine = os.environ.get("OV_SILENT_ENGINE_NATIVE")
        if self.target.name != "native" or not engine:
            self.skipTest("the engine that never answers is built natively")
        recorded = (SESSIONS / "window-error.txt").read_bytes()
        command = recorded[:recorded.index(b'\n"ENVI,"*')].count(b"\n") + 2
        result = self.replay(self.path(SESSIONS / "window-error.txt"), "--standin", engine, "--timeout", "2")
        self.assertEqual(result.status, 1, result)
        self.assertIn(f": line {command}: timed out after 2 s, the last line it reached\n".encode(), result.stdout)

    def test_a_session_recorded_in_a_long_folder(self):
        """Its first command was too long to send. In a scratch folder of the
        recorded folder's length it still is, and the replay passes; where no
        such folder can be had, the trace is not replayable, and says why."""
        if self.target.name != "native":
            self.skipTest("recorded natively")
        project = self.target.scratch / ("a" * 100) / ("b" * 100)
        project = project / ("c" * (240 - len(str(project)) - 1))
        project.mkdir(parents=True)
        trace = self.target.scratch / "long.txt"
        recorded = self.target.run_tool("ovrun", ["window", str(project), "--trace", str(trace)])
        self.assertEqual(recorded.status, 0, recorded)
        self.assertRegex(trace.read_bytes(), rb"\n# a command of 261 characters, longer than 254, not sent\n")
        result = self.replay(str(trace))
        self.assertEqual((result.status, result.stdout.decode().splitlines()), (0, [f"PASS {trace}", "1 passed, 0 failed"]))
        deep = self.target.scratch / ("t" * 200)
        deep.mkdir()
        result = self.replay(str(trace), environment={"TMPDIR": str(deep)})
        self.assertEqual(result.status, 1, result)
        self.assertRegex(result.stdout, rb": not replayable here: line \d+: a command over the engine's 254 characters "
                         rb"was not sent, and no scratch folder of the recorded folders' lengths can be made here\n")


if __name__ == "__main__":
    harness.main()
