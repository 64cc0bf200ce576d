"""What ovrun promises about the user's settings, end to end: a run killed
at any step of its settings work is undone by the next ovrun, which says
so; one run at a time uses a Windows directory; SIGTERM ends the launcher
and withdraws the request; and under Wine a replay changes and puts back
the launcher's keys alone, leaves a file it cannot read alone, and is
undone after a hard kill.

The kill comes from a test hook: OVRUN_TEST_KILL_AT=N kills ovrun at the
N-th step of its settings work (before the journal, after it, after each
key written, after each key put back, after the journal went), as a power
cut or a task kill would.

Run with --target native, windows32 or windows64.
"""

import os
import signal
import subprocess
import time
from pathlib import Path

import harness
import sessions
import test_ovrun

SESSIONS = Path(__file__).resolve().parents[1] / "sessions"
# The user's files: other sections, a comment, an earlier report, a section
# of the trace holding a comment alone, and WIN.INI's line of a past test.
SETTINGS_BEFORE = (b"[Autre]\r\nCLEF=valeur\r\n; a note of the user's\r\n[TEST]\r\nCR=ancien\r\n"
                   b"REPCOURANT=C:\\ailleurs\r\n[OVTST552]\r\n; kept for later\r\n[Orvane55]\r\nLANGUAGE=2\r\n")
WIN_INI_BEFORE = b"[mail]\r\nmapi=1\r\n[Orvane55]\r\nLIGNEDECOMMANDE=old\r\n"
RECOVERED = b"ovrun replay: put back "
KILLED = (-signal.SIGKILL, 9)  # natively a signal; under Wine TerminateProcess's status


class SettingsCase(sessions.SessionTestCase):
    stage = test_ovrun.OvrunTest.stage
    ovrun = test_ovrun.OvrunTest.ovrun
    ovrun_name = test_ovrun.OvrunTest.ovrun_name

    def setUp(self):
        super().setUp()
        self.put_files_back()

    def put_files_back(self):
        self.target.write_file(harness.SETTINGS_FILE, SETTINGS_BEFORE)
        self.target.write_file("win.ini", WIN_INI_BEFORE)

    def assert_as_before(self, result=None):
        self.assertEqual(self.target.read_settings(), SETTINGS_BEFORE, result)
        self.assertEqual(self.target.read_win_ini(), WIN_INI_BEFORE, result)

    def journal(self):
        return self.target.windows_dir / "ovrun.journal"

    def recover(self):
        """The next ovrun: a replay of a trace that is not there recovers an
        ended run's journal, then refuses."""
        missing = self.target.path_text(self.target.scratch / "missing.txt")
        result = self.target.run_tool("ovrun", ["replay", missing])
        self.assertEqual(result.status, 2, result)
        return result

    def replay(self, *arguments, environment=None):
        return self.target.run_tool("ovrun", ["replay", *arguments], environment=environment, timeout=300)

    def start(self, argv, environment=None, stdin=subprocess.DEVNULL):
        """A program started and left running; its output goes to files."""
        out = (self.target.scratch / f"out-{time.monotonic_ns()}").open("wb+")
        self.addCleanup(out.close)
        if self.target.name == "windows":
            argv = [self.target.wine, *argv]
        process = subprocess.Popen(argv, env=self.target._environment(environment), cwd=self.target.scratch,
                                   stdin=stdin, stdout=out, stderr=out)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process, out

    def wait_for(self, condition, failure, seconds=30):
        deadline = time.monotonic() + seconds
        while not condition() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(condition(), failure)

    def start_waiting_test(self, folder, *arguments):
        """A window test (native) whose interactive stand-in waits for a key
        on a pipe that no one writes to."""
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        self.addCleanup(os.close, writer)
        return self.start([str(folder / self.ovrun_name()), "window", self.project_dir(), *arguments],
                          {"OV_STANDIN_MODE": "interactive", "OV_STANDIN_SCRIPT": None}, stdin=reader)

    def start_replay(self, *arguments):
        """A replay whose launcher waits for a click on a box (the engine
        lacks an entry point) until --timeout ends it."""
        engine = self.target.incomplete_engine
        trace = self.target.path_text(SESSIONS / "window-error.txt")
        return self.start([str(self.target.tool("ovrun")), "replay", trace, "--standin",
                           self.target.path_text(engine), *arguments])

    def files(self):
        return self.target.read_settings(), self.target.read_win_ini()

    def kill_loop(self, run):
        """run(hook) with the hook set to each step in turn, until a run goes
        through. After each kill the next ovrun leaves the files as they
        were before the run, or, when the run had put them back and removed
        its journal, as a run that went through leaves them."""
        self.put_files_back()
        whole = run({})
        after_whole = self.files()
        kills = 0
        for step in range(1, 400):
            self.put_files_back()
            result = run({"OVRUN_TEST_KILL_AT": str(step)})
            if result.status not in KILLED:
                self.assertEqual(result.status, whole.status, result)
                return kills
            kills += 1
            with self.subTest(step=step):
                left = self.journal().exists()
                recovery = self.recover()
                self.assertEqual(RECOVERED in recovery.stderr, left, recovery)
                self.assertFalse(self.journal().exists())
                if left or self.files() != after_whole:
                    self.assert_as_before(recovery)
        self.fail("the hook never let a run through")


