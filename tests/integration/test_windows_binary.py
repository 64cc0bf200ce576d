"""The Windows programs as files, per flavour. Both: the right subsystem,
imports from Windows system libraries only (the C++ runtime is linked in, so
no libstdc++, libgcc or winpthread DLL has to travel with the launcher), and
the stand-in's four entry points exported under their plain names.

windows32, the product: 32-bit PE files for i386. Its __stdcall entry
points are the only ones whose names a linker decorates (OVCALLC@4), so
their plain export is checked here, where no Wine is needed.

windows64, the test build: PE32+ files for x86-64 at a fixed image base
below 4 GiB, without high-entropy or dynamic-base randomisation, so that
the addresses the engine's interface carries in 32 bits are never cut.
"""

import argparse
import re
import shutil
import subprocess
import sys
import unittest

import harness

SYSTEM_LIBRARIES = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}
GUI_SUBSYSTEM = 2
CONSOLE_SUBSYSTEM = 3
ENTRY_POINTS = ["AffTexteLongC", "FinInstance", "OV4InitInstance", "OVCALLC"]
# IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA and _DYNAMIC_BASE.
HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040

FORMAT = {"windows32": ("pei-i386", 0x10B), "windows64": ("pei-x86-64", 0x20B)}
OBJDUMP = {"windows32": "i686-w64-mingw32-objdump", "windows64": "x86_64-w64-mingw32-objdump"}
PROGRAMS = ("OVTST552.EXE", "ovini.exe", "ovrun.exe", harness.ENGINE_LIBRARY)


class PeHeaders:
    """What objdump -p says about one program."""

    def __init__(self, objdump, path):
        text = subprocess.run([objdump, "-p", str(path)], check=True, capture_output=True, text=True).stdout
        self.text = text
        format_match = re.search(r"file format (\S+)", text)
        self.file_format = format_match.group(1) if format_match else None
        self.magic = self.number(r"^Magic\s+([0-9a-fA-F]+)")
        self.subsystem = self.number(r"^Subsystem\s+([0-9a-fA-F]+)")
        self.image_base = self.number(r"^ImageBase\s+([0-9a-fA-F]+)")
        self.dll_characteristics = self.number(r"^DllCharacteristics\s+([0-9a-fA-F]+)")
        self.imports = [name.lower() for name in re.findall(r"DLL Name:\s*(\S+)", text)]
        names = text.split("[Ordinal/Name Pointer] Table", 1)
        self.exports = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)$", names[1], re.MULTILINE) if len(names) == 2 else []

    def number(self, pattern):
        match = re.search(pattern, self.text, re.MULTILINE)
        return int(match.group(1), 16) if match else None


class WindowsBinaryTest(unittest.TestCase):
    target = None

    def headers(self, name):
        return PeHeaders(OBJDUMP[self.target.flavour], self.target.build_dir / name)

    def check_program(self, name, subsystem=None):
        headers = self.headers(name)
        file_format, magic = FORMAT[self.target.flavour]
        self.assertEqual(headers.file_format, file_format, headers.text)
        self.assertEqual(headers.magic, magic, f"{name}: PE32 is 0x10b, PE32+ 0x20b")
        if subsystem is not None:
            self.assertEqual(headers.subsystem, subsystem)
        self.assertIn("kernel32.dll", headers.imports, headers.text)
        self.assertLessEqual(set(headers.imports), SYSTEM_LIBRARIES, headers.imports)
        for runtime in ("libstdc++", "libgcc", "libwinpthread"):
            self.assertFalse([dll for dll in headers.imports if dll.startswith(runtime)], headers.imports)
        if self.target.flavour == "windows64":
            self.assertLess(headers.image_base + 0x1000000, 1 << 32, f"{name}: image base {headers.image_base:#x}")
            self.assertEqual(headers.dll_characteristics & (HIGH_ENTROPY_VA | DYNAMIC_BASE), 0,
                             f"{name}: DllCharacteristics {headers.dll_characteristics:#x}")

    def test_launcher_is_a_gui_program_importing_system_libraries_only(self):
        self.check_program("OVTST552.EXE", GUI_SUBSYSTEM)

    def test_tools_are_console_programs_importing_system_libraries_only(self):
        for name in ("ovini.exe", "ovrun.exe"):
            with self.subTest(name=name):
                self.check_program(name, CONSOLE_SUBSYSTEM)

    def test_standin_exports_the_four_entry_points_under_their_plain_names(self):
        self.check_program(harness.ENGINE_LIBRARY)
        self.assertEqual(self.headers(harness.ENGINE_LIBRARY).exports, ENTRY_POINTS)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--target", choices=tuple(harness.FLAVOURS), default="windows32")
    options, rest = parser.parse_known_args()
    target = harness.make_target(options.target)
    if shutil.which(OBJDUMP[target.flavour]) is None:
        harness.skip_or_fail(f"{OBJDUMP[target.flavour]} is not installed")
    missing = [name for name in PROGRAMS if not (target.build_dir / name).is_file()]
    if missing:
        harness.skip_or_fail(f"the {target.flavour} build in {target.build_dir} lacks {', '.join(missing)}")
    WindowsBinaryTest.target = target
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
