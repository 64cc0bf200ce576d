"""Window and project tests end to end, with the stand-in engine scripted:
the commands the engine receives screen by screen, and the error report that
a runtime error leaves in section TEST of Orvane.ini for the editor.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

import harness
import sessions

ALT_F4_FRENCH = ("Vous quittez le test par [Alt]+[F4].\nCette combinaison de touche effectue la fermeture de la "
                 "fen\xeatre, sans ex\xe9cuter de code.\nCe fonctionnement n'est actif que pendant le test.")
ALT_F4_ENGLISH = ("Do you want to stop the test using [Alt]+[F4].\nThis choice of key close the window, whitout "
                  "execute the close code.\nThis is only for test.")

REPORT_KEYS = ["CR", "NLIGNE", "NCOL", "NOMPROC", "MESSAGE", "NOMFEN", "NOMOBJET", "TYPEOBJET"]
REQUEST_KEYS = ["LIGNEDECOMMANDE", "REPEXE", "REPCOURANT", "PARAM1", "PARAM2"]


class WindowAndProjectTest(sessions.SessionTestCase):
    def window_file(self):
        return self.project_dir() + self.target.separator + "_OV_GO.OVW /RE"

    def program_file(self):
        return self.project_dir() + self.target.separator + "_OV_GOP /RE"

    def test_window_that_fails_writes_the_error_report(self):
        self.editor_request("F")
        session = self.run_session(
            "ENVI,* =>\n"
            "OUVRE,* => key=RET\n"
            "ECRAN,SAISIE => key=*E*\n"
            "OUINON,* => text=\"O\"\n"
            # Spaces and line breaks at both ends, a CR LF inside.
            "DFTOCS => pointer=\"40000,clients,BTN_OK.PRO,  Division\\r\\npar z\\xE9ro\\n \"\n")
        self.assert_clean(session)
        self.assertEqual(session.events(), [
            "start result=1", "ENVI,<address>",
            "OUVRE," + self.window_file(), "ECRAN,SAISIE", harness.QUESTION_FRENCH, "DFTOCS",
            "stop",  # the engine is stopped before the report is written
        ])
        keys = self.settings_keys()
        self.assertEqual([key for key, _ in keys], REQUEST_KEYS + REPORT_KEYS)
        self.assertEqual(dict(keys), {
            **{key: value for key, value in keys if key in REQUEST_KEYS},
            "CR": b"*E*", "NLIGNE": b"-25536", "NCOL": b"0", "NOMPROC": b"BTN_OK.PRO",
            # A procedure's window name is upper-cased while looking for ".OVP".
            "MESSAGE": b"Division \xf5par z\xe9ro\xf5", "NOMFEN": b"CLIENTS", "NOMOBJET": b"BTN_OK.PRO",
            "TYPEOBJET": b"1",
        })

    def test_project_procedure_of_a_window_by_text_result(self):
        self.editor_request("F", param1="P", language="US")
        session = self.run_session(
            "ENVI,* =>\n"
            "PROGRAMME,* => key=*E*\n"
            "OUINON,* => text=\"Oui\"\n"
            "DFTOCS => text=\"7,proj.ovp,MYPROC.PRO\"\n")
        self.assert_clean(session)
        self.assertEqual(session.events()[2:5], [
            "PROGRAMME," + self.program_file(), harness.QUESTION_ENGLISH, "DFTOCS"])
        report = dict(self.settings_keys())
        self.assertEqual(report["NOMFEN"], b"PROJ.OVP")
        self.assertEqual(report["TYPEOBJET"], b"14")
        self.assertEqual(report["MESSAGE"], b"Erreur ligne 7")  # French whatever the language

    def test_empty_object_name_removes_its_keys(self):
        self.editor_request("F")
        self.target.write_file(harness.SETTINGS_FILE, self.target.read_settings() +
                               b"NOMPROC=old\r\nNOMOBJET=old\r\n")
        session = self.run_session(
            "ENVI,* =>\nOUVRE,* => key=*E*\nOUINON,* => text=\"O\"\nDFTOCS => text=\"5,FEN,,m\"\n")
        self.assert_clean(session)
        report = dict(self.settings_keys())
        self.assertNotIn("NOMPROC", report)
        self.assertNotIn("NOMOBJET", report)
        self.assertEqual(report["TYPEOBJET"], b"2")

    def test_project_through_several_screens(self):
        self.editor_request("P")
        session = self.run_session(
            "ENVI,* =>\n"
            "PROGRAMME,* => key=XYZ\n"
            "\"INFO,OVTouche=XYZ\" =>\n"
            "FENETRE => kind=1 text=\"2\"\n"
            "ECRAN,SAISIE => key=*m*\n"
            "\"info,Option de menu sans code (OVTouche = \\\"*m*\\\").\" =>\n"
            "FENETRE => kind=1 text=\"1\" key=ABC\n"
            "ECRAN,SAISIE =>\n"  # no key: the one of the FENETRE reply counts
            "\"INFO,OVTouche=ABC\" =>\n"
            "FENETRE => kind=1 text=\"0\"\n")
        self.assert_clean(session)
        self.assertEqual(session.events(), [
            "start result=1", "ENVI,<address>", "PROGRAMME," + self.program_file(),
            "INFO,OVTouche=XYZ", "FENETRE", "ECRAN,SAISIE",
            'info,Option de menu sans code (OVTouche = "*m*").', "FENETRE", "ECRAN,SAISIE",
            "INFO,OVTouche=ABC", "FENETRE", "stop"])
        self.assertEqual([key for key, _ in self.settings_keys()], REQUEST_KEYS)

    def test_alt_f4_ending_in_both_languages(self):
        for language, text in (("FRENCH", ALT_F4_FRENCH), ("US", ALT_F4_ENGLISH)):
            with self.subTest(language=language):
                self.editor_request("F", language=language)
                session = self.run_session("ENVI,* =>\nOUVRE,* => key=AF4\n")
                self.assert_clean(session)
                self.assertEqual(session.events()[2:], ["OUVRE," + self.window_file(), "INFO," + text, "stop"])

    def test_no_answer_writes_nothing(self):
        self.editor_request("F")
        before = self.target.read_settings()
        session = self.run_session(
            "ENVI,* =>\nOUVRE,* => key=RET\nECRAN,SAISIE => key=*E*\nOUINON,* => text=\"o\"\n")
        self.assert_clean(session)
        self.assertNotIn("DFTOCS", session.events())
        # Only COMMANDE is gone.
        self.assertEqual(self.target.read_settings(), before.replace(b"COMMANDE=EDITEUR\r\n", b""))

    def test_stand_alone_launcher_writes_no_report(self):
        self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "x"}})
        before = self.target.read_settings()
        session = self.run_session(
            "ENVI,* =>\nBIBLI,* =>\nPROJ,* =>\nNATION,* =>\n"
            "Ouvre,* =>\nAFFI,* =>\nAffi,* =>\nAFFI,* =>\nECRA,SAIS => key=*E*\nOUINON,* => text=\"O\"\n")
        self.assert_clean(session)
        self.assertEqual(session.events()[-2:], [harness.QUESTION_FRENCH, "stop"])
        self.assertEqual(self.target.read_settings(), before)


if __name__ == "__main__":
    harness.main()