class JournalTest(SettingsCase):
    def test_a_test_killed_at_each_step_is_undone_by_the_next_ovrun(self):
        folder = self.stage()
        arguments = ["window", self.project_dir(), "--trace", "run.trace"]
        kills = self.kill_loop(
            lambda hook: self.ovrun(arguments, test_ovrun.FAILING_WINDOW, folder=folder, environment=hook)[0])
        # Before and after the journal, each of 15 keys written, and TRACE put back.
        self.assertGreaterEqual(kills, 19)

    def test_a_journal_that_cannot_be_read_stops_every_run_and_stays(self):
        self.journal().write_bytes(b"ovrun journal 1\npid 12\nkey O zz\n")
        for arguments in (["replay", self.target.path_text(self.target.scratch / "missing.txt")],
                          ["window", self.project_dir()]):
            result, session = self.ovrun(arguments, test_ovrun.FAILING_WINDOW)
            self.assertEqual(result.status, 3, result)
            self.assertIn(b"cannot be read; it is kept", result.stderr)
            self.assertEqual(session.lines, [], "the launcher must not run")
            self.assertTrue(self.journal().exists())
            self.assert_as_before(result)

    def test_two_tests_on_one_windows_directory(self):
        if self.target.name != "native":
            self.skipTest("the interactive stand-in waits on a pipe natively")
        folder = self.stage()
        first, _ = self.start_waiting_test(folder, "--timeout", "3")
        lock = self.target.windows_dir / ".ovrun.lock"
        self.wait_for(lambda: lock.exists() and lock.read_text() == str(first.pid), "the first test took no lock")
        # The second gives up at once, or waits its turn and runs its own test.
        refused, _ = self.ovrun(["window", self.project_dir(), "--wait", "0"], test_ovrun.FAILING_WINDOW,
                                folder=folder)
        self.assertEqual(refused.status, 3, refused)
        self.assertEqual(refused.stdout, b"")
        self.assertEqual(refused.stderr_lines(),
                         [f"ovrun: another test is running in {self.target.windows_dir} (pid {first.pid})"])
        waited, _ = self.ovrun(["window", self.project_dir(), "--wait", "30"], test_ovrun.FAILING_WINDOW,
                               folder=folder)
        self.assertEqual(first.wait(30), 3)
        self.assertEqual(waited.status, 1, waited)
        self.assertIn(b"Division", waited.stdout)
        self.assertNotIn("COMMANDE", dict(self.settings_keys()))
        self.assertNotIn(b"LIGNEDECOMMANDE=", self.target.read_win_ini().replace(b"LIGNEDECOMMANDE=old", b""))

    def test_sigterm_ends_the_launcher_and_undoes_the_run(self):
        if self.target.name != "native":
            self.skipTest("SIGTERM is a Linux signal")
        folder = self.stage()
        ovrun, out = self.start_waiting_test(folder)
        launcher = str(folder / self.target.launcher_name)

        def launchers():
            running = []
            for entry in Path("/proc").iterdir():
                try:
                    if os.readlink(entry / "exe") == launcher:
                        running.append(entry.name)
                except OSError:
                    pass
            return running

        self.wait_for(launchers, "the launcher never started")
        ovrun.send_signal(signal.SIGTERM)
        self.assertEqual(ovrun.wait(20), 3)
        out.seek(0)
        self.assertIn(b"ovrun: ended by a signal: the launcher was ended, the request withdrawn", out.read())
        self.assertEqual(launchers(), [])
        self.assert_as_before()

    def test_replays_overlapping_killed_or_beside_another_writer(self):
        if self.target.name == "native":
            self.skipTest("natively a replay keeps to a Windows directory of its own")
        # Killed hard while its launcher waits: the job ends the launcher.
        replay, _ = self.start_replay("--timeout", "60")
        self.wait_for(self.journal().exists, "the replay wrote no journal")
        time.sleep(2)
        replay.kill()
        replay.wait(30)
        self.assertTrue(self.journal().exists())
        self.assertIn(RECOVERED, self.recover().stderr)
        self.assert_as_before()
        # Killed by the hook once the journal is written, and after 3 keys.
        for step in ("2", "5"):
            result = self.replay(self.target.path_text(SESSIONS / "window-error.txt"),
                                 environment={"OVRUN_TEST_KILL_AT": step})
            self.assertIn(result.status, KILLED, result)
            self.assertIn(RECOVERED, self.recover().stderr)
            self.assert_as_before()
        # Two at once: the second waits for the first, each puts back its keys.
        first, _ = self.start_replay("--timeout", "4")
        self.wait_for(self.journal().exists, "the replay wrote no journal")
        second = self.replay(self.target.path_text(SESSIONS / "window-error.txt"), "--wait", "60")
        self.assertEqual(first.wait(60), 1)
        self.assertEqual(second.status, 0, second)
        self.assert_as_before(second)
        # Another program writes into WIN.INI during a replay: its key stays.
        replay, _ = self.start_replay("--timeout", "8")
        self.wait_for(self.journal().exists, "the replay wrote no journal")
        time.sleep(1)
        written = self.target.run_tool("ovini", ["set", "win.ini", "Autre", "PENDANT", "1"])
        self.assertEqual(written.status, 0, written)
        self.assertEqual(replay.wait(60), 1)
        self.assertEqual(self.target.read_settings(), SETTINGS_BEFORE)
        self.assertEqual(self.target.read_win_ini(), WIN_INI_BEFORE + b"[Autre]\r\nPENDANT=1\r\n")

    def test_a_win_ini_held_without_sharing_is_left_alone(self):
        if self.target.name == "native":
            self.skipTest("sharing modes are Windows'")
        holder_program = Path(self.target.boxrunner).parent / "holdfile.exe"
        self.assertTrue(holder_program.is_file(), holder_program)
        marker = self.target.scratch / "held"
        holder, _ = self.start([str(holder_program), self.target.windows_dir_text + "\\win.ini",
                                self.target.path_text(marker), "30"])
        self.wait_for(marker.exists, "holdfile never opened win.ini")
        result = self.replay(self.target.path_text(SESSIONS / "window-error.txt"))
        holder.kill()
        holder.wait(30)
        self.assertEqual(result.status, 3, result)
        self.assertIn(b"win.ini exists but cannot be read", result.stderr)
        self.assertFalse(self.journal().exists())
        self.assert_as_before(result)


class ReplayKillLoopTest(SettingsCase):
    def test_a_replay_killed_at_each_step_is_undone_by_the_next_ovrun(self):
        if self.target.name == "native":
            self.skipTest("natively a replay keeps to a Windows directory of its own")
        trace = self.target.path_text(SESSIONS / "window-error.txt")
        kills = self.kill_loop(lambda hook: self.replay(trace, environment=hook))
        # Before and after the journal, each of 27 keys put back, after the journal went.
        self.assertGreaterEqual(kills, 30)
        self.assert_as_before()


if __name__ == "__main__":
    harness.main()
