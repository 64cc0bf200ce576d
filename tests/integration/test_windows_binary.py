"""The Windows programs as files: 32-bit PE, the right subsystem, and imports
from Windows system libraries only (the C++ runtime is linked in, so no
libstdc++, libgcc or winpthread DLL has to travel with the launcher)."""

import os
import re
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import harness

SYSTEM_LIBRARIES = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}
GUI_SUBSYSTEM = 2
CONSOLE_SUBSYSTEM = 3

OBJDUMP = shutil.which("i686-w64-mingw32-objdump")
BUILD_DIR = Path(os.environ.get("OV_WINDOWS_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "windows"))


class PeHeaders:
    """What objdump -p says about one program."""

    def __init__(self, path):
        text = subprocess.run([OBJDUMP, "-p", str(path)], check=True, capture_output=True, text=True).stdout
        self.text = text
        format_match = re.search(r"file format (\S+)", text)
        self.file_format = format_match.group(1) if format_match else None
        magic = re.search(r"^Magic\s+([0-9a-fA-F]+)", text, re.MULTILINE)
        self.magic = int(magic.group(1), 16) if magic else None
        subsystem = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", text, re.MULTILINE)
        self.subsystem = int(subsystem.group(1), 16) if subsystem else None
        self.imports = [name.lower() for name in re.findall(r"DLL Name:\s*(\S+)", text)]


class WindowsBinaryTest(unittest.TestCase):
    def check_program(self, name, subsystem):
        headers = PeHeaders(BUILD_DIR / name)
        self.assertEqual(headers.file_format, "pei-i386", headers.text)
        self.assertEqual(headers.magic, 0x10B, "not PE32 (0x20b would be PE32+)")
        self.assertEqual(headers.subsystem, subsystem)
        self.assertIn("kernel32.dll", headers.imports, headers.text)
        self.assertLessEqual(set(headers.imports), SYSTEM_LIBRARIES, headers.imports)
        for runtime in ("libstdc++", "libgcc", "libwinpthread"):
            self.assertFalse([dll for dll in headers.imports if dll.startswith(runtime)], headers.imports)

    def test_launcher_is_a_32_bit_gui_program_importing_system_libraries_only(self):
        self.check_program("OVTST552.EXE", GUI_SUBSYSTEM)

    def test_ovini_is_a_32_bit_console_program_importing_system_libraries_only(self):
        self.check_program("ovini.exe", CONSOLE_SUBSYSTEM)

    def test_ovrun_is_a_32_bit_console_program_importing_system_libraries_only(self):
        self.check_program("ovrun.exe", CONSOLE_SUBSYSTEM)


if __name__ == "__main__":
    if OBJDUMP is None:
        harness.skip_or_fail("i686-w64-mingw32-objdump is not installed")
    missing = [name for name in ("OVTST552.EXE", "ovini.exe", "ovrun.exe") if not (BUILD_DIR / name).is_file()]
    if missing:
        harness.skip_or_fail(f"the Windows build in {BUILD_DIR} lacks {', '.join(missing)}")
    program = unittest.main(exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)
