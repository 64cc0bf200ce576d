"""ovini on Linux and ovini.exe under Wine, on random settings files.

Each case is a random settings file of the kinds real files hold (odd
spacing, duplicates, comments, every line end and mixtures of them, long
lines, high bytes, NUL bytes, byte-order marks, UTF-8 and UTF-16 text,
missing brackets, keys before the first header) and a run of calls: reads
(get at several sizes and defaults, sections, keys, names padded with
blanks or in another letter case), one write or delete, and the same reads
again. Each target runs every call of many cases in one `ovini batch`
process, and what each call returns must be the same on both.

The bytes written are not compared: Wine rewrites the whole file where the
Linux layer, like Windows, changes only the lines it touches. Instead, Wine
also reads each file as the Linux layer left it after its write, and must
read it as the Linux layer does.

A disagreement prints the seed and case number that reproduce it, the call,
both answers and the smallest file found that still shows it. Without
--seed, a run takes a new seed from the clock and prints it.

    test_ovini_random.py [--seed N] [--files N] [--case N] [--show N] [--target windows32|windows64]

Differences kept on purpose (counted and printed, never failed):
- quoted-exact-fit: a quoted value or default whose unquoted text is exactly
  SIZE-1 bytes long. Wine returns one byte less (SIZE-2), as if it had cut
  the text and then dropped a closing quote that was not there; the Linux
  layer returns the whole text. Nothing can rely on losing that byte, and
  Windows is not known to lose it.
- wine-rewrite: reads after the write that differ because Wine's rewrite of
  the whole file changed what other lines mean: it drops a "[]" header (a
  section no name reaches), so the keys under it join the section above,
  and it drops the text after a NUL, so that blanks before the NUL are then
  trimmed ("[a \0]" is the section "a " before, "a" after). Windows, like
  the Linux layer, keeps the lines a write does not touch. Such a case only
  counts as excluded when every call agrees on Wine's rewrite of the file
  (which holds no such line any more) and Wine reads the file the Linux
  layer wrote as the Linux layer does.

The calls pass names, defaults and values shorter than 32767 bytes (see
CALL_TEXT_LIMIT), and UTF-16 files hold whole code units.
"""

import argparse
import dataclasses
import os
import random
import sys
import time
from pathlib import Path

import harness
import wine_prefix

DEFAULT_FILES = 5000
CHUNK = 400
SHRINK_NUMBERS = 9000000
SIZES = (1, 2, 3, 4, 5, 6, 8, 10, 16, 32, 260, 300, 525)
BLANKS = " \t\x0b\x0c\x1a"
# Names, defaults and values that calls pass stay well short of 32767 bytes,
# from where on Wine converts them wrongly (reads of such a name answer with
# bytes of it, a value is written as other characters). Lines of the files
# may be longer.
CALL_TEXT_LIMIT = 2000

# Windows-1252: byte 0x80-0x9F as characters; the five undefined bytes stand
# for the C1 controls of the same value.
_CP1252_80 = ("\u20ac\x81\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\x8d\u017d\x8f"
              "\x90\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a\u0153\x9d\u017e\u0178")
ANSI_CHARS = "".join(chr(b) if b < 0x80 or b >= 0xA0 else _CP1252_80[b - 0x80] for b in range(256))
_ANSI_BYTE = {char: byte for byte, char in enumerate(ANSI_CHARS)}


def ansi(text):
    """Text of Windows-1252 characters as its bytes."""
    return bytes(_ANSI_BYTE[char] for char in text)


def callable_text(text):
    """What of the text a call can pass: Windows-1252 characters, no NUL and
    no line break, at most CALL_TEXT_LIMIT of them."""
    return "".join(char for char in text if char in _ANSI_BYTE and char not in "\0\r\n")[:CALL_TEXT_LIMIT]


# Characters a Unicode file may hold that the code page cannot (a best fit
# or '?'), and some that look like the syntax but are not.
UNICODE_EXTRA = "\u0101\u0131\u4e2d\u00e9\u2000\u3000\ufeff\ufffd\uff1d\uff3b\uff3d\u2028\U0001f600\u0410"

