"""Counts the Windows tests of a test run, per flavour, from ctest's JUnit
files (ctest --output-junit): the tests that run a flavour's programs under
Wine are those whose names end in .windows32 or .windows64.

    windows_counts.py [--require-one] JUNIT_FILE...

Prints one line per flavour: how many ran (passed or failed) and were
skipped, with the reasons the skipped ones gave. With --require-one, exits
with 1 when no Windows test ran under either flavour.
"""

import argparse
import re
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

FLAVOURS = ("windows32", "windows64")
# What a skipped script says of itself (harness.skip_or_fail, skip_for_machine).
_SKIP_REASON = re.compile(r"^SKIPPED(?: \(machine limit\))?: (.*)$", re.MULTILINE)


class Counts:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.skipped = 0
        self.reasons = []

    @property
    def ran(self):
        return self.passed + self.failed

    def add(self, case):
        if case.find("failure") is not None or case.get("status") == "fail":
            self.failed += 1
        elif case.find("skipped") is not None or case.get("status") == "notrun":
            self.skipped += 1
            match = _SKIP_REASON.search(case.findtext("system-out") or "")
            if match and match.group(1) not in self.reasons:
                self.reasons.append(match.group(1))
        else:
            self.passed += 1

    def line(self, flavour):
        text = f"{flavour}: {self.ran} ran ({self.passed} passed, {self.failed} failed), {self.skipped} skipped"
        if self.reasons:
            text += " (" + "; ".join(self.reasons) + ")"
        return text


def count(files):
    counts = {flavour: Counts() for flavour in FLAVOURS}
    for path in files:
        if not Path(path).is_file():
            continue
        for case in ElementTree.parse(path).getroot().iter("testcase"):
            flavour = case.get("name", "").rsplit(".", 1)[-1]
            if flavour in counts:
                counts[flavour].add(case)
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--require-one", action="store_true")
    parser.add_argument("files", nargs="*")
    options = parser.parse_args()
    counts = count(options.files)
    print("run-tests: Windows tests per flavour", file=sys.stderr)
    for flavour, tally in counts.items():
        print("  " + tally.line(flavour), file=sys.stderr)
    if options.require_one and not any(tally.ran for tally in counts.values()):
        print("run-tests: no Windows test ran under either flavour; under CI=true that fails the run",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
