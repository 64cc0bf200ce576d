"""A person at a terminal: the native launcher with the stand-in engine in
interactive mode, driven through tmux (send-keys to type, capture-pane to
read the screen). Native only: the Windows launcher has no console.
"""

import shutil
import subprocess
import time
import uuid

import harness
import sessions
import test_trace

SCREEN_TIMEOUT_SECONDS = 20


class Terminal:
    """One tmux session running one command."""

    def __init__(self, command, environment):
        self.name = "ov-" + uuid.uuid4().hex[:8]
        exports = " ".join(f"{key}='{value}'" for key, value in environment.items())
        subprocess.run(["tmux", "new-session", "-d", "-s", self.name, "-x", "160", "-y", "50",
                        f"env {exports} {command}; echo '<<ended '$?'>>'; sleep 60"], check=True)

    def screen(self):
        return subprocess.run(["tmux", "capture-pane", "-p", "-J", "-S", "-200", "-t", self.name],
                              capture_output=True, text=True, check=True).stdout

    def wait_for(self, text, after=0):
        """Waits until text shows on the screen past its first after
        occurrences; returns the screen."""
        deadline = time.monotonic() + SCREEN_TIMEOUT_SECONDS
        while time.monotonic() < deadline:
            screen = self.screen()
            if screen.count(text) > after:
                return screen
            time.sleep(0.1)
        raise AssertionError(f"{text!r} did not show; the screen was:\n{self.screen()}")

    def type(self, line):
        subprocess.run(["tmux", "send-keys", "-t", self.name, "-l", line], check=True)
        subprocess.run(["tmux", "send-keys", "-t", self.name, "Enter"], check=True)

    def close(self):
        subprocess.run(["tmux", "kill-session", "-t", self.name], check=False, capture_output=True)


class TerminalTest(sessions.SessionTestCase):
    def setUp(self):
        super().setUp()
        if shutil.which("tmux") is None:
            if harness.under_ci():
                self.fail("tmux is missing, and under CI=true no test may be skipped")
            self.skipTest("tmux is not installed")

    def start(self, folder=None):
        folder = folder or self.target.stage_launcher(with_engine=True)
        terminal = Terminal(str(folder / self.target.launcher_name), {"WINDIR": self.target.windows_dir})
        self.addCleanup(terminal.close)
        return terminal

    def test_console_command_its_result_and_leaving(self):
        self.editor_request("I")
        terminal = self.start()
        terminal.wait_for("| Command : \n")
        terminal.type("VERSION")
        # The next pass shows the last command, its text result and its key;
        # it is whole once its prompt shows.
        screen = terminal.wait_for("command (!? help)>", after=1)
        last_pass = screen[screen.rindex("| Command : VERSION"):]
        self.assertIn("| Text    : 5.5", last_pass)
        self.assertIn("| Key     : RET", last_pass)
        terminal.type("!q")
        self.assertIn("<<ended 0>>", terminal.wait_for("<<ended"))

    def test_output_to_a_file_is_nobody_at_the_terminal(self):
        # Typed at a terminal, but the output goes to a file: the stand-in
        # must neither prompt into the file nor wait for a key.
        folder = self.target.stage_launcher(with_engine=True)
        shutil.copy2(self.target.tool("ovrun"), folder / "ovrun")
        output = self.target.scratch / "report.json"
        terminal = Terminal(f"{folder / 'ovrun'} window {self.project_dir()} --json > {output}",
                            {"WINDIR": self.target.windows_dir})
        self.addCleanup(terminal.close)
        self.assertIn("<<ended 0>>", terminal.wait_for("<<ended"))
        self.assertEqual(output.read_text(), '{"CR":"","NLIGNE":"","NCOL":"","NOMPROC":"","MESSAGE":"","NOMFEN":"",'
                                             '"NOMOBJET":"","TYPEOBJET":""}\n')

    def test_window_test_with_a_runtime_error_writes_the_report(self):
        self.editor_request("F")
        terminal = self.start()
        terminal.wait_for("screen>")
        terminal.type("e")
        terminal.wait_for("tre positionn")  # the question, shown in UTF-8
        terminal.type("o")
        terminal.wait_for("error [")
        terminal.type("42,FACTURES,CALCUL.PRO,Indice hors limites")
        self.assertIn("<<ended 0>>", terminal.wait_for("<<ended"))
        report = dict(self.settings_keys())
        self.assertEqual((report["CR"], report["NLIGNE"], report["NOMFEN"], report["NOMOBJET"], report["MESSAGE"]),
                         (b"*E*", b"42", b"FACTURES", b"CALCUL.PRO", b"Indice hors limites"))

    def test_session_played_by_hand_replays_from_its_trace(self):
        trace = self.target.scratch / "played.trace"
        self.editor_request("F", extra={"OVTST552": {"TRACE": str(trace)}})
        request = self.target.read_settings()
        folder = self.target.stage_launcher(with_engine=True)
        terminal = self.start(folder)
        terminal.wait_for("screen>")
        terminal.type("")
        terminal.wait_for("screen>", after=1)
        terminal.type("e")
        terminal.wait_for("tre positionn")
        terminal.type("o")
        terminal.wait_for("error [")
        terminal.type("")
        self.assertIn("<<ended 0>>", terminal.wait_for("<<ended"))
        played, settings = trace.read_bytes(), self.target.read_settings()
        self.assertIn(b'\n"DFTOCS" => kind=5 text="" pointer="12,CLIENTS,BTN_OK.PRO,Division par z\\xE9ro"', played)

        script = self.target.scratch / "replay.trace"
        trace.rename(script)
        self.target.write_file(harness.SETTINGS_FILE, request)
        transcript = self.target.scratch / "replay.txt"
        result = self.target.run_launcher(folder, environment={"OV_STANDIN_SCRIPT": str(script),
                                                               "OV_STANDIN_TRANSCRIPT": str(transcript)})
        self.assertEqual(result.status, 0, result)
        self.assertEqual(sessions.Session(result, transcript.read_bytes()).faults(), [])
        self.assertEqual(test_trace.masked(trace.read_bytes()), test_trace.masked(played))
        self.assertEqual(self.target.read_settings(), settings)


if __name__ == "__main__":
    harness.main(needs=("native",))