SECTIONS = ["a", "B", "Setup", "OVTST552", "TEST", "x y", "Caf\xe9", "s]t", ";c", "#h", "\u20acuro", "a]"]
KEYS = ["k", "K", "Path", "TRACE", "x y", ";k", "#k", "n\xe9", "", "Flag", "=", "k]"]


# -- Generating a case ----------------------------------------------------------

@dataclasses.dataclass
class Case:
    """A random file (as lines of text, their line ends and an encoding, or
    raw bytes) and the calls made on it; write_at is the index of the write
    or delete."""
    number: int
    encoding: str
    lines: list
    ends: list
    calls: list
    write_at: int
    raw: bytes = None

    def data(self):
        """The file's bytes; None for no file."""
        if self.raw is not None:
            return self.raw
        if self.lines is None:
            return None
        text = "".join(line + end for line, end in zip(self.lines, self.ends))
        if self.encoding == "ansi":
            return ansi(text)
        if self.encoding == "utf-8":
            # Lone surrogates \udc80-\udcff stand for bytes that are no UTF-8.
            return b"\xef\xbb\xbf" + text.encode("utf-8", "surrogateescape")
        if self.encoding == "utf-16-le":
            return b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass")
        return b"\xfe\xff" + text.encode("utf-16-be", "surrogatepass")

    def with_lines(self, lines, ends, calls):
        return dataclasses.replace(self, lines=lines, ends=ends, calls=calls, write_at=None)

    def with_bytes(self, data):
        """The same calls on other bytes."""
        return dataclasses.replace(self, raw=data)


