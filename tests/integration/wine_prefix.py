"""Makes (setup) or shuts down (stop) the private Wine prefix of a test run,
one for each Windows flavour.

setup: a fresh prefix of the flavour's architecture (32-bit at
OV_WINE_PREFIX, 64-bit at OV_WINE64_PREFIX), with the null window driver
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


def boot(wine, prefix, architecture):
    environment = harness.wine_environment(prefix)
    if architecture:
        environment["WINEARCH"] = architecture
    status, output = run([wine, "wineboot", "-i"], environment, BOOT_TIMEOUT_SECONDS)
    # wineboot returns before the server has written the registry out.
    run(["wineserver", "-w"], environment)
    ready = status == 0 and (prefix / "system.reg").is_file() and \
        (prefix / "drive_c" / "windows" / "win.ini").is_file()
    if not ready:
        print(f"wineboot ({architecture or 'default architecture'}) failed with {status}:\n{output}",
              file=sys.stderr)
    return ready


def setup(flavour, prefix):
    reason = flavour.unavailable()
    if reason:
        harness.skip_or_fail(reason)
    if shutil.which("wineserver") is None:
        harness.skip_or_fail("Wine is not installed (no wineserver on PATH)")
    wine = flavour.wine_loader()
    if prefix.exists():
        run(["wineserver", "-k"], harness.wine_environment(prefix))
        shutil.rmtree(prefix)
    prefix.parent.mkdir(parents=True, exist_ok=True)

    # A 64-bit prefix runs 32-bit programs as well, so it is the 32-bit
    # flavour's fallback when this Wine cannot make a 32-bit one.
    if not boot(wine, prefix, flavour.wine_architecture):
        shutil.rmtree(prefix, ignore_errors=True)
        if flavour.bits == 64 or not boot(wine, prefix, None):
            print(f"FAILED: no Wine prefix for {flavour.name} could be made", file=sys.stderr)
            return 1

    environment = harness.wine_environment(prefix)
    status, output = run([wine, "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/t", "REG_SZ",
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
    if len(sys.argv) != 3 or sys.argv[1] not in ("setup", "stop") or sys.argv[2] not in harness.FLAVOURS:
        print(f"usage: wine_prefix.py setup|stop {'|'.join(harness.FLAVOURS)}   "
              "(the prefix is $OV_WINE_PREFIX or $OV_WINE64_PREFIX)", file=sys.stderr)
        return 2
    flavour = harness.FLAVOURS[sys.argv[2]]
    prefix = flavour.prefix()
    return setup(flavour, prefix) if sys.argv[1] == "setup" else stop(prefix)


if __name__ == "__main__":
    sys.exit(main())
