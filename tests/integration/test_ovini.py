"""ovini on Linux and ovini.exe under Wine, given the same calls.

Every step runs on both targets, each in its own fresh Windows directory;
their outputs, exit statuses, the bytes of the files touched and the names
of the files in the Windows directory must be equal.

Where Windows and Wine are known to differ, the steps say which one the
Linux layer follows:
- A write to a file with odd lines: Windows changes only the lines it
  touches; Wine rewrites the whole file (CRLF everywhere, blanks trimmed,
  blank lines dropped, "[ Setup ]" made "[Setup]"). The Linux layer follows
  Windows, so the native bytes are checked against what Windows writes, and
  Wine's rewrite is asserted separately; both must read back the same.
- A delete in a missing file: Windows leaves an empty file; Wine creates
  nothing. Both return 1. The Linux layer follows Wine here on purpose (no
  stray files), so both targets are held to creating nothing.
"""

import argparse
import sys
import unittest
from pathlib import Path

import harness

FILE = "ovini-case.ini"


class OviniComparisonTest(unittest.TestCase):
    native = None
    wine = None

    def setUp(self):
        for target in (self.native, self.wine):
            target.begin()
            self.addCleanup(target.end)

    # -- Helpers -------------------------------------------------------------

    def files_of(self, target):
        """Names of the files that the test made in the Windows directory.
        win.ini is left out: the prefix always has one; tests that use it
        compare its bytes."""
        names = {entry.name for entry in target.windows_dir.iterdir() if entry.is_file()}
        if target is self.wine:
            pristine = set((target.prefix / harness.PRISTINE_LISTING).read_text().splitlines())
            names -= pristine
        return {name for name in names if name.lower() != "win.ini"}

    def seed(self, name, data):
        for target in (self.native, self.wine):
            target.write_file(name, data)

    def ovini(self, *arguments, files=(FILE,), same_bytes=True):
        """Runs one ovini call on both targets and compares what it did.

        Returns the native output. With same_bytes false, the files are
        returned for the caller to judge instead of being compared."""
        label = "ovini " + " ".join(arguments)
        native = self.native.run_tool("ovini", arguments)
        wine = self.wine.run_tool("ovini", arguments)
        self.assertEqual(native.stderr, b"", f"{label}: native: {native}")
        self.assertEqual((native.status, native.stdout), (wine.status, wine.stdout), label)
        self.assertEqual(self.files_of(self.native), self.files_of(self.wine), label)
        contents = {name: (self.native.read_file(name), self.wine.read_file(name)) for name in files}
        if same_bytes:
            for name, (native_bytes, wine_bytes) in contents.items():
                self.assertEqual(native_bytes, wine_bytes, f"{label}: {name}")
        return native.stdout if same_bytes else (native.stdout, contents)

    def get(self, *arguments, file=FILE):
        return self.ovini("get", file, *arguments, files=())

    def assert_reads(self, reads, file=FILE):
        """reads: (section, key, expected output) rows, read with the default
        "dflt". Both targets must give the expected output."""
        for section, key, expected in reads:
            self.assertEqual(self.get(section, key, "dflt", file=file), expected, f"{section}/{key}")

    # -- Writes that build a file up, and reads at the buffer boundaries ------

    def test_create_read_add_replace_delete(self):
        self.assertEqual(self.ovini("set", FILE, "Setup", "Path", "C:\\Games\\Orvane"), b"1\n")
        self.assertEqual(self.native.read_file(FILE), b"[Setup]\r\nPath=C:\\Games\\Orvane\r\n")

        # 15 bytes: size 15 cuts one, 16 fits exactly, 17 has room to spare.
        self.assertEqual(self.get("Setup", "Path"), b"15\tC:\\Games\\Orvane\n")
        self.assertEqual(self.get("Setup", "Path", "none", "1"), b"0\t\n")
        self.assertEqual(self.get("Setup", "Path", "none", "15"), b"14\tC:\\Games\\Orvan\n")
        self.assertEqual(self.get("Setup", "Path", "none", "16"), b"15\tC:\\Games\\Orvane\n")
        self.assertEqual(self.get("Setup", "Path", "none", "17"), b"15\tC:\\Games\\Orvane\n")
        self.assertEqual(self.get("Setup", "Path", "none", "0"), b"0\t\n")
        self.get("Setup", "Missing", "0123456789AB", "10")
        self.get("Setup", "Missing", "none  ")
        self.get("Setup", "Missing")
        self.get("Absent", "Path", "none")
        # Names match in any letter case.
        self.assertEqual(self.get("SETUP", "path"), b"15\tC:\\Games\\Orvane\n")

        # One pair of matching outer quotes is removed, blanks inside kept.
        self.ovini("set", FILE, "Setup", "Quoted", '"  a b  "')
        self.assertEqual(self.get("Setup", "Quoted"), b"7\t  a b  \n")
        self.ovini("set", FILE, "Setup", "Single", "'x'")
        self.ovini("set", FILE, "Setup", "Unpaired", '"C:\\X')
        self.ovini("set", FILE, "Setup", "Mixed", "\"abc'")
        self.ovini("set", FILE, "Setup", "Empty", '""')
        self.ovini("set", FILE, "Setup", "Nothing", "")
        self.assert_reads([("Setup", "Single", b"1\tx\n"), ("Setup", "Unpaired", b"5\t\"C:\\X\n"),
                           ("Setup", "Mixed", b"5\t\"abc'\n"), ("Setup", "Empty", b"0\t\n"),
                           ("Setup", "Nothing", b"0\t\n")])

        # A new section goes at the end, with no blank line before it.
        self.ovini("set", FILE, "Other", "Key", "v")
        # A new key goes after the last key of its section.
        self.ovini("set", FILE, "setup", "Mode", "2")
        # Replacing keeps the key's spelling in the file and its place.
        self.ovini("set", FILE, "SETUP", "PATH", "D:\\New")
        self.assertEqual(self.native.read_file(FILE),
                         b"[Setup]\r\nPath=D:\\New\r\nQuoted=\"  a b  \"\r\nSingle='x'\r\nUnpaired=\"C:\\X\r\n"
                         b"Mixed=\"abc'\r\nEmpty=\"\"\r\nNothing=\r\nMode=2\r\n[Other]\r\nKey=v\r\n")
        # The same value again changes nothing.
        self.ovini("set", FILE, "Setup", "Mode", "2")

        self.ovini("delete", FILE, "Setup", "QUOTED")
        self.ovini("delete", FILE, "Setup", "NoSuchKey")
        self.ovini("delete", FILE, "NoSuchSection")
        # Deleting a section takes its header and every key.
        self.ovini("delete", FILE, "setup")
        self.assertEqual(self.native.read_file(FILE), b"[Other]\r\nKey=v\r\n")
        # The last key of a section leaves the header behind.
        self.ovini("delete", FILE, "Other", "Key")
        self.assertEqual(self.native.read_file(FILE), b"[Other]\r\n")
        self.get("Other", "Key", "gone")

    def test_existing_file_in_other_letter_case_is_used_in_place(self):
        self.seed("OVINI-CASE.INI", b"[Setup]\r\nPath=x\r\n")
        self.assert_reads([("Setup", "Path", b"1\tx\n")])
        self.ovini("set", FILE, "Setup", "Path", "y", files=("OVINI-CASE.INI",))
        self.assertEqual(self.files_of(self.native), {"OVINI-CASE.INI"})
        self.assertEqual(self.native.read_file("OVINI-CASE.INI"), b"[Setup]\r\nPath=y\r\n")

    # -- WIN.INI ---------------------------------------------------------------

    def test_win_ini_publish_and_withdraw(self):
        before = b"[mail]\r\nmapi=1\r\n"
        self.seed("win.ini", before)
        files = ("win.ini",)
        self.assertEqual(self.ovini("set", "win.ini", "Orvane55", "LIGNEDECOMMANDE", "OVTST552.EXE /T", files=files),
                         b"1\n")
        self.assertEqual(self.native.read_win_ini(), before + b"[Orvane55]\r\nLIGNEDECOMMANDE=OVTST552.EXE /T\r\n")
        self.assertEqual(self.get("ORVANE55", "lignedecommande", file="WIN.INI"), b"15\tOVTST552.EXE /T\n")
        self.ovini("delete", "WIN.INI", "Orvane55", "LIGNEDECOMMANDE", files=files)
        self.assertEqual(self.native.read_win_ini(), before + b"[Orvane55]\r\n")
        # The next start writes the key right under the header it left.
        self.ovini("set", "Win.Ini", "Orvane55", "LIGNEDECOMMANDE", "", files=files)
        self.assertEqual(self.native.read_win_ini(), before + b"[Orvane55]\r\nLIGNEDECOMMANDE=\r\n")
        self.ovini("delete", "win.ini", "Orvane55", files=files)
        self.assertEqual(self.native.read_win_ini(), before)
        # win.ini is not a private file of the same name elsewhere.
        self.assertNotIn("ovini-case.ini", self.files_of(self.native))

    # -- Reads of a hand-written file --------------------------------------------

    def test_reads_of_hand_written_lines(self):
        self.seed(FILE, b"; comment\r\nStray=1\r\n[Setup]\r\n  Path  =  C:\\X  \r\n\tTab\t=\tt\t\r\n"
                        b";Hidden=1\r\n#Hash=2\r\nNoEquals\r\nEmpty=\r\nBlanks=   \r\nCafe=Caf\xe9\r\n"
                        b"Inner=a  b\r\nTwo=a=b\r\nNote=C:\\X ;note\r\nDup=first\r\nDup=second\r\n"
                        b"[ Spaced ]\r\nk=1\r\n[Broken\r\nk=2\r\n[LF]\nk=lf\n[CR]\rk=cr\r[End]\r\nLast=no break")
        self.assert_reads([
            ("Setup", "Path", b"4\tC:\\X\n"),
            ("Setup", "Tab", b"1\tt\n"),
            ("Setup", "Hidden", b"4\tdflt\n"),
            ("Setup", "#Hash", b"1\t2\n"),
            ("Setup", "NoEquals", b"4\tdflt\n"),
            ("Setup", "Empty", b"0\t\n"),
            ("Setup", "Blanks", b"0\t\n"),
            ("Setup", "Cafe", b"4\tCaf\xe9\n"),
            ("Setup", "Inner", b"4\ta  b\n"),
            ("Setup", "Two", b"3\ta=b\n"),
            ("Setup", "Note", b"10\tC:\\X ;note\n"),
            ("Setup", "Dup", b"5\tfirst\n"),
            ("Setup", "Stray", b"4\tdflt\n"),
            ("Spaced", "k", b"1\t1\n"),
            ("LF", "k", b"2\tlf\n"),
            ("CR", "k", b"2\tcr\n"),
            ("End", "Last", b"8\tno break\n"),
        ])

    # -- Lists of names: a null section or key -----------------------------------

    def test_sections_and_keys_list_names_as_read(self):
        # Comment lines stay out: Wine keeps them as keys, which is its own
        # artefact. Lists cut by a small buffer differ between Windows and
        # Wine, so the buffer here always has room.
        self.seed(FILE, b"[ Setup ]\r\n  Path  =  C:\\X  \r\nEmpty=\r\nNoEquals\r\n#Hash=2\r\nCafe=Caf\xe9\r\n"
                        b"[Other]\nk=1\n[Broken\r\n[Empty]\r\n[Last]\rx=1\ry=2")
        self.assertEqual(self.ovini("sections", FILE, files=()), b"23\nSetup\nOther\nEmpty\nLast\n")
        self.assertEqual(self.ovini("keys", FILE, "setup", files=()), b"22\nPath\nEmpty\n#Hash\nCafe\n")
        for arguments in (("keys", FILE, "Other"), ("keys", FILE, "Last"), ("keys", FILE, "Empty"),
                          ("keys", FILE, "Missing"), ("sections", "ovini-absent.ini"),
                          ("keys", "ovini-absent.ini", "Setup")):
            self.ovini(*arguments, files=())
        self.seed("win.ini", b"[Orvane55]\r\nLIGNEDECOMMANDE=OVTST552.EXE\r\nOther=1\r\n")
        self.assertEqual(self.ovini("keys", "WIN.INI", "orvane55", files=()), b"22\nLIGNEDECOMMANDE\nOther\n")

    # -- Writes to a hand-written file (Windows keeps the untouched lines) --------

    ODD = (b"; settings written by hand\r\n\r\n[ Setup ]\r\n  Path  =  C:\\X  \r\n\t#Note = hash \r\nMode=2\r\n"
           b"[Other]\nKey = v\nFlag\nLast=1\n")
    ODD_READS = [("Setup", "Path"), ("Setup", "#Note"), ("Setup", "Mode"), ("Setup", "New"), ("Other", "Key"),
                 ("Other", "Flag"), ("Other", "Last"), ("Other", "Added"), ("Third", "k")]

    def odd_write(self, arguments, windows_bytes):
        """One write to the odd file: native must give what Windows gives,
        Wine its rewritten file; both must read back the same values."""
        _, contents = self.ovini(*arguments, same_bytes=False)
        native_bytes, wine_bytes = contents[FILE]
        self.assertEqual(native_bytes, windows_bytes, " ".join(arguments))
        self.assert_wine_rewrote(wine_bytes)
        for section, key in self.ODD_READS:
            self.get(section, key, "dflt")

    def assert_wine_rewrote(self, data):
        self.assertTrue(data.endswith(b"\r\n"), data)
        lines = data[:-2].split(b"\r\n")
        for line in lines:
            self.assertNotIn(b"\n", line, data)
            self.assertNotEqual(line, b"", f"Wine kept a blank line: {data!r}")
            self.assertEqual(line, line.strip(), data)
        self.assertIn(b"[Setup]", lines)
        self.assertIn(b"Path=C:\\X", lines)

    def test_writes_to_hand_written_lines_change_only_those_lines(self):
        self.seed(FILE, self.ODD)
        expected = self.ODD.replace(b"Mode=2\r\n", b"Mode=3\r\n")
        self.odd_write(("set", FILE, "Setup", "Mode", "3"), expected)
        expected = expected.replace(b"Mode=3\r\n", b"Mode=3\r\nNew=1\r\n")
        self.odd_write(("set", FILE, "Setup", "New", "1"), expected)
        # New lines end in CRLF, whatever the lines around them use.
        expected = expected + b"Added=yes\r\n"
        self.odd_write(("set", FILE, "Other", "Added", "yes"), expected)
        expected = expected.replace(b"Key = v\n", b"")
        self.odd_write(("delete", FILE, "Other", "Key"), expected)
        self.odd_write(("set", FILE, "Third", "k", "v"), expected + b"[Third]\r\nk=v\r\n")
        self.odd_write(("delete", FILE, "Third"), expected)

    def test_new_section_after_a_last_line_without_break(self):
        self.seed(FILE, b"[Setup]\r\nPath=x")
        self.ovini("set", FILE, "New", "k", "v")
        self.assertEqual(self.native.read_file(FILE), b"[Setup]\r\nPath=x\r\n[New]\r\nk=v\r\n")

    # -- Files with a byte-order mark ------------------------------------------------

    def batch(self, target, calls):
        """Runs calls (tuples of bytes, the file first) in one ovini batch on
        target; returns each call's output."""
        path = target.scratch / "calls.txt"
        path.write_bytes(b"".join(call[0] + b"\t" + b"\t".join(call[1:]) + b"\n" for call in calls))
        result = target.run_tool("ovini", ["batch", target.path_text(path)])
        self.assertEqual((result.status, result.stderr), (0, b""), result)
        return result.stdout.split(b"\0\n")[:-1]

    def test_writes_to_marked_files_read_the_same_under_wine(self):
        # The Linux layer writes a UTF-16 or UTF-8-marked file in its own
        # encoding and leaves the other lines alone; the real functions must
        # read the file it leaves with the value written, as they read the
        # file they write themselves. (Batches pass the bytes 0xE9 and 0x80
        # as they are; a command line would take them through a code page.)
        value = b"x\xe9\x80"
        calls = [(b"set", FILE.encode(), b"Setup", b"Path", value), (b"set", FILE.encode(), b"New", b"k", value),
                 (b"get", FILE.encode(), b"Setup", b"Path"), (b"get", FILE.encode(), b"new", b"K")]
        for mark, encoding in ((b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be"), (b"\xef\xbb\xbf", "utf-8")):
            with self.subTest(encoding):
                self.seed(FILE, mark + "; c\n[Setup]\n  Path = a \nOther=1".encode(encoding))
                native = self.batch(self.native, calls)
                self.assertEqual(native, self.batch(self.wine, calls))
                self.assertEqual(native[2:], [b"3\tx\xe9\x80\n"] * 2)
                written = self.native.read_file(FILE)
                self.assertTrue(written.startswith(mark + "; c\n".encode(encoding)), written)
                self.wine.write_file("ovini-written.ini", written)
                reads = [(b"get", b"ovini-written.ini") + call[2:] for call in calls[2:]]
                self.assertEqual(self.batch(self.wine, reads), native[2:])

    def test_every_utf16_unit_reads_as_the_code_page_converts_it(self):
        # Values holding every UTF-16 code unit but the line breaks, blanks,
        # quotes and NUL, 256 to a key: each comes back in Windows-1252 as
        # the real functions convert it (the page's own characters, its best
        # fits, '?' for the rest and for each half of a surrogate pair).
        special = {0x00, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1A, 0x20, 0x22, 0x27}
        units = [unit for unit in range(0x10000) if unit not in special]
        lines = ["[U]"] + [f"k{start}=<" + "".join(chr(unit) for unit in units[start:start + 256]) + ">"
                           for start in range(0, len(units), 256)]
        self.seed(FILE, b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le", "surrogatepass"))
        calls = [(b"get", FILE.encode(), b"U", f"k{start}".encode(), b"", b"1000")
                 for start in range(0, len(units), 256)]
        native = self.batch(self.native, calls)
        self.assertEqual(len(native), len(calls))
        self.assertEqual(native, self.batch(self.wine, calls))

    # -- Deletes in a missing file -------------------------------------------------

    def test_delete_in_missing_file_returns_1_and_creates_nothing(self):
        # Windows would leave an empty file behind; Wine and our layer do not.
        self.assertEqual(self.ovini("delete", "gone1.ini", "Setup", "Path", files=("gone1.ini",)), b"1\n")
        self.assertEqual(self.ovini("delete", "gone2.ini", "Setup", files=("gone2.ini",)), b"1\n")
        self.assertEqual(self.files_of(self.native), set())

    # -- The tool's own arguments ------------------------------------------------

    def test_wrong_usage_exits_2_on_both_and_help_0(self):
        for arguments in ((), ("get", FILE, "Setup"), ("set", FILE, "Setup", "Key"), ("delete", FILE),
                          ("get", FILE, "Setup", "Key", "d", "12x"), ("remove", FILE, "Setup"), ("sections",),
                          ("sections", FILE, "x"), ("keys", FILE), ("keys", FILE, "Setup", "1", "2"),
                          ("get", FILE, "Setup", "Key", "", "1048577")):
            native = self.native.run_tool("ovini", arguments)
            wine = self.wine.run_tool("ovini", arguments)
            for result in (native, wine):
                self.assertEqual(result.status, 2, result)
                self.assertEqual(result.stdout, b"", result)
                # What was wrong, then the usage.
                said, usage = result.stderr.split(b"usage:", 1)
                self.assertRegex(said, rb"^ovini: \S.*\r?\n$", result)
                if arguments[-1:] in (("12x",), ("1048577",)):
                    self.assertIn(b"SIZE '" + arguments[-1].encode() + b"' is not a number of bytes from 0 to 1048576",
                                  said, result)
        for target in (self.native, self.wine):
            result = target.run_tool("ovini", ["--help"])
            self.assertEqual(result.status, 0, result)
            self.assertIn(b"ovini sections FILE", result.stdout, result)
            self.assertIn(b"0 to 1048576", result.stdout, result)
        self.assertEqual(self.files_of(self.native), set())

    def test_batch_names_each_bad_line_and_runs_the_rest(self):
        lines = [f"set\t{FILE}\tS\tK\tv", "frobnicate\tx", "", f"get\t{FILE}", "get\\q", f"keys\t{FILE}\tS\t9x",
                 f"get\t{FILE}\tS\tK"]
        for target in (self.native, self.wine):
            with self.subTest(target=target.name):
                calls = target.scratch / "calls.txt"
                calls.write_text("".join(line + "\n" for line in lines))
                name = target.path_text(calls)
                result = target.run_tool("ovini", ["batch", name])
                self.assertEqual(result.status, 2, result)
                # Each bad line has its empty output, so the outputs stay in line.
                self.assertEqual(result.stdout.split(b"\0\n"), [b"1\n", b"", b"", b"", b"", b"", b"1\tv\n", b""])
                self.assertEqual(result.stderr.decode().splitlines(), [
                    f"{name}:2: unknown call 'frobnicate'", f"{name}:3: an empty line",
                    f"{name}:4: get takes FILE SECTION KEY [DEFAULT [SIZE]], not 1 operand",
                    f"{name}:5: a bad escape (\\\\, \\t, \\r, \\n and \\xHH are the escapes)",
                    f"{name}:6: SIZE '9x' is not a number of bytes from 0 to 1048576"])
                folder = target.path_text(target.scratch)
                for unreadable, why in ((folder, "it is a folder"), (name + ".gone", "")):
                    result = target.run_tool("ovini", ["batch", unreadable])
                    self.assertEqual((result.status, result.stdout), (2, b""), result)
                    self.assertIn(f"ovini: cannot read the calls in {unreadable}: {why}", result.stderr.decode())


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--target", choices=tuple(harness.FLAVOURS), default="windows32")
    options, rest = parser.parse_known_args()
    native = harness.make_target("native")
    wine = harness.make_target(options.target)
    reason = wine.unavailable()
    if reason:
        harness.skip_or_fail(reason)
    missing = native.missing_programs(native.tool("ovini"))
    if missing:
        print(f"FAILED: the native build lacks {', '.join(missing)}", file=sys.stderr)
        sys.exit(1)
    OviniComparisonTest.native = native
    OviniComparisonTest.wine = wine
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