class Generator:
    def __init__(self, rng, encoding):
        self.rng = rng
        self.encoding = encoding
        self.sections = []
        self.keys = []
        self.values = []

    def char(self):
        rng = self.rng
        roll = rng.random()
        if roll < 0.75:
            return rng.choice("abcdefgkxyzKPT0123456789 _.-:\\/")
        if roll < 0.85:
            return rng.choice(ANSI_CHARS[0x80:])
        if roll < 0.9:
            return rng.choice("\"';#=[]" + BLANKS)
        if self.encoding == "ansi" or roll < 0.95:
            return rng.choice(ANSI_CHARS[1:0x20].replace("\r", "").replace("\n", ""))
        if self.encoding == "utf-8":
            return rng.choice(UNICODE_EXTRA + "\udc80\udcc3\udce2\udcf0\udcff\udced\udca0")
        return rng.choice(UNICODE_EXTRA + "\ud800\udc00")

    def text(self, low, high):
        rng = self.rng
        roll = rng.random()
        if roll < 0.02:
            length = rng.randint(300, 1200)
        elif roll < 0.025:
            length = rng.randint(65536, 70000)
        else:
            length = rng.randint(low, high)
        return "".join(self.char() for _ in range(length))

    def pad(self):
        rng = self.rng
        if rng.random() < 0.7:
            return ""
        return "".join(rng.choice(BLANKS) for _ in range(rng.randint(1, 3)))

    def name(self, vocabulary, used):
        rng = self.rng
        roll = rng.random()
        if used and roll < 0.4:
            name = rng.choice(used)
        elif roll < 0.85:
            name = rng.choice(vocabulary)
        else:
            name = self.text(0, 6).replace("=", "").replace("]", "")
        if rng.random() < 0.2:
            name = name.swapcase() if name.isascii() else name
        used.append(name)
        return name

    def value(self):
        rng = self.rng
        roll = rng.random()
        if roll < 0.1:
            value = ""
        elif roll < 0.3:
            value = rng.choice(["C:\\Games\\Orvane", "1", "0", "OVTST552.EXE /T", "Caf\xe9", "a=b", "x ;note"])
        else:
            value = self.text(1, 14)
        if rng.random() < 0.2:
            quote = rng.choice("\"'")
            value = quote + value + (quote if rng.random() < 0.85 else "")
        self.values.append(value)
        return value

    def maybe_nul(self, line):
        if self.rng.random() < 0.04:
            at = self.rng.randint(0, len(line))
            return line[:at] + "\0" + line[at:]
        return line

    def line(self):
        rng = self.rng
        roll = rng.random()
        if roll < 0.18:
            tail = rng.choice(["", "", "", " ; c", "]", "x]", " junk"])
            return self.pad() + "[" + self.pad() + self.name(SECTIONS, self.sections) + self.pad() + "]" + tail
        if roll < 0.2:
            return rng.choice(["[", "[" + self.name(SECTIONS, self.sections), "[]", "[ ]", "[" + "\0" + "x]"])
        if roll < 0.65:
            return (self.pad() + self.name(KEYS, self.keys) + self.pad() + "=" + self.pad() + self.value() +
                    self.pad())
        if roll < 0.72:
            return self.pad() + self.name(KEYS, self.keys) + self.pad()
        if roll < 0.8:
            return self.pad() + rng.choice(";#") + self.text(0, 10)
        if roll < 0.9:
            return self.pad()
        return self.text(0, 20)

    def lines(self):
        rng = self.rng
        count = rng.choice([0, 1, 2, 3, 5, 8, 12, 20, 30])
        lines = []
        if rng.random() < 0.6:
            lines.append("[" + self.name(SECTIONS, self.sections) + "]")
        for _ in range(count):
            lines.append(self.maybe_nul(self.line()))
        style = rng.choice(["\r\n", "\r\n", "\r\n", "\n", "\n", "\r", "mixed"])
        ends = [rng.choice(["\r\n", "\n", "\r"]) if style == "mixed" else style for _ in lines]
        if ends and rng.random() < 0.2:
            ends[-1] = ""
        return lines, ends

    def call_name(self, used, vocabulary, padded):
        rng = self.rng
        name = rng.choice(used) if used and rng.random() < 0.75 else rng.choice(vocabulary)
        if rng.random() < 0.15 and name.isascii():
            name = name.swapcase()
        if padded and rng.random() < 0.15:
            name = rng.choice(["", " ", "\t", "\x0b"]) + name + rng.choice(["", " ", "\t"])
        # Calls pass ANSI text: a character the code page lacks cannot be asked for.
        return callable_text(name)

    def default(self):
        rng = self.rng
        roll = rng.random()
        if roll < 0.3:
            return rng.choice(["dflt", "", "none  ", "none \t", "  x", "\"q\"", "'q'", "\"", "0123456789AB",
                               "\xe9t\xe9"])
        return callable_text(rng.choice(self.values) if roll < 0.4 and self.values else self.text(0, 8))

    def size(self):
        rng = self.rng
        if self.values and rng.random() < 0.3:
            return max(1, len(rng.choice(self.values)) + rng.choice([-1, 0, 1, 2]))
        return rng.choice(SIZES)

    def read(self):
        rng = self.rng
        roll = rng.random()
        section = self.call_name(self.sections, SECTIONS, True)
        if roll < 0.65:
            call = ["get", section, self.call_name(self.keys, KEYS, True)]
            if rng.random() < 0.8:
                call.append(self.default())
                if rng.random() < 0.6:
                    call.append(str(self.size()))
            return tuple(call)
        size = [] if rng.random() < 0.4 else [str(rng.choice(SIZES[:8] + (300,)))]
        if roll < 0.8:
            return ("sections", *size)
        return ("keys", section, *size)

    def write(self):
        rng = self.rng
        roll = rng.random()
        section = self.call_name(self.sections, SECTIONS, True)
        key = self.call_name(self.keys, KEYS, True)
        if roll < 0.6:
            value = callable_text(self.value())
            if rng.random() < 0.2:
                value = self.pad() + value + self.pad()
            return ("set", section, key, value)
        if roll < 0.85:
            return ("delete", section, key)
        return ("delete", section)


def make_case(seed, number):
    rng = random.Random(f"{seed}:{number}")
    encoding = rng.choices(["ansi", "utf-8", "utf-16-le", "utf-16-be"], [70, 13, 13, 4])[0]
    generator = Generator(rng, encoding)
    roll = rng.random()
    if roll < 0.02:
        lines, ends = None, None
    else:
        lines, ends = generator.lines()
    reads = [generator.read() for _ in range(8)]
    calls = reads + [generator.write()] + reads
    return Case(number, encoding, lines, ends, calls, len(reads))


