"""The real launcher with no engine library to load.

The first command loads the engine; when the library cannot be loaded the
launcher shows one message box and ends inside that command with status 0.
None of its exit sequence runs: the request stays in Orvane.ini and the
command line stays published in WIN.INI.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

import os
from pathlib import Path

import harness

ENGINE_MISSING_BOX = "ERROR: APPELOV: Init failed"
PRODUCT_SECTION = "Orvane55"

# win.ini as the test leaves it before the run, on both targets.
WIN_INI_BEFORE = b"[mail]\r\nmapi=1\r\n"


def published(command_line):
    """win.ini after the launcher published command_line into WIN_INI_BEFORE."""
    return WIN_INI_BEFORE + b"[Orvane55]\r\nLIGNEDECOMMANDE=" + command_line + b"\r\n"


class NoEngineTest(harness.TargetTestCase):
    def run_without_engine(self, environment=None):
        folder = self.target.stage_launcher(with_engine=False)
        result = self.target.run_launcher(folder, environment=environment)
        self.assertEqual(result.status, 0, result)
        return result

    def assert_one_engine_box(self, result):
        lines = result.stderr_lines()
        self.assertIn(ENGINE_MISSING_BOX, lines, result)
        self.assertEqual(sum("APPELOV" in line for line in lines), 1, result)

    def test_editor_request_ends_inside_the_first_command(self):
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        request = self.target.write_request({
            "TEST": {
                "LIGNEDECOMMANDE": "OVTST552.EXE /TEST",
                "COMMANDE": "EDITEUR",
                "REPEXE": self.target.path_text(self.target.scratch),
                "REPCOURANT": self.target.path_text(self.target.scratch) + self.target.separator,
                "PARAM1": "F",
                "PARAM2": "F",
            },
        })
        result = self.run_without_engine()
        self.assert_one_engine_box(result)
        # Only reads touched the settings file: COMMANDE and the rest are still there.
        self.assertEqual(self.target.read_settings(), request)
        self.assertEqual(self.target.read_win_ini(), published(b"OVTST552.EXE /TEST"))

    def test_english_setting_gives_the_same_box(self):
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        request = self.target.write_request({
            "Orvane55": {"LANGUAGE": "US"},
            "TEST": {"LIGNEDECOMMANDE": "x", "COMMANDE": "EDITEUR", "PARAM2": "I"},
        })
        result = self.run_without_engine()
        self.assert_one_engine_box(result)
        self.assertEqual(self.target.read_settings(), request)
        self.assertEqual(self.target.read_win_ini(), published(b"x"))

    def test_stand_alone_start_ends_the_same_way(self):
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        # A command line left by an earlier request is published all the same.
        request = self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "OVTST552.EXE /OLD"}})
        result = self.run_without_engine()
        self.assert_one_engine_box(result)
        self.assertEqual(self.target.read_settings(), request)
        self.assertEqual(self.target.read_win_ini(), published(b"OVTST552.EXE /OLD"))

    def test_without_settings_file_an_empty_command_line_is_published(self):
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        self.target.remove_file(harness.SETTINGS_FILE)
        result = self.run_without_engine()
        self.assert_one_engine_box(result)
        # Reads do not create the file; the empty value keeps the key.
        self.assertIsNone(self.target.read_settings())
        self.assertEqual(self.target.read_win_ini(), published(b""))

    def test_missing_win_ini_is_created(self):
        self.target.remove_file("win.ini")
        self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "a b", "COMMANDE": "EDITEUR"}})
        result = self.run_without_engine()
        self.assert_one_engine_box(result)
        self.assertEqual(self.target.read_win_ini(), b"[Orvane55]\r\nLIGNEDECOMMANDE=a b\r\n")

    def test_long_command_line_is_published_cut_to_299_bytes(self):
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        command_line = "".join(chr(ord("A") + i % 26) for i in range(400))
        self.target.write_request({"TEST": {"LIGNEDECOMMANDE": command_line, "COMMANDE": "EDITEUR"}})
        result = self.run_without_engine()
        self.assert_one_engine_box(result)
        self.assertEqual(self.target.read_win_ini(), published(command_line[:299].encode("cp1252")))

    def test_an_earlier_published_line_is_replaced_in_place(self):
        # A run that ended without its exit sequence left its line behind.
        self.target.write_file("win.ini", b"[Orvane55]\r\nLIGNEDECOMMANDE=old\r\n[mail]\r\nmapi=1\r\n")
        self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "new", "COMMANDE": "EDITEUR"}})
        result = self.run_without_engine()
        self.assert_one_engine_box(result)
        self.assertEqual(self.target.read_win_ini(), b"[Orvane55]\r\nLIGNEDECOMMANDE=new\r\n[mail]\r\nmapi=1\r\n")

    def test_native_box_is_followed_by_the_path_tried_and_the_reason(self):
        if self.target.name != "native":
            self.skipTest("the Windows box's text stays the program's own")
        self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "x", "COMMANDE": "EDITEUR"}})
        for content in (None, b"not a library"):
            with self.subTest(library=content):
                folder = self.target.stage_launcher(with_engine=False)
                library = Path(os.path.realpath(folder)) / harness.ENGINE_LIBRARY
                if content is None:
                    expected = (f"cannot load {library} (missing), then {harness.ENGINE_LIBRARY} through the "
                                "system's library search: cannot open shared object file")
                else:
                    library.write_bytes(content)
                    expected = f"cannot load {library}: "
                result = self.target.run_launcher(folder)
                lines = result.stderr_lines()
                self.assertIn(ENGINE_MISSING_BOX, lines, result)
                # The line after the box, and a reason after the path.
                detail = lines[lines.index(ENGINE_MISSING_BOX) + 1]
                self.assertTrue(detail.startswith(expected), detail)
                self.assertGreater(len(detail), len(expected), detail)

    def test_unanswered_box_blocks_until_the_run_is_killed(self):
        if self.target.name != "windows":
            self.skipTest("only a Windows box waits for an answer")
        self.target.write_file("win.ini", WIN_INI_BEFORE)
        request = self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "x", "COMMANDE": "EDITEUR"}})
        folder = self.target.stage_launcher(with_engine=False)
        with self.assertRaisesRegex(AssertionError, "did not end within 5 s"):
            self.target.run_launcher(folder, timeout=5, answer_boxes=False)
        # The launcher had got as far as the first command when it was killed.
        self.assertEqual(self.target.read_win_ini(), published(b"x"))
        self.assertEqual(self.target.read_settings(), request)
        # Nothing of the killed run is left to disturb the next one.
        self.assert_one_engine_box(self.run_without_engine())

if __name__ == "__main__":
    harness.main()
