"""ovrun replay end to end: the recorded sessions of tests/sessions replayed
(traces of both targets, in another folder than they were recorded in), a
trace edited to expect another command, damaged traces, and the settings
files of the Windows directory before and after, also after a time-out.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

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


class ReplayTest(harness.TargetTestCase):
    def setUp(self):
        super().setUp()
        self.target.write_file(harness.SETTINGS_FILE, SETTINGS_BEFORE)
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        self.windows_before = self.windows_files()

    def windows_files(self):
        return {entry.name: entry.read_bytes() for entry in self.target.windows_dir.iterdir() if entry.is_file()}

    def replay(self, *arguments):
        return self.target.run_tool("ovrun", ["replay", *arguments], timeout=300)

    def path(self, path):
        return self.target.path_text(path)

    def edited_trace(self):
        """window-error.txt expecting FENETRES where the launcher sends
        FENETRE; returns its folder and the number of the edited line."""
        folder = self.target.scratch / "edited"
        folder.mkdir()
        recorded = (SESSIONS / "window-error.txt").read_bytes()
        self.assertIn(EDITED_FROM, recorded)
        (folder / "window-error.txt").write_bytes(recorded.replace(EDITED_FROM, EDITED_TO))
        return folder, recorded[:recorded.index(EDITED_FROM)].count(b"\n") + 2

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
        self.assertIn(b" got # entry point OVCALLC missing\n", result.stdout)
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
        missing = self.path(self.target.scratch / "missing")
        trace = self.path(SESSIONS / "window-error.txt")
        for arguments, status, message in (([], 2, b"replay needs a trace"), ([missing], 2, b"no trace or folder"),
                                           ([trace, "--jobs", "0"], 2, b"--jobs takes"),
                                           ([trace, "--launcher", missing], 3, b"no launcher at"),
                                           ([trace, "--standin", missing], 3, b"no stand-in engine at")):
            with self.subTest(arguments=arguments):
                result = self.replay(*arguments)
                self.assertEqual(result.status, status, result)
                self.assertIn(message, result.stderr)
        self.assert_windows_directory_unchanged()


if __name__ == "__main__":
    harness.main()