# -- Running cases on both targets ---------------------------------------------

def escape(text):
    out = []
    for byte in ansi(text) if isinstance(text, str) else text:
        if byte == 0x5C:
            out.append("\\\\")
        elif byte == 0x09:
            out.append("\\t")
        elif byte == 0x0A:
            out.append("\\n")
        elif byte == 0x0D:
            out.append("\\r")
        elif byte < 0x20 or byte >= 0x7F:
            out.append(f"\\x{byte:02x}")
        else:
            out.append(chr(byte))
    return "".join(out)


class Runner:
    """Runs the calls of many cases in one ovini batch process per target."""

    def __init__(self, native, wine):
        self.native = native
        self.wine = wine
        self.runs = 0
        self.calls = {native.name: 0, wine.name: 0}

    def batch(self, target, named_calls):
        """named_calls: (file name, call) pairs. Returns each call's output."""
        self.runs += 1
        self.calls[target.name] += len(named_calls)
        calls_file = target.scratch / f"calls-{self.runs}.txt"
        lines = ["\t".join([call[0], name] + [escape(part) for part in call[1:]]) for name, call in named_calls]
        calls_file.write_text("".join(line + "\n" for line in lines))
        result = target.run_tool("ovini", ["batch", target.path_text(calls_file)], timeout=600)
        if result.status != 0:
            raise AssertionError(f"ovini batch failed on {target.name}: {result}")
        outputs = result.stdout.split(b"\0\n")
        if len(outputs) != len(named_calls) + 1 or outputs[-1] != b"":
            raise AssertionError(f"ovini batch on {target.name} gave {len(outputs) - 1} outputs "
                                 f"for {len(named_calls)} calls")
        return outputs[:-1]

    def run(self, cases):
        """Runs the cases. Returns an Outcome for each."""
        names = {case.number: f"{case.number:07d}.ini" for case in cases}
        named = []
        for case in cases:
            data = case.data()
            for target in (self.native, self.wine):
                if data is None:
                    target.remove_file("r" + names[case.number])
                else:
                    target.write_file("r" + names[case.number], data)
            named.extend(("r" + names[case.number], call) for call in case.calls)
        native = self.batch(self.native, named)
        wine = self.batch(self.wine, named)

        # Under Wine alone: the reads after the write, of the file as the
        # Linux layer wrote it; and the file once Wine has rewritten it.
        named_wine = []
        for case in cases:
            if case.write_at is None:
                continue
            written = self.native.read_file("r" + names[case.number])
            if written is not None:
                self.wine.write_file("w" + names[case.number], written)
            named_wine.extend(("w" + names[case.number], call) for call in case.calls[case.write_at + 1:])
            if case.lines is not None:
                self.wine.write_file("p" + names[case.number], case.data())
                named_wine.extend(("p" + names[case.number], call) for call in REWRITE_PROBE)
        wine_alone = iter(self.batch(self.wine, named_wine) if named_wine else [])

        outcomes = []
        at = 0
        for case in cases:
            outcome = Outcome(list(zip(native[at:at + len(case.calls)], wine[at:at + len(case.calls)])))
            at += len(case.calls)
            if case.write_at is not None:
                outcome.wine_on_written = [next(wine_alone) for _ in case.calls[case.write_at + 1:]]
                if case.lines is not None:
                    for _ in REWRITE_PROBE:
                        next(wine_alone)
                    outcome.rewritten = self.wine.read_file("p" + names[case.number])
            outcomes.append(outcome)
        for case in cases:
            for prefix in "rwp":
                self.native.remove_file(prefix + names[case.number])
                self.wine.remove_file(prefix + names[case.number])
        return outcomes


class Outcome:
    """What the calls of one case gave: pairs (Linux, Wine) for every call;
    Wine's reads after the write of the file the Linux layer wrote; the
    file's bytes once Wine has rewritten it (None without a file)."""

    def __init__(self, pairs):
        self.pairs = pairs
        self.wine_on_written = []
        self.rewritten = None


