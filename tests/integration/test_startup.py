"""The launcher's start, its engine's lifecycle and its exit, end to end
with the stand-in engine: what the engine received (the first command, the
start-up block), what the settings files hold afterwards.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

import os
from pathlib import Path

import harness
import sessions

# A mode letter that selects no test: the run is start-up and exit alone.
NO_MODE = "X"


class StartupTest(sessions.SessionTestCase):
    def test_start_sends_the_environment_first_and_exits_cleanly(self):
        self.target.write_file("win.ini", b"[mail]\r\nmapi=1\r\n")
        self.editor_request(NO_MODE)
        session = self.run_session("ENVI,* =>\n")
        self.assert_clean(session)
        self.assertEqual(session.events(), ["start result=1", "ENVI,<address>", "stop"])
        # The address is the environment block's, in decimal.
        self.assertRegex(session.commands()[0], rb"^ENVI,[1-9][0-9]*$")
        # COMMANDE alone is removed; every other request key stays for the editor.
        self.assertEqual([key for key, _ in self.settings_keys()],
                         ["LIGNEDECOMMANDE", "REPEXE", "REPCOURANT", "PARAM1", "PARAM2"])
        # The published line is withdrawn; its section header stays.
        self.assertEqual(self.target.read_win_ini(), b"[mail]\r\nmapi=1\r\n[Orvane55]\r\n")

    def test_block_without_components(self):
        self.editor_request(NO_MODE)
        session = self.run_session("ENVI,* =>\n")
        self.assert_clean(session)
        block = session.block_lines()
        self.assertEqual(block[0], 'block signature="KALMIR" format=5000 length=535')
        self.assertEqual(block[1], 'block module 0 at=10 flags=1 file1="OV551KRN.DLL" file3="OV553KRN.DLL" id=0 group=3')
        self.assertIn('block module 9 at=289 flags=0 file1="OV551LFN.DLL" file3="" id=6 group=0', block)
        self.assertIn('block module 17 at=525 flags=0 file1="" file3="OV553DRV.DLL" id=18 group=0', block)
        self.assertEqual(block[-2:], ["block end at=544", "block verdict=ok"])

    def test_block_with_components(self):
        self.editor_request(NO_MODE, extra={"COMPOSANTE": {
            "COMPOSANTE_7": "tableur,feuille,70000",
            "COMPOSANTE_3": "abc,def,12",
            "COMPOSANTE_4": "one,comma",
            "COMPOSANTE_10": "never,read,1",
        }})
        session = self.run_session("ENVI,* =>\n")
        self.assert_clean(session)
        components = [line for line in session.block_lines() if line.startswith("block component")]
        self.assertEqual(components, [
            'block component 0 at=544 name="ABC" text="DEF" fixed=0xFFFF number=12',
            'block component 1 at=557 name="TABLEUR" text="FEUILLE" fixed=0xFFFF number=4464',
        ])
        self.assertIn('block signature="KALMIR" format=5000 length=569', session.block_lines())
        self.assertEqual(session.block_lines()[-1], "block verdict=ok")

    def test_refused_start_drops_the_first_command_and_the_next_one_retries(self):
        self.editor_request("F")
        session = self.run_session(
            "@start => refuse\n"
            "OUVRE,* => key=ESC\n")
        self.assert_clean(session)
        self.assertEqual(session.events(), ["start result=0", "start result=1", self.open_window_command(), "stop"])
        # Each start got a freshly built block.
        self.assertEqual(session.block_lines().count("block verdict=ok"), 2)

    def test_library_without_an_entry_point_is_never_called(self):
        self.editor_request("F")
        request = self.target.read_settings()
        engine = self.target.incomplete_engine
        if engine is None or not engine.is_file():
            self.fail(f"the incomplete engine library for {self.target.flavour} is not built ({engine})")
        session = self.run_session("", engine=engine)
        self.assertEqual(session.status, 0, session.result)
        self.assertIn("ERROR: APPELOV: Init failed", session.result.stderr_lines())
        self.assertEqual(session.lines, [])
        # The run ended inside the first command: the request is untouched.
        self.assertEqual(self.target.read_settings(), request)

    def open_window_command(self):
        return "OUVRE," + self.project_dir() + self.target.separator + "_OV_GO.OVW /RE"


if __name__ == "__main__":
    harness.main()
