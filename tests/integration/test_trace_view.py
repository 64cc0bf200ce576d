"""ovrun trace view and ovrun replay --html end to end: the pages loaded in
headless Chromium after their scripts ran (what a person sees, and that
markup in a trace stays text), the Trace Event JSON and the Mermaid diagram,
a 27,000-call session, and an edited trace's failure beside its recording.

Run with --target native, windows32 or windows64 (the Windows flavours,
under Wine); the browser runs natively in every case.
"""

import json
import re
import time
from pathlib import Path

import browser
import harness

SESSIONS = Path(__file__).resolve().parents[1] / "sessions"
WINDOW_ERROR = SESSIONS / "window-error.txt"
# Where a person finds the pages and screenshots the tests made.
OUTPUT = harness.native_build_dir() / "test-output"
# The report as ovrun prints it, the message's stored line feeds as line breaks.
HANDOFF = "BTN_OK.PRO:-25536:0: error: Division \npar z\xe9ro\n [window CLIENTS, type 1]"
HOSTILE = "<script>document.title='owned'</script><img src=x onerror=\"document.title='owned'\">"
LOOP_TURNS = 13_498
# What a person does on the long session's page: filters on the loop's key,
# opens the slowest calls, and clicks the first row found, which lies inside
# the fold; the page must open the fold and draw that row in its run.
INTERACTION = b"""<script>
setTimeout(function () {
  var filter = document.querySelector('.tools input');
  filter.value = '*m*';
  filter.dispatchEvent(new Event('input'));
  document.querySelector('.tools button').click();
  setTimeout(function () {
    document.querySelector('.panel .lanes .row').click();
    document.body.setAttribute('data-shown', document.getElementById('r0-3') ? 'shown' : 'missing');
  }, 1000);
}, 100);
</script>
"""


def quoted(text):
    """A text as the trace quotes it (see replay_trace.h)."""
    out = ""
    for byte in text.encode("cp1252"):
        if byte < 32 or byte >= 127:
            out += f"\\x{byte:02X}"
        else:
            out += ("\\" if chr(byte) in '"\\$' else "") + chr(byte)
    return f'"{out}"'


def engine_calls(trace):
    """The command word of each engine call of a trace, in order; a start is "start"."""
    words = []
    for line in trace.decode("cp1252").splitlines():
        if line.startswith("@start =>"):
            words.append("start")
        elif line.startswith('"'):
            words.append(re.match(r'"((?:[^"\\]|\\.)*)"', line).group(1).split(",")[0])
    return words


def long_session():
    """window-error.txt's header, then a window test that loops through its
    screens: 27,000 engine calls in all."""
    recorded = WINDOW_ERROR.read_bytes()
    header = recorded[:recorded.index(b"@start")]
    loop = b'"ECRAN,SAISIE" => key="*M*"  # 0.1 ms\n"FENETRE" => kind=1 text="2"  # 0.0 ms\n' * LOOP_TURNS
    body = (b'@start => accept  # 0.1 ms\n"ENVI,"* => none  # 0.0 ms, sent "ENVI,1234"\n"OUVRE,/tmp/rec/proj/_OV_GO.OVW /RE" => key="RET"  # 0.0 ms\n' + loop +
            b'"ECRAN,SAISIE" => key="ESC"  # 12.5 ms\n# stop\n# the launcher ends\n')
    return header + body


