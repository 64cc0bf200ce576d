"""Session traces end to end: a scripted session of every mode is run with
Orvane.ini [OVTST552] TRACE set, then run again from the same request with
the trace as the stand-in's script and tracing on. The two traces, times
and addresses masked, are identical, the replay matches its script line for
line, and both runs leave the same settings files.

Run with --target native, windows32 or windows64 (the Windows flavours, under Wine).
"""

import os
import re
import stat

import harness
import sessions

TRACE_NAME = "session.trace"
# As root, a read-only file is only read-only without the power to override.
WITHOUT_OVERRIDE = ["setpriv", "--inh-caps=-dac_override,-dac_read_search",
                    "--bounding-set=-dac_override,-dac_read_search", "--"]

WINDOW_ERROR_REPORT = (
    "ENVI,* =>\n"
    "OUVRE,* => key=RET\n"
    "ECRAN,SAISIE => key=*M*\n"
    "\"info,Option de menu sans code (OVTouche = \\\"*M*\\\").\" =>\n"
    "FENETRE => kind=1 text=\"2\"\n"
    "ECRAN,SAISIE => key=*E*\n"
    "OUINON,* => text=\"O\"\n"
    "DFTOCS => pointer=\"40000,clients,BTN_OK.PRO,  Division\\r\\npar z\\xE9ro\\n \" pointerint=3\n")

PROJECT_SCREENS = (
    "ENVI,* =>\n"
    "PROGRAMME,* => key=XYZ\n"
    "\"INFO,OVTouche=XYZ\" =>\n"
    "FENETRE => kind=1 text=\"2\"\n"
    "ECRAN,SAISIE => key=*m*\n"
    "\"info,Option de menu sans code (OVTouche = \\\"*m*\\\").\" =>\n"
    "FENETRE => kind=1 text=\"1\" key=ABC extratext=\"x\" extravalue=-4\n"
    "ECRAN,SAISIE => kind=8 number=12 separator=; text=\"rest\"\n"
    "\"INFO,OVTouche=ABC\" =>\n"
    "FENETRE => kind=3 text=\"0.5\" textlength=250 flags=0x33\n"
    "ECRAN,SAISIE => key=ESC\n")


def console_pass(key):
    return ("Ouvre,ORVN-TST.OVW =>\nAFFI,COMMANDE,* =>\nAffi,OVCHAINE,* =>\nAFFI,OVTOUCHE,* =>\n"
            f"ECRA,SAIS => key=\"{key}\"\n")


CONSOLE_SET_UP = "ENVI,* =>\nBIBLI,DISQUE,* =>\nPROJ,TITRE.OVP =>\nNATION,* =>\n"

CONSOLE_TYPED_AND_REFUSED = (
    CONSOLE_SET_UP + console_pass("RET")
    + "RECU,COMMANDE => text=\"  Date  \"\nRECU,COMMANDE => text=\"  Date  \"\nFERM =>\n"
    + "Date => key=RET text=\"09/12/2026\"\n"
    + console_pass("RET")
    + "RECU,COMMANDE => text=\"bibli,disque,x\"\n\"INFO,Fonction interdite\" =>\nFERM =>\n"
    + console_pass("RET")
    + "RECU,COMMANDE => text=\"caf\\xE9 \\\"$1\\\" \\\\ \\x01\"\n" * 2 + "FERM =>\n"
    + "* => key=RET text=\"OK\"\n"
    + console_pass("ESC") + "FERM =>\n")

STAND_ALONE_CONSOLE = CONSOLE_SET_UP + console_pass("ESC") + "FERM =>\n"

REFUSED_START_AND_RETRY = "@start => refuse\nOUVRE,* => key=ESC\n"

TOO_LONG_COMMAND = "ENVI,* =>\n\"INFO,Commande trop longue\"* =>\nECRAN,SAISIE => key=ESC\n"

# Eight report keys and the deletion of COMMANDE, each told.
FAILED_SETTINGS_WRITE = ("ENVI,* =>\nOUVRE,* => key=*E*\nOUINON,* => text=\"O\"\nDFTOCS => text=\"7,W,O.PRO,m\"\n"
                         + "INFO,* =>\n" * 9)


def masked(trace):
    """The trace's lines with what differs from run to run masked: the
    date, the library's path, times, the environment's address."""
    lines = []
    for line in trace.split(b"\n"):
        if line.startswith(b"# run of "):
            line = b"# run of <date>"
        elif line.startswith(b"# loaded "):
            line = b"# loaded <path>"
        line = re.sub(rb"  # \d+\.\d ms", b"  # <time>", line)
        line = re.sub(rb'sent "ENVI,\d+"', b'sent "ENVI,<address>"', line)
        lines.append(line)
    return lines


