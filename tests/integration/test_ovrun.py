"""ovrun end to end: it writes the request as the editor does, starts the
launcher beside it (the stand-in engine scripted), and prints the error
report the launcher leaves: a compiler-style line, or JSON that gives every
key's bytes back.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

import json
import os
import shutil
import stat
import subprocess
import time
from pathlib import Path

import harness
import sessions

REPORT_KEYS = ["CR", "NLIGNE", "NCOL", "NOMPROC", "MESSAGE", "NOMFEN", "NOMOBJET", "TYPEOBJET"]
REQUEST_KEYS = ["LIGNEDECOMMANDE", "REPEXE", "REPCOURANT", "PARAM1", "PARAM2"]

# The five bytes Windows-1252 leaves unassigned stand for the C1 controls of
# the same value; Python's codec refuses them.
UNASSIGNED = {0x81, 0x8D, 0x8F, 0x90, 0x9D}

FAILING_WINDOW = (
    "ENVI,* =>\n"
    "OUVRE,* => key=RET\n"
    "ECRAN,SAISIE => key=*E*\n"
    "OUINON,* => text=\"O\"\n"
    "DFTOCS => pointer=\"12,clients,BTN_OK.PRO,  Division\\r\\npar z\\xE9ro\\n \"\n")


def windows_1252(text, stored_line_feeds):
    """The settings bytes that a JSON value of ovrun stands for."""
    out = bytearray()
    for character in text:
        if stored_line_feeds and character == "\n":
            out.append(0xF5)
        elif ord(character) in UNASSIGNED:
            out.append(ord(character))
        else:
            out += character.encode("cp1252")
    return bytes(out)


class OvrunTest(sessions.SessionTestCase):
    def setUp(self):
        super().setUp()
        missing = self.target.missing_programs(self.target.tool("ovrun"))
        if missing:
            self.fail(f"ovrun is not built: {', '.join(missing)}")

    # -- Helpers ---------------------------------------------------------------

    def ovrun_name(self):
        return "ovrun" + self.target.tool_suffix

    def stage(self, launcher=True, engine=True, folder=None):
        """A folder holding ovrun, and the launcher and the stand-in beside it."""
        if folder is None:
            folder = self.target.stage_launcher(with_engine=engine)
        else:
            folder.mkdir(parents=True, exist_ok=True)
            if launcher:
                shutil.copy2(self.target.launcher, folder / self.target.launcher_name)
            if engine:
                shutil.copy2(self.target.engine_library, folder / harness.ENGINE_LIBRARY)
        if not launcher:
            (folder / self.target.launcher_name).unlink(missing_ok=True)
        shutil.copy2(self.target.tool("ovrun"), folder / self.ovrun_name())
        return folder

    def ovrun(self, arguments, script="", folder=None, cwd=None, environment=None, stdin=subprocess.DEVNULL):
        """Runs ovrun staged in folder (a fresh one by default) with the
        stand-in following script (None: no script), and environment added
        to (None values: removed from) the test's. Returns the result and
        the session."""
        if folder is None:
            folder = self.stage()
        script_path = self.target.scratch / sessions.SCRIPT_NAME
        transcript_path = self.target.scratch / sessions.TRANSCRIPT_NAME
        transcript_path.unlink(missing_ok=True)
        variables = {"OV_STANDIN_SCRIPT": None, "OV_STANDIN_MODE": None, "OV_STANDIN_STRICT": None,
                     "OV_STANDIN_TRANSCRIPT": self.target.path_text(transcript_path)}
        if script is not None:
            script_path.write_bytes(script.encode("cp1252"))
            variables["OV_STANDIN_SCRIPT"] = self.target.path_text(script_path)
        variables.update(environment or {})
        program = folder / self.ovrun_name()
        if self.target.name == "windows":
            argv = [self.target.wine, self.target.path_text(program), *arguments]
        else:
            argv = [str(program), *arguments]
        result = self.target._run(argv, self.target._environment(variables), str(cwd or self.target.scratch),
                                  harness.RUN_TIMEOUT_SECONDS, stdin)
        transcript = transcript_path.read_bytes() if transcript_path.exists() else b""
        return result, sessions.Session(result, transcript)

    def project_folder(self):
        folder = self.target.scratch / "project"
        folder.mkdir(exist_ok=True)
        return folder

    def window_command(self):
        return "OUVRE," + self.project_dir() + self.target.separator + "_OV_GO.OVW /RE"

    def program_command(self):
        return "PROGRAMME," + self.project_dir() + self.target.separator + "_OV_GOP /RE"

    def assert_status(self, result, status):
        self.assertEqual(result.status, status, result)

    # -- A failing test, a clean one ---------------------------------------------

    def test_failing_window_prints_one_compiler_style_line(self):
        folder = self.stage()
        result, session = self.ovrun(["window", self.project_dir()], FAILING_WINDOW, folder=folder)
        self.assert_status(result, 1)
        self.assertEqual(result.stdout.decode("utf-8"),
                         "BTN_OK.PRO:12:0: error: Division \npar z\xe9ro\n [window CLIENTS, type 1]\n")
        self.assertEqual(result.stderr, b"", result)
        self.assertEqual(session.faults(), [])
        self.assertEqual(session.events()[2:], [self.window_command(), "ECRAN,SAISIE",
                                                harness.QUESTION_FRENCH,
                                                "DFTOCS", "stop"])
        keys = self.settings_keys()
        self.assertEqual([key for key, _ in keys], REQUEST_KEYS + REPORT_KEYS)
        launcher = self.target.path_text(folder / self.target.launcher_name)
        self.assertEqual({key: value for key, value in keys if key in REQUEST_KEYS}, {
            "LIGNEDECOMMANDE": launcher.encode("cp1252"),
            "REPEXE": self.target.path_text(folder).encode("cp1252"),
            "REPCOURANT": self.project_dir().encode("cp1252"),
            "PARAM1": b"", "PARAM2": b"F"})

    def test_window_as_program_and_project_need_no_report(self):
        for arguments, command, param1, param2 in (
                (["window", "project", "--program"], self.program_command, b"P", b"F"),
                (["project", "project"], self.program_command, b"P", b"P")):
            with self.subTest(arguments=arguments):
                # A relative directory is taken from ovrun's current directory.
                self.project_folder()
                result, session = self.ovrun(arguments, "ENVI,* =>\nPROGRAMME,* => key=ESC\n")
                self.assert_status(result, 0)
                self.assertEqual((result.stdout, result.stderr), (b"", b""))
                self.assertEqual(session.events()[2:], [command(), "stop"])
                keys = dict(self.settings_keys())
                self.assertEqual((keys["PARAM1"], keys["PARAM2"]), (param1, param2))
                self.assertNotIn("COMMANDE", keys)

    def test_clean_run_removes_the_earlier_report_and_prints_nothing(self):
        self.target.write_request({
            "Orvane55": {"LANGUAGE": "US"},
            "TEST": {"PARAM1": "P", "CR": "*E*", "NLIGNE": "3", "NCOL": "0", "NOMPROC": "OLD.PRO",
                     "MESSAGE": "old", "NOMFEN": "OLD", "NOMOBJET": "OLD.PRO", "TYPEOBJET": "1"},
        })
        result, session = self.ovrun(["window", self.project_dir()],
                                     "ENVI,* =>\nOUVRE,* => key=RET\nECRAN,SAISIE => key=ESC\n")
        self.assert_status(result, 0)
        self.assertEqual((result.stdout, result.stderr), (b"", b""))
        # PARAM1 is written empty, not left at the earlier "P": the window opens.
        self.assertEqual(session.events()[2:], [self.window_command(), "ECRAN,SAISIE", "stop"])
        self.assertEqual([key for key, _ in self.settings_keys()], ["PARAM1", "LIGNEDECOMMANDE", "REPEXE",
                                                                    "REPCOURANT", "PARAM2"])
        self.assertEqual(self.settings_keys("Orvane55"), [("LANGUAGE", b"US")])

    def test_no_answer_leaves_no_report(self):
        result, _ = self.ovrun(["window", self.project_dir()],
                               "ENVI,* =>\nOUVRE,* => key=*E*\nOUINON,* => text=\"N\"\n")
        self.assert_status(result, 0)
        self.assertEqual(result.stdout, b"")

    def test_console_in_the_current_directory_with_another_program_directory(self):
        product = self.target.scratch / "product"
        product.mkdir()
        project = self.project_folder()
        result, session = self.ovrun(
            ["console", "--exe-dir", self.target.path_text(product)],
            "ENVI,* =>\nBIBLI,DISQUE,* =>\nPROJ,* =>\nNATION,* =>\nOuvre,* =>\nAFFI,* =>\nAffi,* =>\nAFFI,* =>\n"
            "ECRA,SAIS => key=*E*\nOUINON,* => text=\"O\"\nDFTOCS => text=\"3,<MAIN>,m\"\n", cwd=project)
        self.assert_status(result, 1)
        self.assertEqual(result.stdout, b"<MAIN>:3:0: error: m [window <MAIN>, type 2]\n")
        self.assertIn("BIBLI,DISQUE," + self.target.path_text(product) + self.target.separator + "ORVANE55.OVL",
                      session.events())
        keys = dict(self.settings_keys())
        self.assertEqual(keys["REPCOURANT"], self.project_dir().encode("cp1252"))
        self.assertEqual((keys["PARAM1"], keys["PARAM2"]), (b"", b"I"))

    # -- JSON ----------------------------------------------------------------------

    def test_json_gives_back_every_key_byte_for_byte(self):
        # Quotes, a backslash, high bytes (0xF5 among them) in the window name;
        # line breaks, the unassigned bytes and a tab in the message.
        result, _ = self.ovrun(
            ["window", self.project_dir(), "--json"],
            "ENVI,* =>\nOUVRE,* => key=*E*\nOUINON,* => text=\"O\"\n"
            "DFTOCS => pointer=\"40000,f\\\"\\\\n\\xF5\\x80\\xE9\\xFF,A.ENT,l1\\nl2\\t\\x81\\x8D\\x8F\\x90\\x9D\\xF5\\n\"\n")
        self.assert_status(result, 1)
        self.assertEqual(result.stdout.count(b"\n"), 1, result)
        report = json.loads(result.stdout.decode("utf-8"))
        self.assertEqual(list(report), REPORT_KEYS)
        stored = dict(self.settings_keys())
        # The file holds 0xF5 both as a letter (NOMFEN) and as a line feed (MESSAGE).
        self.assertIn(b"\xf5", stored["NOMFEN"])
        self.assertEqual(stored["MESSAGE"], b"l1\xf5l2\t\x81\x8d\x8f\x90\x9d\xf5\xf5")
        for key in REPORT_KEYS:
            self.assertEqual(windows_1252(report[key], key == "MESSAGE"), stored[key], key)
        self.assertEqual(report["NOMFEN"], 'f"\\n\xf5\u20ac\xe9\xff')
        self.assertEqual(report["MESSAGE"], "l1\nl2\t\x81\x8d\x8f\x90\x9d\n\n")
        self.assertEqual(report["NLIGNE"], "-25536")

    def test_json_without_an_error_has_every_key_empty(self):
        result, _ = self.ovrun(["project", self.project_dir(), "--json"], "ENVI,* =>\nPROGRAMME,* => key=ESC\n")
        self.assert_status(result, 0)
        self.assertEqual(json.loads(result.stdout), {key: "" for key in REPORT_KEYS})

    def test_json_alone_from_the_unscripted_stand_in_with_no_console(self):
        # Input from the null device, output to a file: nobody is at a
        # console, so the stand-in answers quietly and writes nothing.
        result, session = self.ovrun(["window", self.project_dir(), "--json"], None)
        self.assert_status(result, 0)
        self.assertEqual(result.stdout.count(b"\n"), 1, result)
        self.assertEqual(json.loads(result.stdout.decode("utf-8")), {key: "" for key in REPORT_KEYS})
        self.assertEqual(result.stderr, b"", result)
        self.assertEqual(session.events()[2:], [self.window_command(), "stop"])

    def test_trace_is_set_for_the_run_and_the_section_left_as_it_was(self):
        def trace_section():
            data = self.target.read_settings() or b""
            start = data.find(b"[OVTST552]")
            if start < 0:
                return None
            end = data.find(b"\r\n[", start)
            return data[start:] if end < 0 else data[start:end + 2]

        # No section before; one with another trace and a key of its own;
        # one that holds a comment alone; a trace longer than a read buffer;
        # a trace in quotes, which the reads take off.
        long_trace = "C:\\" + "t" * 4997
        for before in ("", "[OVTST552]\r\nTRACE=elsewhere.txt\r\nKEEP=1\r\n",
                       "[OVTST552]\r\n; the editor's own note\r\n[Autre]\r\nCLEF=1\r\n",
                       f"[OVTST552]\r\nTRACE={long_trace}\r\n", "[OVTST552]\r\nTRACE=\"C:\\a b.txt\"\r\n"):
            with self.subTest(before=before[:40]):
                self.target.write_file(harness.SETTINGS_FILE, before.encode())
                section = trace_section()
                result, _ = self.ovrun(["window", self.project_dir(), "--trace", "run.trace"], FAILING_WINDOW)
                self.assert_status(result, 1)
                # A relative name is taken in ovrun's current directory.
                trace = (self.target.scratch / "run.trace").read_bytes()
                self.assertIn(b'\n"DFTOCS" => kind=5 text="" pointer="12,clients,BTN_OK.PRO,', trace)
                self.assertEqual(trace_section(), section)
                (self.target.scratch / "run.trace").unlink()

    # -- The launcher ovrun starts ---------------------------------------------------

    def test_named_launcher_in_a_folder_with_a_blank(self):
        tools = self.stage(launcher=False, engine=False, folder=self.target.scratch / "tools")
        runs = self.stage(folder=self.target.scratch / "run here")
        launcher = self.target.path_text(runs / self.target.launcher_name)
        result, session = self.ovrun(["window", self.project_dir(), "--launcher", launcher], FAILING_WINDOW,
                                     folder=tools)
        self.assert_status(result, 1)
        self.assertEqual(session.events()[2], self.window_command())
        keys = dict(self.settings_keys())
        # The command line as started, quoted for its blank.
        self.assertEqual(keys["LIGNEDECOMMANDE"], b'"' + launcher.encode("cp1252") + b'"')
        self.assertEqual(keys["REPEXE"], self.target.path_text(runs).encode("cp1252"))

    def test_a_file_that_is_no_program_cannot_be_started(self):
        folder = self.stage(launcher=False)
        not_a_program = folder / self.target.launcher_name
        not_a_program.write_bytes(b"this is no program\n")
        result, session = self.ovrun(["window", self.project_dir()], FAILING_WINDOW, folder=folder)
        self.assert_status(result, 2)
        self.assertIn(b"cannot start the launcher", result.stderr)
        self.assertEqual(session.lines, [])
        # The request is disarmed: a later start of the launcher alone finds no COMMANDE.
        self.assertNotIn("COMMANDE", dict(self.settings_keys()))

    def test_launcher_that_cannot_load_its_engine(self):
        if self.target.name == "windows":
            self.skipTest("the engine's message box under Wine waits for an answer nobody gives")
        result, _ = self.ovrun(["window", self.project_dir()], "", folder=self.stage(engine=False))
        self.assert_status(result, 3)
        self.assertIn(b"did not carry out the request: it ended without taking COMMANDE back", result.stderr)
        self.assertEqual(result.stdout, b"")
        self.assertNotIn("COMMANDE", dict(self.settings_keys()))

    def test_launcher_that_fails_is_not_a_success(self):
        if self.target.name == "windows":
            self.skipTest("a shell script stands in for a failing launcher on Linux only")
        folder = self.stage(launcher=False)
        failing = folder / self.target.launcher_name
        for script, message in (("exit 5", b"ovrun: the launcher ended with status 5\n"),
                                ("kill -KILL $$", b"ovrun: the launcher was ended by signal 9\n")):
            with self.subTest(script=script):
                failing.write_text(f"#!/bin/sh\n{script}\n")
                failing.chmod(failing.stat().st_mode | stat.S_IXUSR)
                result, _ = self.ovrun(["window", self.project_dir()], "", folder=folder)
                self.assert_status(result, 3)
                # What happened, and no guess at the engine beside it.
                self.assertEqual(result.stderr, message)
                # It never read the request: ovrun takes COMMANDE back.
                self.assertNotIn("COMMANDE", dict(self.settings_keys()))

    def test_script_that_goes_off_track_is_told_and_strict_ends_the_run(self):
        script = "ENVI,* =>\nOUVRE,* => key=RET\nFENETRE => kind=1 text=\"0\"\n"
        told = 'OV553KRN stand-in: mismatch line=3 expected="FENETRE" at call "ECRAN,SAISIE"'
        result, _ = self.ovrun(["window", self.project_dir()], script)
        self.assert_status(result, 0)
        if self.target.name == "native":
            self.assertIn(told, result.stderr_lines())
        result, session = self.ovrun(["window", self.project_dir()], script, environment={"OV_STANDIN_STRICT": "1"})
        self.assert_status(result, 3)
        self.assertIn("ovrun: the launcher ended with status 4", result.stderr_lines())
        self.assertEqual([line for line in session.lines if line][-1], b"strict exit=4")
        self.assertNotIn("COMMANDE", dict(self.settings_keys()))
        # The stand-in's call limit, reached, is named.
        result, session = self.ovrun(["window", self.project_dir()], script, environment={"OV_STANDIN_MAX_CALLS": "2"})
        self.assert_status(result, 3)
        self.assertEqual([line for line in session.lines if line][-1], b"limit calls=2 exit=3")
        self.assertIn("ovrun: the launcher ended with status 3, as the stand-in engine ends a run that reaches its "
                      "call limit (OV_STANDIN_MAX_CALLS)", result.stderr_lines())

    def test_timeout_ends_a_launcher_that_waits_for_ever(self):
        if self.target.name == "windows":
            # The box saying the engine cannot be loaded waits for a click.
            folder, script, environment, stdin = self.stage(engine=False), "", {}, subprocess.DEVNULL
            # Wine's own start and end of ovrun.exe, measured on a run that
            # does nothing, are no part of the limit.
            started = time.monotonic()
            self.assert_status(self.target.run_tool("ovrun", ["--help"]), 0)
            slack = time.monotonic() - started + 1.5
        else:
            # The interactive stand-in waits for a key on a pipe that no one writes to.
            folder, script, environment = self.stage(), None, {"OV_STANDIN_MODE": "interactive"}
            stdin, writer = os.pipe()
            self.addCleanup(os.close, stdin)
            self.addCleanup(os.close, writer)
            # Room for a sanitizer build on a busy machine.
            slack = 3
        started = time.monotonic()
        result, session = self.ovrun(["window", self.project_dir(), "--timeout", "2"], script, folder=folder,
                                     environment=environment, stdin=stdin)
        elapsed = time.monotonic() - started
        self.assert_status(result, 3)
        self.assertEqual(result.stderr_lines(),
                         ["ovrun: timed out after 2 s: the launcher was still running and has been ended"])
        self.assertGreaterEqual(elapsed, 2)
        self.assertLess(elapsed, 2 + slack)
        self.assertNotIn("COMMANDE", dict(self.settings_keys()))
        # The command line was published while the test ran, and no longer.
        self.assertNotIn(b"LIGNEDECOMMANDE", self.target.read_win_ini() or b"")
        if self.target.name == "native":
            self.assertEqual(session.events()[-1], self.window_command())

    # -- Bad input -------------------------------------------------------------------

    def assert_refused(self, result, session, message):
        self.assert_status(result, 2)
        self.assertEqual(result.stdout, b"")
        self.assertIn(message, result.stderr)
        self.assertEqual(session.lines, [], "the launcher must not run")

    def test_wrong_usage(self):
        for arguments in ([], ["window"], ["project", "--json"], ["windows", "x"], ["project", "x", "--program"],
                          ["window", "x", "--bogus"], ["window", "x", "y"], ["console", "--launcher"]):
            with self.subTest(arguments=arguments):
                result, session = self.ovrun(arguments, FAILING_WINDOW)
                self.assert_refused(result, session, b"usage: ovrun")
                self.assertRegex(result.stderr, rb"^ovrun: \S.*\r?\nusage: ovrun", "what was wrong comes first")
                self.assertIsNone(self.target.read_settings())

    def test_missing_directory_or_launcher_writes_nothing(self):
        missing = self.target.path_text(self.target.scratch / "no-such-project")
        self.project_folder()
        for arguments, folder, message in (
                (["window", missing], None, b"is not a directory"),
                (["console", missing], None, b"is not a directory"),
                (["project", "project", "--exe-dir", missing], None, b"is not a directory"),
                (["window", "project"], self.stage(launcher=False), b"no launcher beside ovrun"),
                (["window", "project", "--launcher", missing], None, b"no launcher at"),
                (["window", "project", "--launcher", self.project_dir()], None, b"no launcher at"),
                (["window", "project", "--trace", self.target.join_text(missing, "t.txt")], None,
                 b"cannot create or append to the trace file")):
            with self.subTest(arguments=arguments):
                result, session = self.ovrun(arguments, FAILING_WINDOW, folder=folder)
                self.assert_refused(result, session, message)
                self.assertIsNone(self.target.read_settings())

    def test_a_folder_outside_the_launchers_code_page_is_named_and_refused(self):
        """Under Wine the launcher reads its settings in Windows-1252, where
        "следы" has no characters: ovrun says so, rather than that the folder
        is not there. Natively the launcher takes the bytes as they are."""
        project = self.target.scratch / "следы"
        project.mkdir()
        result, session = self.ovrun(["window", self.target.path_text(project)], FAILING_WINDOW)
        if self.target.name == "native":
            self.assert_status(result, 1)
            return
        self.assert_refused(result, session, "the test directory '{}' holds characters outside the code page the "
                            "launcher reads its settings in".format(self.target.path_text(project)).encode())

    def test_windir_set_but_empty_or_missing_is_refused(self):
        if self.target.name == "windows":
            self.skipTest("WINDIR names the Windows directory on Linux only")
        home = self.target.scratch / "home"
        result, session = self.ovrun(["window", self.project_dir()], FAILING_WINDOW,
                                     environment={"WINDIR": "", "HOME": str(home), "XDG_CONFIG_HOME": None})
        self.assert_refused(result, session, b"WINDIR is set but empty")
        self.assertIn(str(home / ".config" / "orvane").encode(), result.stderr)
        self.assertFalse(home.exists())
        # A mistyped one: the launcher would create it and find no request there.
        mistyped = self.target.scratch / "no-such-windir"
        result, session = self.ovrun(["window", self.project_dir()], FAILING_WINDOW,
                                     environment={"WINDIR": str(mistyped)})
        self.assert_refused(result, session, b"WINDIR names no directory (" + str(mistyped).encode() + b")")
        self.assertFalse(mistyped.exists())

    def test_relative_windir_never_puts_settings_under_the_test_folder(self):
        if self.target.name == "windows":
            self.skipTest("WINDIR names the Windows directory on Linux only")
        # Taken in the directory a program starts in; the launcher moves into
        # the test's folder, and must not follow WINDIR from there.
        project = self.project_folder()
        console_script = ("ENVI,* =>\nBIBLI,DISQUE,* =>\nPROJ,* =>\nNATION,* =>\nOuvre,* =>\nAFFI,* =>\n"
                          "Affi,* =>\nAFFI,* =>\nECRA,SAIS => key=*E*\nOUINON,* => text=\"O\"\n"
                          "DFTOCS => text=\"3,<MAIN>,m\"\n")
        for arguments, script, line in (
                (["window", self.project_dir()], FAILING_WINDOW, b"BTN_OK.PRO:12:0: error: "),
                (["console", self.project_dir()], console_script, b"<MAIN>:3:0: error: m [window <MAIN>, type 2]\n")):
            with self.subTest(arguments=arguments):
                self.target.remove_file(harness.SETTINGS_FILE)
                result, session = self.ovrun(arguments, script, environment={"WINDIR": "windows"})
                self.assert_status(result, 1)
                self.assertTrue(result.stdout.startswith(line), result)
                self.assertEqual(session.faults(), [])
                keys = dict(self.settings_keys())
                self.assertEqual(keys["REPCOURANT"], self.project_dir().encode("cp1252"))
                self.assertNotIn("COMMANDE", keys)
                self.assertEqual(list(project.rglob("*")), [], "settings under the test folder")
        with self.subTest("the launcher alone, as an editor starts it"):
            # Started in its own folder beside the Windows directory; the test's
            # folder is one level deeper, so that ../windows from there is
            # another folder, inside the test's.
            deeper = project / "deeper"
            deeper.mkdir()
            self.editor_request("F", directory=self.target.path_text(deeper))
            session = self.run_session(FAILING_WINDOW, environment={"WINDIR": "../windows"})
            self.assert_clean(session)
            keys = dict(self.settings_keys())
            self.assertEqual(keys["CR"], b"*E*")
            self.assertNotIn("COMMANDE", keys)
            self.assertEqual(list(project.rglob("*")), [deeper], "settings under the test folder")
        with self.subTest("a launcher of another build gets it made absolute"):
            seen = self.target.scratch / "windir-seen"
            other = self.target.scratch / "other-launcher"
            other.write_text(f"#!/bin/sh\nprintf %s \"$WINDIR\" > '{seen}'\n")
            other.chmod(0o755)
            result, _ = self.ovrun(["window", self.project_dir(), "--launcher", str(other)], None,
                                   environment={"WINDIR": "windows"})
            self.assert_status(result, 3)  # it took no COMMANDE back
            self.assertEqual(seen.read_text(), str(self.target.windows_dir))

    def test_settings_file_that_cannot_be_written(self):
        # A folder where the settings file should be: no write can succeed,
        # whoever runs the test.
        (self.target.windows_dir / harness.SETTINGS_FILE).mkdir()
        try:
            result, session = self.ovrun(["window", self.project_dir()], FAILING_WINDOW)
            self.assert_refused(result, session, b"cannot write the settings file")
        finally:
            (self.target.windows_dir / harness.SETTINGS_FILE).rmdir()


if __name__ == "__main__":
    harness.main()
