"""The release packages: each is built from its build (the package target),
unpacked in a temporary folder, and its programs run from there: the
launcher with the stand-in copied beside it, the launcher alone (which must
not find the stand-in the package carries), ovrun, its replay, and the
problem matchers shipped for their lines.

Run with --target native (the tar.gz) or a Windows flavour (the zip, under
Wine): windows32 is the product's package; windows64's is built by this test
alone, to run the same programs where Wine cannot run 32-bit ones.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile
from pathlib import Path

import harness
import sessions

SESSIONS = Path(__file__).resolve().parents[1] / "sessions"

BUILD_TIMEOUT_SECONDS = 900
ENGINE_MISSING_BOX = "ERROR: APPELOV: Init failed"

# Every file of each package, by its path inside it.
CONTENTS = {
    "native": {
        "bin/ovtst552", "bin/ovini", "bin/ovrun",
        "lib/orvane/standin/OV553KRN.DLL",
        "share/doc/orvane/README.md", "share/doc/orvane/standin/README.md",
        "share/doc/orvane/docs/robustness.md", "share/doc/orvane/docs/performance.md",
        "share/doc/orvane/docs/sample-trace.txt", "share/doc/orvane/docs/ovrun-problem-matcher.json",
        "share/doc/orvane/docs/trace-view.png",
    },
    "windows": {
        "OVTST552.EXE", "ovini.exe", "ovrun.exe", "README.md",
        "standin/OV553KRN.DLL", "standin/README.md",
        "docs/robustness.md", "docs/performance.md", "docs/sample-trace.txt", "docs/ovrun-problem-matcher.json",
        "docs/trace-view.png",
    },
}
# Where the launcher is, and the stand-in, inside each package.
PROGRAM_FOLDER = {"native": "bin", "windows": "."}
README = {"native": "share/doc/orvane/README.md", "windows": "README.md"}
STANDIN = {"native": "lib/orvane/standin/OV553KRN.DLL", "windows": "standin/OV553KRN.DLL"}
SUFFIX = {"native": ".tar.gz", "windows": ".zip"}
# The developers' folders, which no package holds.
SOURCE_FOLDER = re.compile(r"(?<![\w.])(scripts|tests|bench|fuzz|src)/")


def build_package(build_dir):
    """Runs the package target of build_dir; returns the folder it writes packages to."""
    process = subprocess.run(["cmake", "--build", str(build_dir), "--target", "package"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=BUILD_TIMEOUT_SECONDS)
    if process.returncode != 0:
        raise RuntimeError(f"the package target of {build_dir} failed:\n{process.stdout.decode(errors='replace')}")
    return Path(build_dir) / "packages"


def newest_package(packages, suffix):
    found = sorted(packages.glob("*" + suffix), key=lambda path: path.stat().st_mtime)
    if not found:
        raise RuntimeError(f"no *{suffix} in {packages}")
    return found[-1]


def members(package):
    """The file paths inside a package (folders left out)."""
    if package.name.endswith(".zip"):
        with zipfile.ZipFile(package) as archive:
            return {info.filename for info in archive.infolist() if not info.is_dir()}
    with tarfile.open(package) as archive:
        return {member.name.removeprefix("./") for member in archive.getmembers() if member.isfile()}


def debug_or_symbols(program):
    """What a program file carries that a stripped one does not: ELF section
    names (.debug_*, .symtab), or the size of a PE file's symbol table."""
    data = program.read_bytes()
    if data.startswith(b"\x7fELF"):
        return [name for name in (b".debug_", b".symtab") if name in data]
    coff = int.from_bytes(data[0x3C:0x40], "little") + 4  # after the "PE\0\0" signature
    symbols = int.from_bytes(data[coff + 12:coff + 16], "little")
    return [f"{symbols} symbols"] if symbols else []


def problems(matchers_file, text):
    """What a CI runner makes of text with the problem matchers of
    matchers_file: (owner, {property: group}) for each line a matcher takes.
    The patterns are JavaScript regular expressions, whose named groups
    Python spells (?P<name>...)."""
    found = []
    for matcher in json.loads(matchers_file.read_text())["problemMatcher"]:
        (pattern,) = matcher["pattern"]  # one-line matchers
        regexp = re.compile(re.sub(r"\(\?<(?=[A-Za-z_])", "(?P<", pattern["regexp"]))
        for line in text.splitlines():
            match = regexp.search(line)
            if match:
                found.append((matcher["owner"], {name: match.group(pattern[name]) for name in
                                                 ("file", "line", "column", "message") if name in pattern}))
    return found