# Writes that make Wine rewrite the whole file from what it read of it: a
# key of its own, then its delete.
REWRITE_PROBE = (("set", "", "ov-rewrite-probe", "1"), ("delete", "", "ov-rewrite-probe"))


# -- Judging ------------------------------------------------------------------

def quoted_exact_fit(call, native, wine):
    """Wine's SIZE-2 for a quoted text of exactly SIZE-1 bytes."""
    if call[0] != "get" or len(call) < 5:
        return False
    size = int(call[4])
    try:
        native_count, native_text = native.rstrip(b"\n").split(b"\t", 1)
        wine_count, wine_text = wine.rstrip(b"\n").split(b"\t", 1)
    except ValueError:
        return False
    return (int(native_count) == size - 1 and int(wine_count) == size - 2 and size >= 2 and
            wine_text == native_text[:-1])


def judge(case, outcome, rewrite_agrees=False):
    """The case's first disagreement as (call index, Linux, Wine, kind), or
    None; and the kinds of the differences excluded. rewrite_agrees: the
    same calls agree on Wine's own rewrite of the file."""
    excluded = []
    for index, (call, (native, wine)) in enumerate(zip(case.calls, outcome.pairs)):
        if native == wine:
            continue
        if quoted_exact_fit(call, native, wine):
            excluded.append("quoted-exact-fit")
            continue
        if rewrite_agrees and index > case.write_at:
            excluded.append("wine-rewrite")
            continue
        return (index, native, wine, "call"), excluded
    for offset, wine in enumerate(outcome.wine_on_written):
        index = case.write_at + 1 + offset
        native = outcome.pairs[index][0]
        if native != wine and not quoted_exact_fit(case.calls[index], native, wine):
            return (index, native, wine, "Wine reading the file the Linux layer wrote"), excluded
    return None, excluded


def judge_all(runner, cases):
    """Runs the cases and judges each: (case, failure, excluded kinds). A
    case whose answers differ only after the write is run again on Wine's
    rewrite of its file: when every call agrees there, the difference came
    from the rewrite, which changes what some of its lines mean."""
    outcomes = runner.run(cases)
    verdicts = [judge(case, outcome) for case, outcome in zip(cases, outcomes)]
    again = [index for index, (case, (failure, _)) in enumerate(zip(cases, verdicts))
             if failure is not None and failure[3] == "call" and case.write_at is not None and
             failure[0] > case.write_at and outcomes[index].rewritten is not None]
    if again:
        rewritten = [cases[index].with_bytes(outcomes[index].rewritten) for index in again]
        for index, case, outcome in zip(again, rewritten, runner.run(rewritten)):
            if judge(case, outcome)[0] is None:
                verdicts[index] = judge(cases[index], outcomes[index], rewrite_agrees=True)
    return [(case, failure, excluded) for case, (failure, excluded) in zip(cases, verdicts)]


# -- Making a disagreement small ---------------------------------------------------

def still_fails(runner, cases):
    """The first of the cases that still disagrees at its last call, or None."""
    for case, failure, _ in judge_all(runner, cases):
        if failure is not None and failure[0] == len(case.calls) - 1:
            return case
    return None


