"""Faults around the real native launcher and the stand-in engine: a settings
file or directory that cannot be written, a settings file that is missing,
empty, huge, holds NUL bytes or very long lines, or is removed or rewritten
by another process during the run, an engine library that is damaged or
refuses every start, and directories so long that commands exceed 254
characters. Whatever happens, the run ends with status 0, no command over
254 characters reaches the engine, and no setting is lost.

Native target only: it is about Linux files and permissions. As root (as in
CI) the runs that need a read-only file or directory drop the capabilities
that let root write anyway.
"""

import os
import subprocess
import tempfile
import time

import harness
import sessions

# As root, the launcher runs without its power over file permissions.
WITHOUT_OVERRIDE = ["setpriv", "--inh-caps=-dac_override,-dac_read_search",
                    "--bounding-set=-dac_override,-dac_read_search", "--"]

WRITE_FAILED_FRENCH = ("INFO,Impossible d'\xe9crire dans ORVANE.INI.\nFichier prot\xe9g\xe9 ou d\xe9passant 64Ko")
WRITE_FAILED_ENGLISH = "INFO,Can not be able to write to ORVANE.INI.\nFile protect or size exceed 64Ko"
TOO_LONG = "INFO,Commande trop longue pour le moteur ({} caract\xe8res, 254 au plus)."
MAX_COMMAND = 254

# A window test that the user leaves at once.
LEAVE_AT_ONCE = "ENVI,* =>\nOUVRE,* => key=ESC\n"
# The stand-alone console, left at its first pass.
CONSOLE_LEFT = ("ENVI,* =>\nBIBLI,* =>\nPROJ,* =>\nNATION,5 =>\nOuvre,* =>\nAFFI,* =>\nAffi,* =>\nAFFI,* =>\n"
                "ECRA,SAIS => key=ESC\nFERM =>\n")


def without_line(data, line):
    """data with its one line `line` (CRLF included) removed."""
    assert data.count(line) == 1, (line, data.count(line))
    return data.replace(line, b"", 1)


