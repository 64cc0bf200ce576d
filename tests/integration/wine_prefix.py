"""Makes (setup) or shuts down (stop) the private Wine prefix of a test run.

setup: a fresh 32-bit prefix at OV_WINE_PREFIX, with the null window driver
so that programs can create windows without a display. Without a driver
Wine fails every CreateWindowExA and MessageBoxA returns at once; with the
null driver a message box blocks until it is answered, as on Windows, and
boxrunner.exe answers it. It then records win.ini and the files of the
Windows directory, which harness.py restores around each test.

stop: ends the prefix's wineserver and the programs still running in it.
"""

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import harness

BOOT_TIMEOUT_SECONDS = 300


def run(argv, environment, timeout=120):
    """Runs a Wine command; its output goes to files, since the services
    it starts inherit its handles and would hold pipes open."""
    with tempfile.TemporaryFile() as output:
        process = subprocess.Popen(argv, env=environment, stdin=subprocess.DEVNULL, stdout=output, stderr=output)
        try:
            status = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            status = None
        output.seek(0)
        return status, output.read().decode(errors="replace")


def boot(prefix, architecture):
    environment = harness.wine_environment(prefix)
    if architecture:
        environment["WINEARCH"] = architecture
    status, output = run(["wineboot", "-i"], environment, BOOT_TIMEOUT_SECONDS)
    # wineboot returns before the server has written the registry out.
    run(["wineserver", "-w"], environment)
    ready = status == 0 and (prefix / "system.reg").is_file() and \
        (prefix / "drive_c" / "windows" / "win.ini").is_file()
    if not ready:
        print(f"wineboot ({architecture or 'default architecture'}) failed with {status}:\n{output}",
              file=sys.stderr)
    return ready


def setup(prefix):
    if shutil.which("wine") is None or shutil.which("wineboot") is None:
        harness.skip_or_fail("Wine is not installed (no wine or wineboot on PATH)")
    if not harness.machine_runs_32bit_programs():
        harness.skip_for_machine(harness.NO_32BIT_REASON)
    if prefix.exists():
        run(["wineserver", "-k"], harness.wine_environment(prefix))
        shutil.rmtree(prefix)
    prefix.parent.mkdir(parents=True, exist_ok=True)

    # The launcher is a 32-bit program; a 64-bit prefix runs it as well, so
    # it is the fallback when this Wine cannot make a 32-bit one.
    if not boot(prefix, "win32"):
        shutil.rmtree(prefix, ignore_errors=True)
        if not boot(prefix, None):
            print("FAILED: no Wine prefix could be made", file=sys.stderr)
            return 1

    environment = harness.wine_environment(prefix)
    status, output = run(["wine", "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/t", "REG_SZ",
                          "/d", "null", "/f"], environment)
    if status != 0:
        print(f"FAILED: the null window driver could not be set: {output}", file=sys.stderr)
        return 1
    # The desktop process picks its driver when it starts: let the one that
    # may have started without a driver end first.
    run(["wineserver", "-w"], environment)
    harness.start_lingering_server(prefix)

    windows = prefix / "drive_c" / "windows"
    shutil.copyfile(windows / "win.ini", prefix / harness.PRISTINE_WIN_INI)
    names = sorted(entry.name for entry in windows.iterdir() if entry.is_file())
    (prefix / harness.PRISTINE_LISTING).write_text("".join(name + "\n" for name in names))
    (prefix / harness.READY_MARKER).write_text("")
    print(f"Wine prefix ready: {prefix}")
    return 0


def stop(prefix):
    if shutil.which("wineserver") is None or not prefix.is_dir():
        return 0
    run(["wineserver", "-k"], harness.wine_environment(prefix))
    return 0


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in ("setup", "stop"):
        print("usage: wine_prefix.py setup|stop   (the prefix is $OV_WINE_PREFIX)", file=sys.stderr)
        return 2
    prefix = Path(os.environ["OV_WINE_PREFIX"])
    return setup(prefix) if sys.argv[1] == "setup" else stop(prefix)


if __name__ == "__main__":
    sys.exit(main())
