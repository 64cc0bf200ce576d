"""The interactive console end to end, with the stand-in engine scripted:
the set-up commands, each pass's display commands with the last command,
its text and its key, refused commands, leaving, and a runtime error.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

import harness
import sessions

SET_UP_FRENCH = ["PROJ,TITRE.OVP", "NATION,5"]


def one_pass(command="", text="", key=""):
    """The commands of one pass showing the last command, text and key."""
    return ["Ouvre,ORVN-TST.OVW", "AFFI,COMMANDE,=" + command, "Affi,OVCHAINE,=" + text,
            "AFFI,OVTOUCHE,=" + key, "ECRA,SAIS"]


# Script lines for one pass that ends with a key.
def pass_ending(key):
    return "Ouvre,ORVN-TST.OVW =>\nAFFI,COMMANDE,* =>\nAffi,OVCHAINE,* =>\nAFFI,OVTOUCHE,* =>\n" \
           f"ECRA,SAIS => key=\"{key}\"\n"


SET_UP_SCRIPT = "ENVI,* =>\nBIBLI,DISQUE,* =>\nPROJ,TITRE.OVP =>\nNATION,* =>\n"


class ConsoleTest(sessions.SessionTestCase):
    def library_command(self, directory):
        return "BIBLI,DISQUE," + directory + self.target.separator + "ORVANE55.OVL"

    def test_session_of_several_commands(self):
        self.editor_request("I")
        session = self.run_session(
            SET_UP_SCRIPT
            + pass_ending("RET")
            + "RECU,COMMANDE => text=\"  Date  \"\n"
            + "RECU,COMMANDE => text=\"  Date  \"\n"
            + "FERM =>\n"
            + "Date => key=RET text=\"09/12/2026\"\n"
            + pass_ending("RET")
            + "RECU,COMMANDE => text=\"bibli,disque,x\"\n"
            + "\"INFO,Fonction interdite\" =>\n"
            + "FERM =>\n"
            + pass_ending("AF4")  # another key: the next pass shows the same values
            + pass_ending("RET")
            + "RECU,COMMANDE => text=\"  \"\n"
            + "RECU,COMMANDE => text=\"  \"\n"
            + "FERM =>\n"
            + "\"\" =>\n"  # the empty line is sent as it is, with no reply
            + pass_ending("ESC")
            + "FERM =>\n")
        self.assert_clean(session)
        executable = self.target.path_text(self.target.build_dir)
        self.assertEqual(session.events(), [
            "start result=1", "ENVI,<address>", self.library_command(executable), *SET_UP_FRENCH,
            *one_pass(), "RECU,COMMANDE", "RECU,COMMANDE", "FERM", "Date",
            *one_pass("Date", "09/12/2026", "RET"), "RECU,COMMANDE", "INFO,Fonction interdite", "FERM",
            *one_pass("BIBLI,DISQUE,X"),
            *one_pass("BIBLI,DISQUE,X"), "RECU,COMMANDE", "RECU,COMMANDE", "FERM", "",
            # The empty command's reply carried nothing: the key and text of "RECU,COMMANDE" stay.
            *one_pass("", "", "RET"), "FERM",
            "stop"])
        self.assertEqual([key for key, _ in self.settings_keys()],
                         ["LIGNEDECOMMANDE", "REPEXE", "REPCOURANT", "PARAM1", "PARAM2"])

    def test_runtime_error_is_handed_to_the_editor(self):
        self.editor_request("I", language="US")
        session = self.run_session(
            SET_UP_SCRIPT + pass_ending("*E*")
            + "OUINON,* => text=\"O\"\n"
            + "DFTOCS => text=\"3,<AUCUN>,A.ENT,m\"\n")
        self.assert_clean(session)
        self.assertEqual(session.events()[-4:], ["ECRA,SAIS", harness.QUESTION_ENGLISH, "DFTOCS",
                                                 "stop"])
        self.assertIn("NATION,3", session.events())
        report = dict(self.settings_keys())
        self.assertEqual((report["NOMFEN"], report["NOMOBJET"], report["TYPEOBJET"], report["MESSAGE"]),
                         (b"<AUCUN>", b"A.ENT", b"3", b"m"))
        self.assertNotIn("FERM", session.events())

    def test_stand_alone_start_opens_the_console_in_the_launcher_directory(self):
        self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "x"}})
        session = self.run_session(SET_UP_SCRIPT + pass_ending("ESC") + "FERM =>\n")
        self.assert_clean(session)
        folder = self.target.path_text(self.session_folder)
        self.assertEqual(session.events(), [
            "start result=1", "ENVI,<address>", self.library_command(folder), *SET_UP_FRENCH, *one_pass(), "FERM",
            "stop"])

    def test_console_ends_when_the_engine_refuses_every_start(self):
        self.editor_request("I")
        session = self.run_session("@start => refuse\n" * 40)
        self.assertEqual(session.status, 0, session.result)
        self.assertEqual(session.commands(), [])
        self.assertLess(len(session.lines), 2000)


if __name__ == "__main__":
    harness.main()