class FaultsTest(sessions.SessionTestCase):
    def setUp(self):
        super().setUp()
        self.addCleanup(self.restore_permissions)

    def restore_permissions(self):
        windows = self.target.windows_dir
        if windows.exists():
            windows.chmod(0o755)
            for entry in windows.iterdir():
                entry.chmod(0o644)

    def without_override(self):
        if os.geteuid() == 0:
            self.target.launch_prefix = WITHOUT_OVERRIDE

    def settings_path(self):
        return self.target.windows_dir / harness.SETTINGS_FILE

    def assert_commands_fit(self, session):
        for command in session.commands():
            self.assertLessEqual(len(command), MAX_COMMAND, command)

    def request_bytes(self, before=b"", after=b"", **keys):
        """A window-test request with bytes before and after section TEST."""
        values = {"LIGNEDECOMMANDE": "OVTST552.EXE /TEST", "COMMANDE": "EDITEUR",
                  "REPEXE": str(self.target.build_dir), "REPCOURANT": self.project_dir() + "/", "PARAM1": "",
                  "PARAM2": "F"}
        values.update(keys)
        return before + harness.settings_bytes({"TEST": values}) + after

    # -- A settings file or directory that cannot be written ---------------------

    def test_read_only_settings_file_is_told_in_the_users_language_and_the_run_goes_on(self):
        for language, message in (("FRENCH", WRITE_FAILED_FRENCH), ("US", WRITE_FAILED_ENGLISH)):
            with self.subTest(language=language):
                self.editor_request("F", language=language)
                self.settings_path().chmod(0o444)
                before = self.target.read_settings()
                self.without_override()
                session = self.run_session(LEAVE_AT_ONCE + "INFO,* =>\n")
                self.assert_clean(session)
                # The window test stops the engine; the failed delete of
                # COMMANDE at exit starts it again to tell the user.
                self.assertEqual(session.events()[2:], [
                    "OUVRE," + self.project_dir() + "/_OV_GO.OVW /RE", "stop", "start result=1", message])
                self.assertEqual(self.target.read_settings(), before)
                # The exit sequence went on: the published line is withdrawn.
                self.assertNotIn(b"LIGNEDECOMMANDE", self.target.read_win_ini() or b"")
                self.settings_path().chmod(0o644)

    def test_read_only_settings_file_loses_the_report_but_tells_each_write(self):
        self.editor_request("F")
        self.settings_path().chmod(0o444)
        before = self.target.read_settings()
        self.without_override()
        session = self.run_session(
            "ENVI,* =>\nOUVRE,* => key=*E*\nOUINON,* => text=\"O\"\nDFTOCS => text=\"5,FEN,OBJ.PRO,m\"\n" +
            "INFO,* =>\n" * 9)
        self.assert_clean(session)
        self.assertEqual(session.events()[3:], [
            harness.QUESTION_FRENCH, "DFTOCS", "stop", "start result=1", *[WRITE_FAILED_FRENCH] * 8,
            "stop", "start result=1", WRITE_FAILED_FRENCH])
        self.assertEqual(self.target.read_settings(), before)

    def test_read_only_directory_updates_a_writable_file_in_place(self):
        self.editor_request("F")
        self.target.write_file("win.ini", b"[mail]\r\nmapi=1\r\n")
        before = self.target.read_settings()
        self.target.windows_dir.chmod(0o555)
        self.without_override()
        session = self.run_session(LEAVE_AT_ONCE)
        self.assert_clean(session)
        self.assertNotIn(WRITE_FAILED_FRENCH, session.events())
        self.assertEqual(self.target.read_settings(), without_line(before, b"COMMANDE=EDITEUR\r\n"))
        self.assertEqual(self.target.read_win_ini(), b"[mail]\r\nmapi=1\r\n[Orvane55]\r\n")
        self.assertEqual(sorted(entry.name for entry in self.target.windows_dir.iterdir()),
                         [harness.SETTINGS_FILE, "win.ini"])

    def test_read_only_directory_and_file_are_told_and_left_alone(self):
        self.editor_request("F")
        before = self.target.read_settings()
        self.settings_path().chmod(0o444)
        self.target.windows_dir.chmod(0o555)
        self.without_override()
        session = self.run_session(LEAVE_AT_ONCE + "INFO,* =>\n")
        self.assert_clean(session)
        self.assertEqual(session.events()[-1], WRITE_FAILED_FRENCH)
        self.assertEqual(self.target.read_settings(), before)
        self.assertEqual([entry.name for entry in self.target.windows_dir.iterdir()], [harness.SETTINGS_FILE])

    def test_read_only_directory_without_settings_file_creates_nothing(self):
        # No request: the console runs; neither the settings file nor WIN.INI
        # can be made, and neither failure stops the run.
        self.target.windows_dir.chmod(0o555)
        self.without_override()
        session = self.run_session(CONSOLE_LEFT)
        self.assert_clean(session)
        self.assertEqual(list(self.target.windows_dir.iterdir()), [])

    # -- A settings file that is missing, empty, huge or odd ----------------------

    def test_missing_or_empty_settings_file_opens_the_stand_alone_console(self):
        for content in (None, b""):
            with self.subTest(content=content):
                self.target.remove_file(harness.SETTINGS_FILE)
                if content is not None:
                    self.target.write_file(harness.SETTINGS_FILE, content)
                session = self.run_session(CONSOLE_LEFT)
                self.assert_clean(session)
                folder = self.target.path_text(self.session_folder)
                self.assertEqual(session.events()[2], "BIBLI,DISQUE," + folder + "/ORVANE55.OVL")
                # Nothing to delete: a missing file is not created, an empty
                # one is not rewritten.
                self.assertEqual(self.target.read_settings(), content)

    def test_huge_settings_file_is_read_and_keeps_every_other_byte(self):
        filler = b"".join(b"[SECTION%d]\r\nKEY=%s\r\n; comment %d\r\n" % (i, b"v" * 60, i) for i in range(25000))
        data = self.request_bytes(before=filler, after=filler)
        self.assertGreater(len(data), 4 * 1024 * 1024)
        self.target.write_file(harness.SETTINGS_FILE, data)
        session = self.run_session(LEAVE_AT_ONCE)
        self.assert_clean(session)
        self.assertEqual(session.events()[2], "OUVRE," + self.project_dir() + "/_OV_GO.OVW /RE")
        self.assertEqual(self.target.read_settings(), without_line(data, b"COMMANDE=EDITEUR\r\n"))

    def test_nul_bytes_end_their_line_and_are_kept(self):
        # A NUL ends a name or a value; a ']' after it would still close the
        # header (as the real functions read "[TEST]\0[OTHER]": "TEST]").
        data = (b"\x00\x00junk\x00\r\n[TEST]\x00[OTHER\r\nPARAM1=P\x00never read\r\n"
                b"COMMANDE=EDITEUR\r\nREPCOURANT=" + self.project_dir().encode() + b"/\r\nPARAM2=F\x00\x00\r\n"
                b"NOMFEN=\x00x\r\n[Z]\r\n\x00")
        self.target.write_file(harness.SETTINGS_FILE, data)
        session = self.run_session("ENVI,* =>\nPROGRAMME,* => key=ESC\n")
        self.assert_clean(session)
        # PARAM1 reads "P": the window is run as a program.
        self.assertEqual(session.events()[2], "PROGRAMME," + self.project_dir() + "/_OV_GOP /RE")
        self.assertEqual(self.target.read_settings(), without_line(data, b"COMMANDE=EDITEUR\r\n"))

    def test_lines_of_100000_characters_are_cut_to_their_buffers(self):
        long_directory = "/" + "d" * 99999
        data = self.request_bytes(before=b";" + b"c" * 100000 + b"\r\n", LIGNEDECOMMANDE="x" * 100000,
                                  REPCOURANT=long_directory)
        self.target.write_file(harness.SETTINGS_FILE, data)
        session = self.run_session("ENVI,* =>\nINFO,* =>\nECRAN,SAISIE => key=ESC\n")
        self.assert_clean(session)
        self.assert_commands_fit(session)
        # REPCOURANT arrives cut to 259 characters: the window's command is
        # too long for the engine, and the user is told instead.
        refused = len("OUVRE," + long_directory[:259] + "/_OV_GO.OVW /RE")
        self.assertEqual(session.events()[2:], [TOO_LONG.format(refused), "ECRAN,SAISIE", "stop"])
        self.assertEqual(self.target.read_settings(), without_line(data, b"COMMANDE=EDITEUR\r\n"))

    # -- A settings file changed by another process during the run ------------------

    def run_interactive(self, steps):
        """Runs the launcher with the stand-in in interactive mode. steps is a
        list of (transcript prefix to wait for, action or None, answer line):
        once the engine has received that command, the action runs and the
        answer is typed. Returns (status, transcript lines)."""
        folder = self.target.stage_launcher(with_engine=True)
        transcript = self.target.scratch / "interactive-transcript.txt"
        environment = dict(os.environ, WINDIR=str(self.target.windows_dir), OV_STANDIN_MODE="interactive",
                           OV_STANDIN_TRANSCRIPT=str(transcript))
        environment.pop("OV_STANDIN_SCRIPT", None)
        argv = [*harness.valgrind_command(), str(folder / self.target.launcher_name)]
        timeout = harness.RUN_TIMEOUT_SECONDS * (harness.VALGRIND_SLOWDOWN if harness.valgrind_command() else 1)
        with tempfile.TemporaryFile() as errors:
            process = subprocess.Popen(argv, env=environment, cwd=folder, stdin=subprocess.PIPE,
                                       stdout=subprocess.DEVNULL, stderr=errors)
            try:
                for awaited, action, answer in steps:
                    self.wait_for(process, transcript, awaited, timeout)
                    if action is not None:
                        action()
                    process.stdin.write(answer + b"\n")
                    process.stdin.flush()
                process.stdin.close()
                status = process.wait(timeout=timeout)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
            errors.seek(0)
            self.assertEqual(status, 0, errors.read())
        return transcript.read_bytes().split(b"\n")

    def wait_for(self, process, transcript, prefix, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if transcript.exists() and any(line.startswith(prefix) for line in transcript.read_bytes().split(b"\n")):
                return
            self.assertIsNone(process.poll(), f"the launcher ended before the engine received {prefix!r}")
            time.sleep(0.02)
        self.fail(f"the engine did not receive {prefix!r} within {timeout} s")

    def test_settings_file_removed_during_the_run_is_not_made_again(self):
        self.editor_request("F")
        lines = self.run_interactive([(b'call "OUVRE,', lambda: self.target.remove_file(harness.SETTINGS_FILE),
                                       b"q")])
        self.assertIn(b"stop", lines)
        self.assertIsNone(self.target.read_settings())

    def test_settings_file_rewritten_during_the_run_keeps_the_new_content(self):
        self.editor_request("F")
        rewritten = (b"; the editor's next request\r\n[TEST]\r\nPARAM2=P\r\nCOMMANDE=EDITEUR\r\n"
                     b"REPCOURANT=/elsewhere/\r\n[OTHER]\r\nKEY=1\r\n")
        lines = self.run_interactive([(b'call "OUVRE,', lambda: self.target.write_file(harness.SETTINGS_FILE,
                                                                                       rewritten), b"q")])
        self.assertIn(b"stop", lines)
        self.assertEqual(self.target.read_settings(), without_line(rewritten, b"COMMANDE=EDITEUR\r\n"))

    def test_settings_file_removed_before_the_report_gets_the_report_alone(self):
        self.editor_request("F")
        self.run_interactive([
            (b'call "OUVRE,', None, b"e"),
            (b'call "OUINON,', lambda: self.target.remove_file(harness.SETTINGS_FILE), b"o"),
            (b'call "DFTOCS', None, b""),  # the stand-in's own description
        ])
        self.assertEqual(self.target.read_settings(), (
            b"[TEST]\r\nCR=*E*\r\nNLIGNE=12\r\nNCOL=0\r\nNOMPROC=BTN_OK.PRO\r\nMESSAGE=Division par z\xe9ro\r\n"
            b"NOMFEN=CLIENTS\r\nNOMOBJET=BTN_OK.PRO\r\nTYPEOBJET=1\r\n"))

    # -- An engine library that is damaged or refuses every start -------------------

    def test_truncated_engine_library_ends_the_run_with_its_box(self):
        self.editor_request("F")
        before = self.target.read_settings()
        damaged = self.target.scratch / "damaged.dll"
        damaged.write_bytes(self.target.engine_library.read_bytes()[:4096])
        session = self.run_session("", engine=damaged)
        self.assertEqual(session.status, 0, session.result)
        self.assertIn("ERROR: APPELOV: Init failed", session.result.stderr_lines())
        self.assertEqual(session.lines, [])
        self.assertEqual(self.target.read_settings(), before)

    def test_window_and_project_tests_end_when_every_start_is_refused(self):
        for mode, param1 in (("F", ""), ("F", "P"), ("P", "")):
            with self.subTest(mode=mode, param1=param1):
                self.editor_request(mode, param1=param1)
                session = self.run_session("@start => refuse\n" * 20)
                self.assertEqual(session.status, 0, session.result)
                self.assertEqual(session.commands(), [])
                self.assertEqual(session.faults(), [])
                # The exit sequence ran: the request key is gone.
                self.assertNotIn("COMMANDE", dict(self.settings_keys()))

    # -- Directories at their longest ---------------------------------------------

    def test_first_command_fits_up_to_its_longest_directory(self):
        cases = (
            ("", 233, "OUVRE,{}/_OV_GO.OVW /RE"), ("", 234, "OUVRE,{}/_OV_GO.OVW /RE"),
            ("P", 232, "PROGRAMME,{}/_OV_GOP /RE"), ("P", 233, "PROGRAMME,{}/_OV_GOP /RE"),
            ("", 259, "OUVRE,{}/_OV_GO.OVW /RE"), ("P", 400, "PROGRAMME,{}/_OV_GOP /RE"),
        )
        for param1, length, command in cases:
            with self.subTest(param1=param1, length=length):
                directory = "/" + "d" * (length - 1)
                self.editor_request("F", param1=param1, directory=directory)
                session = self.run_session("ENVI,* =>\n" + "* => key=ESC\n" * 3)
                self.assert_clean(session)
                self.assert_commands_fit(session)
                expected = command.format(directory[:259])
                sent = expected if len(expected) <= MAX_COMMAND else TOO_LONG.format(len(expected))
                self.assertEqual(session.events()[2], sent)

    def test_console_with_the_longest_directories_goes_on_without_its_library_command(self):
        for length in (228, 229, 259):
            with self.subTest(length=length):
                directory = "/" + "e" * (length - 1)
                self.editor_request("I", directory="/" + "c" * 258, extra={"TEST": {"REPEXE": directory}})
                session = self.run_session(CONSOLE_LEFT.replace("BIBLI,* =>", "* =>"))
                self.assert_clean(session)
                self.assert_commands_fit(session)
                # The library's path is held in 264 bytes before it is sent.
                library = "BIBLI,DISQUE," + (directory + "/ORVANE55.OVL")[:263]
                sent = library if len(library) <= MAX_COMMAND else TOO_LONG.format(len(library))
                self.assertEqual(session.events()[2:4], [sent, "PROJ,TITRE.OVP"])

    def test_launcher_deep_in_the_tree_still_runs_its_console(self):
        # The launcher's own path is longer than the 260-byte buffer that
        # receives it: the directory found is cut, and the console goes on.
        deep = self.target.scratch
        for part in range(6):
            deep = deep / ("p%d" % part + "q" * 50)
        deep.mkdir(parents=True)
        self.target.remove_file(harness.SETTINGS_FILE)
        folder = self.target.stage_launcher(with_engine=True)
        for name in (self.target.launcher_name, harness.ENGINE_LIBRARY):
            (deep / name).write_bytes((folder / name).read_bytes())
            (deep / name).chmod(0o755)
        script = self.target.scratch / sessions.SCRIPT_NAME
        script.write_bytes(CONSOLE_LEFT.replace("BIBLI,* =>", "* =>").encode())
        transcript = self.target.scratch / sessions.TRANSCRIPT_NAME
        result = self.target.run_launcher(deep, environment={"OV_STANDIN_SCRIPT": str(script),
                                                              "OV_STANDIN_TRANSCRIPT": str(transcript)})
        session = sessions.Session(result, transcript.read_bytes())
        self.assert_clean(session)
        self.assert_commands_fit(session)
        self.assertGreater(len(str(deep / self.target.launcher_name)), 260)
        self.assertEqual(session.events()[-2:], ["FERM", "stop"])


if __name__ == "__main__":
    harness.main(needs=("native",))