def shrink(runner, case, failure):
    """A smaller case showing the same disagreement: only the write (when the
    failing read follows it) and the failing call, then fewer lines, then
    fewer characters."""
    index = failure[0]
    calls = [case.calls[index]] if index <= case.write_at else [case.calls[case.write_at], case.calls[index]]
    current = case.with_lines(case.lines, case.ends, calls)
    current.write_at = 0 if len(calls) == 2 else None
    if current.lines is None or still_fails(runner, [current]) is None:
        return case
    for _ in range(400):
        candidates = []
        lines, ends = current.lines, current.ends
        chunk = max(1, len(lines) // 2)
        while chunk >= 1:
            for start in range(0, len(lines), chunk):
                candidates.append((lines[:start] + lines[start + chunk:], ends[:start] + ends[start + chunk:]))
            chunk //= 2
        for number, line in enumerate(lines):
            chunk = max(1, len(line) // 2)
            while chunk >= 1:
                for start in range(0, len(line), chunk):
                    candidates.append((lines[:number] + [line[:start] + line[start + chunk:]] + lines[number + 1:],
                                       ends))
                chunk //= 2
            if ends[number] not in ("", "\n"):
                candidates.append((lines, ends[:number] + ["\n"] + ends[number + 1:]))
        # Each candidate a file of its own: numbers no generated case has.
        made = [dataclasses.replace(current, lines=new_lines, ends=new_ends, number=SHRINK_NUMBERS + count)
                for count, (new_lines, new_ends) in enumerate(candidates[:600])]
        smaller = still_fails(runner, made) if made else None
        if smaller is None:
            break
        current = smaller
    return current


def describe(case):
    lines = [f"  encoding {case.encoding}, file {case.data()!r}"]
    for call in case.calls:
        lines.append("  ovini " + " ".join(repr(part) for part in call))
    return "\n".join(lines)


# -- Main ---------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=None, help="the run's seed (default: from the clock)")
    parser.add_argument("--files", type=int, default=DEFAULT_FILES, help="how many random files")
    parser.add_argument("--case", type=int, default=None, help="run this case of the seed alone")
    parser.add_argument("--show", type=int, default=5, help="how many disagreements to make small and print")
    parser.add_argument("--target", choices=tuple(harness.FLAVOURS), default="windows32",
                        help="the Windows flavour whose ovini.exe runs under Wine")
    options = parser.parse_args()
    seed = options.seed if options.seed is not None else int(time.time())

    native = harness.make_target("native")
    wine = harness.make_target(options.target)
    flavour = harness.FLAVOURS[options.target]
    if not (wine.prefix / harness.READY_MARKER).is_file() and flavour.prefix_env not in os.environ:
        # Run alone: the prefix the ctest fixture would have made.
        if wine_prefix.setup(flavour, wine.prefix) != 0:
            return 1
    reason = flavour.unavailable()
    if reason:
        harness.skip_or_fail(reason)
    if wine.missing_programs(wine.tool("ovini")):
        harness.skip_or_fail(f"the {options.target} build has no {wine.tool('ovini')}")
    if not (wine.prefix / harness.READY_MARKER).is_file():
        harness.skip_or_fail(f"the Wine prefix {wine.prefix} was not made")
    missing = native.missing_programs(native.tool("ovini"))
    if missing:
        print(f"FAILED: the native build lacks {', '.join(missing)}", file=sys.stderr)
        return 1

    numbers = [options.case] if options.case is not None else list(range(options.files))
    print(f"seed {seed}: {len(numbers)} files", flush=True)
    started = time.monotonic()
    native.begin()
    wine.begin()
    runner = Runner(native, wine)
    disagreements = 0
    excluded = {}
    shown = 0
    try:
        for start in range(0, len(numbers), CHUNK):
            cases = [make_case(seed, number) for number in numbers[start:start + CHUNK]]
            for case, failure, skipped in judge_all(runner, cases):
                for kind in skipped:
                    excluded[kind] = excluded.get(kind, 0) + 1
                if failure is None:
                    continue
                disagreements += 1
                index, native_output, wine_output, kind = failure
                print(f"\nDISAGREEMENT: seed {seed} case {case.number} call {index} ({kind}): "
                      f"ovini {' '.join(repr(part) for part in case.calls[index])}\n"
                      f"  Linux {native_output!r}\n  Wine  {wine_output!r}\n"
                      f"  reproduce: {Path(__file__).name} --seed {seed} --case {case.number}", flush=True)
                if shown < options.show:
                    shown += 1
                    print("  smallest case found:\n" + describe(shrink(runner, case, failure)), flush=True)
    finally:
        native.end()
        wine.end()
    seconds = time.monotonic() - started
    print(f"\nseed {seed}: {len(numbers)} files, {runner.calls[native.name]} calls natively and "
          f"{runner.calls[wine.name]} under Wine in {runner.runs} ovini runs, {seconds:.1f} s: "
          f"{disagreements} files disagreeing, excluded {excluded or 'nothing'}")
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