class TraceViewTest(harness.TargetTestCase):
    def view(self, trace, *outputs):
        """Runs ovrun trace view on trace; returns the result and the paths of
        the --html, --chrome and --mermaid files it was asked for."""
        paths = {name: self.target.scratch / f"{Path(trace).stem}.{suffix}"
                 for name, suffix in (("html", "html"), ("chrome", "json"), ("mermaid", "mmd")) if name in outputs}
        arguments = ["trace", "view", self.target.path_text(trace)]
        for name, path in paths.items():
            arguments += [f"--{name}", self.target.path_text(path)]
        result = self.target.run_tool("ovrun", arguments, timeout=120)
        self.assertEqual(result.status, 0, result)
        return result, paths

    def test_window_error_page_trace_events_and_diagram(self):
        _, paths = self.view(WINDOW_ERROR, "html", "chrome", "mermaid")
        calls = engine_calls(WINDOW_ERROR.read_bytes())
        events = json.loads(paths["chrome"].read_bytes())["traceEvents"]
        complete = [event for event in events if event["ph"] == "X"]
        self.assertEqual([event["name"] for event in complete], calls)
        for event in complete:
            self.assertTrue({"ts", "dur", "pid", "tid", "name", "args"} <= event.keys(), event)
        self.assertEqual([event["ts"] for event in complete], sorted(event["ts"] for event in complete))
        self.assertIn(HANDOFF, [event["args"].get("report") for event in events if event["ph"] == "i"])
        diagram = paths["mermaid"].read_text(encoding="utf-8")
        self.assertTrue(diagram.startswith("sequenceDiagram\n"), diagram[:100])
        self.assertEqual(diagram.count("Launcher->>Engine: "), len(calls))

        page = paths["html"].read_text(encoding="utf-8")
        self.assertIn("default-src 'none'", page)
        self.assertNotRegex(page, r"(?i)<(link|img|iframe|object|embed)\b|\bsrc\s*=|url\(|@import|fetch\(|XMLHttp")
        browser.require()
        dom, _ = browser.load(paths["html"])
        for word in set(calls) - {"start"}:
            self.assertRegex(dom.text, rf"\b{re.escape(word)}\b")
        self.assertIn(" ".join(HANDOFF.split()), dom.text)
        OUTPUT.mkdir(exist_ok=True)
        kept = OUTPUT / f"window-error-{self.target.flavour}.html"
        kept.write_bytes(paths["html"].read_bytes())
        browser.screenshot(kept, OUTPUT / f"window-error-{self.target.flavour}.png")
        self.assertGreater((OUTPUT / f"window-error-{self.target.flavour}.png").stat().st_size, 10_000)

    def test_markup_in_a_trace_stays_text(self):
        recorded = WINDOW_ERROR.read_bytes()
        trace = self.target.scratch / "hostile.txt"
        # Appended to a run of its own: two runs, each with its section.
        trace.write_bytes(recorded + b"# ======== the next run ========\n" +
                          recorded.replace(b'"FENETRE" => kind=1 text="2"',
                                           b'"FENETRE" => kind=1 text=' + quoted(HOSTILE).encode() +
                                           b' extratext=' + quoted("</script><b>").encode()))
        _, paths = self.view(trace, "html", "mermaid")
        page = paths["html"].read_text(encoding="utf-8")
        self.assertEqual(page.count("<script"), 2)
        self.assertNotIn("<img", page)
        self.assertNotIn("<b>", page)
        self.assertNotRegex(paths["mermaid"].read_text(encoding="utf-8"), r"<(script|img|b)\b")
        browser.require()
        dom, _ = browser.load(paths["html"])
        self.assertIn(HOSTILE, dom.text)
        self.assertEqual([dom.text.count(f"Run {run}: OVTST552") for run in (1, 2, 3)], [1, 1, 0])
        self.assertEqual(dom.count("a", href="#r1-run"), 1)
        self.assertEqual((dom.count("img"), dom.count("script"), dom.count("b")), (0, 2, 0))
        self.assertNotIn("owned", re.search(r"<title>(.*?)</title>", page).group(1))

    def test_a_27000_call_session_folds_its_loop_and_opens_quickly(self):
        trace = self.target.scratch / "long.txt"
        trace.write_bytes(long_session())
        self.assertEqual(len(engine_calls(trace.read_bytes())), 27_000)
        started = time.monotonic()
        _, paths = self.view(trace, "html", "chrome", "mermaid")
        self.assertLess(time.monotonic() - started, 10)
        events = json.loads(paths["chrome"].read_bytes())["traceEvents"]
        self.assertEqual(sum(event["ph"] == "X" for event in events), 27_000)
        folded = f"ECRAN,SAISIE / FENETRE \u00d7 {LOOP_TURNS:,}"
        diagram = paths["mermaid"].read_text(encoding="utf-8")
        self.assertIn(f"loop {folded}", diagram)
        self.assertIn(f"%% {2 * LOOP_TURNS - 2:,} calls folded into 1 loops", diagram)
        self.assertLess(diagram.count("\n"), 40)
        browser.require()
        dom, seconds = browser.load(paths["html"])
        self.assertLess(seconds, 60)
        self.assertIn(folded, dom.text)
        self.assertLess(sum((attributes.get("class") or "").startswith("row ") for attributes in dom.attributes), 50)

        acted = self.target.scratch / "acted.html"
        acted.write_bytes(paths["html"].read_bytes().replace(b"</body>", INTERACTION + b"</body>"))
        dom, _ = browser.load(acted)
        self.assertIn(f"{LOOP_TURNS:,} rows match", dom.text)
        self.assertIn("12.5 ms: line 27015, ECRAN,SAISIE \u2192 ESC", dom.text)
        self.assertIn("Hide the calls", dom.text)
        self.assertEqual(dom.count("body", **{"data-shown": "shown"}), 1)

    def test_refusals(self):
        empty = self.target.scratch / "empty.txt"
        empty.write_bytes(b"")
        for arguments, message in ((["view", self.target.path_text(WINDOW_ERROR)], b"needs an output"),
                                   (["view", self.target.path_text(empty), "--html", "x.html"], b"empty"),
                                   (["show"], b"unknown trace command"), (["view", "--chrome=x.json"], b"needs a trace")):
            with self.subTest(arguments=arguments):
                result = self.target.run_tool("ovrun", ["trace", *arguments])
                self.assertEqual(result.status, 2, result)
                self.assertIn(message, result.stderr)


class ReplayPageTest(harness.TargetTestCase):
    def test_edited_and_cut_traces_side_by_side(self):
        folder = self.target.scratch / "traces"
        folder.mkdir()
        recorded = WINDOW_ERROR.read_bytes()
        (folder / "edited.txt").write_bytes(recorded.replace(b'\n"FENETRE" =>', b'\n"FENETRES" =>'))
        (folder / "cut.txt").write_bytes(recorded[:recorded.index(b'"DFTOCS" =>') + 11])
        line = recorded[:recorded.index(b'\n"FENETRE" =>')].count(b"\n") + 2
        page = self.target.scratch / "replay.html"
        result = self.target.run_tool("ovrun", ["replay", self.target.path_text(folder), "--html",
                                                self.target.path_text(page)], timeout=300)
        self.assertEqual(result.status, 1, result)
        browser.require()
        dom, _ = browser.load(page)
        self.assertIn("0 passed, 1 failed, 1 not replayable", dom.text)
        self.assertIn("not replayable: the recorded run never ended", dom.text)
        self.assertIn(f'line {line}: expected "FENETRES" => kind=1 text="2" got "FENETRE" =>', dom.text)
        # The row of the difference: the line number and both texts.
        self.assertRegex(dom.text, rf'{line} "FENETRES" => kind=1 text="2" # [0-9.]+ ms {line} "FENETRE" => \d')
        self.assertEqual(dom.count("tr", **{"class": "diverge"}), 1)
        # The relocation: the recorded test folder and the scratch folder in its place.
        self.assertRegex(dom.text, r"/tmp/rec/proj \u2192 \S+test ")


if __name__ == "__main__":
    harness.main()