class TraceRoundTripTest(sessions.SessionTestCase):
    def trace_path(self):
        return self.target.scratch / TRACE_NAME

    def request(self, mode=None, **options):
        """An editor request (the stand-alone start when mode is None) with
        the TRACE key; returns the settings file's bytes."""
        trace = {"OVTST552": {"TRACE": self.target.path_text(self.trace_path())}}
        if mode is None:
            self.target.write_request({"TEST": {"LIGNEDECOMMANDE": "x"}, **trace})
        else:
            self.editor_request(mode, extra=trace, **options)
        return self.target.read_settings()

    def run_traced(self, folder, script_path, transcript_name, read_only):
        """One run from the staged folder; returns (trace, transcript, Orvane.ini, win.ini)."""
        transcript = self.target.scratch / transcript_name
        settings = self.target.windows_dir / harness.SETTINGS_FILE
        if read_only:
            settings.chmod(stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        try:
            result = self.target.run_launcher(folder, environment={
                "OV_STANDIN_SCRIPT": self.target.path_text(script_path),
                "OV_STANDIN_TRANSCRIPT": self.target.path_text(transcript)})
        finally:
            settings.chmod(stat.S_IRUSR | stat.S_IWUSR | stat.S_IRGRP | stat.S_IROTH)
        self.assertEqual(result.status, 0, result)
        trace = self.trace_path().read_bytes()
        self.trace_path().unlink()
        return (trace, sessions.Session(result, transcript.read_bytes()), self.target.read_settings(),
                self.target.read_win_ini())

    def assert_round_trip(self, script, request, read_only=False):
        """Records script as a trace, replays the trace, and compares."""
        if read_only and isinstance(self.target, harness.NativeTarget) and os.geteuid() == 0:
            self.target.launch_prefix = WITHOUT_OVERRIDE
        folder = self.target.stage_launcher(with_engine=True)
        script_path = self.target.scratch / sessions.SCRIPT_NAME
        script_path.write_bytes(script.encode("cp1252"))
        recorded, first, settings, win_ini = self.run_traced(folder, script_path, "first.txt", read_only)
        self.assertEqual(first.faults(), [], b"\n".join(first.lines).decode("cp1252"))
        replay_path = self.target.scratch / "replay.trace"
        replay_path.write_bytes(recorded)

        self.target.write_file(harness.SETTINGS_FILE, request)
        replayed, second, settings_again, win_ini_again = self.run_traced(folder, replay_path, "second.txt",
                                                                          read_only)
        # The replay used its script line for line and no further.
        self.assertEqual(second.faults(), [], recorded.decode("cp1252"))
        self.assertNotIn(b"script exhausted", second.lines)
        self.assertEqual(second.events(), first.events())
        self.assertEqual(masked(replayed), masked(recorded))
        self.assertEqual(settings_again, settings)
        self.assertEqual(win_ini_again, win_ini)
        return recorded

    def test_window_test_with_an_error_report(self):
        recorded = self.assert_round_trip(WINDOW_ERROR_REPORT, self.request("F"))
        # The description as the launcher reads it; the report is written after.
        self.assertIn(b'"DFTOCS" => kind=5 text="" pointer="40000,clients,BTN_OK.PRO,  Division\\x0D\\x0Apar '
                      b'z\\xE9ro\\x0A " pointerint=3', recorded)
        self.assertIn(b'# write Orvane.ini [TEST] NLIGNE="-25536": done', recorded)

    def test_project_test_over_several_screens_with_odd_replies(self):
        recorded = self.assert_round_trip(PROJECT_SCREENS, self.request("P"))
        self.assertIn(b'"ECRAN,SAISIE" => kind=8 number="12" separator=";" text="rest"', recorded)
        self.assertIn(b'"FENETRE" => kind=3 text="0.5" textlength=250 flags=0x33', recorded)

    def test_console_with_typed_and_refused_lines(self):
        self.assert_round_trip(CONSOLE_TYPED_AND_REFUSED, self.request("I"))

    def test_stand_alone_console(self):
        self.assert_round_trip(STAND_ALONE_CONSOLE, self.request())

    def test_refused_start_and_its_retry(self):
        recorded = self.assert_round_trip(REFUSED_START_AND_RETRY, self.request("F"))
        self.assertIn(b"\n@start => refuse  # ", recorded)

    def test_too_long_command(self):
        directory = self.target.separator + "d" * 250
        recorded = self.assert_round_trip(TOO_LONG_COMMAND, self.request("F", directory=directory))
        length = len("OUVRE," + directory + self.target.separator + "_OV_GO.OVW /RE")
        self.assertIn(f"# a command of {length} characters, longer than 254, not sent\n".encode(), recorded)

    def test_failed_settings_write(self):
        # A file without write permission refuses writes natively; whether
        # Wine run as root refuses them too is not established.
        if not isinstance(self.target, harness.NativeTarget):
            self.skipTest("read-only settings file: native only")
        recorded = self.assert_round_trip(FAILED_SETTINGS_WRITE, self.request("F"), read_only=True)
        self.assertIn(b'# write Orvane.ini [TEST] CR="*E*": failed\n', recorded)
        self.assertIn(b"# delete Orvane.ini [TEST] COMMANDE: failed\n", recorded)

    def test_engine_that_never_returns_leaves_the_trace_up_to_that_call(self):
        # A relative name is taken in the Windows directory.
        self.editor_request("F", extra={"OVTST552": {"TRACE": TRACE_NAME}})
        session = self.run_session(WINDOW_ERROR_REPORT, environment={"OV_STANDIN_MAX_CALLS": "3"})
        self.assertEqual(session.status, 3, session.result)
        trace = self.target.read_file(TRACE_NAME)
        self.assertTrue(trace.endswith(b'"ECRAN,SAISIE" =>'), trace[-200:])
        self.assertNotIn(b"# the launcher ends", trace)
        if isinstance(self.target, harness.NativeTarget):
            mode = (self.target.windows_dir / TRACE_NAME).stat().st_mode
            self.assertEqual(stat.S_IMODE(mode), 0o600)


if __name__ == "__main__":
    harness.main()