def unpack(package, destination):
    if package.name.endswith(".zip"):
        with zipfile.ZipFile(package) as archive:
            archive.extractall(destination)
    else:
        with tarfile.open(package) as archive:
            # Python before 3.11.4 has no extraction filters.
            if hasattr(tarfile, "tar_filter"):
                archive.extractall(destination, filter="tar")
            else:
                archive.extractall(destination)


class PackageTest(sessions.SessionTestCase):
    package = None
    build_dir = None  # the build the package was made from

    def setUp(self):
        super().setUp()
        # A fresh copy of the package for each test, so that nothing one test
        # copies into it is seen by the next.
        self.root = self.target.scratch / "unpacked"
        unpack(self.package, self.root)
        self.programs = self.root / PROGRAM_FOLDER[self.target.name]
        self.target.build_dir = self.programs

    def copy_standin_beside_the_launcher(self):
        shutil.copy2(self.root / STANDIN[self.target.name], self.programs / harness.ENGINE_LIBRARY)

    def run_from_package(self, script):
        script_path = self.target.scratch / sessions.SCRIPT_NAME
        script_path.write_bytes(script.encode("cp1252"))
        transcript_path = self.target.scratch / sessions.TRANSCRIPT_NAME
        result = self.target.run_launcher(self.programs, environment={
            "OV_STANDIN_SCRIPT": self.target.path_text(script_path),
            "OV_STANDIN_TRANSCRIPT": self.target.path_text(transcript_path),
        })
        transcript = transcript_path.read_bytes() if transcript_path.exists() else b""
        return sessions.Session(result, transcript)

    def test_package_holds_the_programs_and_the_standin_apart(self):
        self.assertEqual(members(self.package), CONTENTS[self.target.name])
        self.assertFalse((self.programs / harness.ENGINE_LIBRARY).exists())
        if self.target.name == "native":
            for program in ("ovtst552", "ovini", "ovrun"):
                self.assertTrue(os.access(self.programs / program, os.X_OK), program)

    def test_every_link_of_the_readmes_leads_to_a_file_of_the_package(self):
        readmes = [name for name in CONTENTS[self.target.name] if name.endswith("README.md")]
        self.assertIn(README[self.target.name], readmes)
        for name in readmes:
            readme = self.root / name
            links = re.findall(r"\]\(([^)#\s]+)[^)]*\)", readme.read_text(encoding="utf-8"))
            for link in links:
                if re.match(r"[a-z]+:", link):
                    continue  # a web address
                with self.subTest(readme=name, link=link):
                    target = (readme.parent / link).resolve()
                    self.assertTrue(target.is_relative_to(self.root.resolve()), "outside the package")
                    self.assertTrue(target.is_file())
            if name == README[self.target.name]:
                self.assertGreaterEqual(len(links), 4, "the README links the stand-in's README and the docs")

    def test_the_readme_names_no_file_that_no_package_holds(self):
        # One README serves both packages, so a path it names is a file or
        # folder of either, from the package's top or from the README's folder.
        text = (self.root / README[self.target.name]).read_text(encoding="utf-8")
        self.assertIsNone(SOURCE_FOLDER.search(text))
        readme_folder = str(Path(README["native"]).parent) + "/"
        known = set()
        for member in CONTENTS["native"] | CONTENTS["windows"]:
            for path in (member, member.removeprefix(readme_folder)):
                parts = path.split("/")
                known |= {path} | {"/".join(parts[:count]) + "/" for count in range(1, len(parts))}
        named = [name for name in re.findall(r"`([^`\s]*/[^`\s]*)`", text) if not name.startswith(("$", "~", "/"))]
        self.assertIn("docs/ovrun-problem-matcher.json", named)
        for name in named:
            self.assertIn(name, known)

    def test_programs_are_stripped(self):
        for name in CONTENTS[self.target.name]:
            if not name.endswith((".md", ".txt")):
                self.assertEqual(debug_or_symbols(self.root / name), [], name)

    def test_launcher_with_the_standin_copied_beside_it_starts_and_exits(self):
        self.copy_standin_beside_the_launcher()
        self.editor_request("X")  # no mode: start-up and exit alone
        session = self.run_from_package("ENVI,* =>\n")
        self.assert_clean(session)
        self.assertEqual(session.events(), ["start result=1", "ENVI,<address>", "stop"])
        self.assertEqual(session.block_lines()[-1], "block verdict=ok")
        self.assertNotIn("COMMANDE", dict(self.settings_keys()))

    def test_launcher_alone_does_not_load_the_packaged_standin(self):
        self.editor_request("X")
        session = self.run_from_package("ENVI,* =>\n")
        self.assertEqual(session.status, 0, session.result)
        self.assertIn(ENGINE_MISSING_BOX, session.result.stderr_lines())
        self.assertEqual(session.lines, [])

    def test_ovrun_from_the_package_reports_a_failing_window(self):
        self.copy_standin_beside_the_launcher()
        script_path = self.target.scratch / sessions.SCRIPT_NAME
        script_path.write_bytes(b"ENVI,* =>\nOUVRE,* => key=*E*\nOUINON,* => text=\"O\"\n"
                                b"DFTOCS => text=\"7,FEN,OBJ.INP,Erreur\"\n")
        environment = {"OV_STANDIN_SCRIPT": self.target.path_text(script_path)}
        result = self.target.run_tool("ovrun", ["window", self.project_dir()], environment=environment)
        self.assertEqual(result.status, 1, result)
        self.assertEqual(result.stdout, b"OBJ.INP:7:0: error: Erreur [window FEN, type 1]\n")
        self.assertEqual(problems(self.matchers(), result.stdout.decode()), [
            ("ovrun", {"file": "OBJ.INP", "line": "7", "column": "0", "message": "Erreur [window FEN, type 1]"})])

    def matchers(self):
        return (self.root / README[self.target.name]).parent / "docs" / "ovrun-problem-matcher.json"

    def test_replay_from_the_package_fails_at_the_edited_line(self):
        # The package's own stand-in is found, and the FAIL line is an annotation at the trace's line.
        recorded = (SESSIONS / "window-error.txt").read_bytes()
        edited_from, edited_to = b'\n"FENETRE" => kind=1 text="2"', b'\n"FENETRES" => kind=1 text="2"'
        self.assertIn(edited_from, recorded)
        trace = self.target.scratch / "window-error.txt"
        trace.write_bytes(recorded.replace(edited_from, edited_to))
        line = recorded[:recorded.index(edited_from)].count(b"\n") + 2
        result = self.target.run_tool("ovrun", ["replay", self.target.path_text(trace)], timeout=300)
        self.assertEqual(result.status, 1, result)
        found = problems(self.matchers(), result.stdout.decode("utf-8"))
        self.assertEqual([(owner, groups["file"], groups["line"]) for owner, groups in found],
                         [("ovrun-replay", self.target.path_text(trace), str(line))], result)
        self.assertTrue(found[0][1]["message"].startswith('expected "FENETRES"'), found)

    def test_a_refused_trace_is_an_annotation_at_its_line(self):
        # A FAIL line that names its line after "not replayable: ", not first.
        recorded = (SESSIONS / "window-error.txt").read_bytes()
        setting = re.search(rb'\n# \[TEST\] REPCOURANT="[^"]*', recorded)
        trace = self.target.scratch / "refused.txt"
        trace.write_bytes(recorded[:setting.end()] + b" " + recorded[setting.end():])
        line = recorded[:setting.start()].count(b"\n") + 2
        result = self.target.run_tool("ovrun", ["replay", self.target.path_text(trace)], timeout=300)
        self.assertEqual(result.status, 1, result)
        found = problems(self.matchers(), result.stdout.decode("utf-8"))
        self.assertEqual([(owner, groups["file"], groups["line"]) for owner, groups in found],
                         [("ovrun-replay", self.target.path_text(trace), str(line))], result)
        self.assertTrue(found[0][1]["message"].startswith(f"not replayable: line {line}: "), found)

    def test_the_tools_name_the_packages_version(self):
        version = re.fullmatch(r"orvane-launcher-(.+)-(windows|linux)-[^-]+", self.package.name.removesuffix(
            SUFFIX[self.target.name])).group(1)
        for tool in ("ovrun", "ovini"):
            result = self.target.run_tool(tool, ["--version"])
            self.assertEqual((result.status, result.stdout), (0, f"{tool} {version}\n".encode()), result)

    def test_install_lays_out_the_same_files(self):
        if self.target.name != "native":
            self.skipTest("cmake --install runs for the Linux build")
        prefix = self.target.scratch / "prefix"
        subprocess.run(["cmake", "--install", str(self.build_dir), "--prefix", str(prefix)],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=120)
        installed = {str(path.relative_to(prefix)) for path in prefix.rglob("*") if path.is_file()}
        self.assertEqual(installed, CONTENTS["native"])


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--target", choices=harness.TARGETS, default="native")
    options, rest = parser.parse_known_args()
    target = harness.make_target(options.target)
    reason = target.unavailable()
    if reason:
        harness.skip_or_fail(reason)
    PackageTest.build_dir = target.build_dir
    PackageTest.package = newest_package(build_package(target.build_dir), SUFFIX[target.name])
    PackageTest.target = target
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
