"""The platform-neutral sources stay neutral and depend one way.

src/common <- src/engine <- src/modes <- src/launcher: a file may include
headers of its own layer and of the layers before it, never of a later one,
and files include each other in no circle. The two dependencies the design
wants are the only exceptions: a failed settings write is told through the
engine, and the engine's start reads the components from the settings file.
"""

import pathlib
import re
import sys
import unittest

SOURCE = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else "src").resolve()
LAYERS = ["common", "engine", "modes", "launcher"]
PLATFORM_MACROS = ["_WIN32", "_WIN64", "__linux__", "__unix__", "__APPLE__", "_MSC_VER", "__MINGW32__", "__MINGW64__"]
CONDITIONAL = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif|elifdef|elifndef)\b(.*)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')

# (including module, included module): the settings write that fails reaches
# up to the command channel; the start-up block reads the settings file.
DESIGNED = {
    ("common/settings", "engine/command_channel"),
    ("engine/startup_block", "common/settings"),
}


def sources():
    for layer in LAYERS:
        for path in sorted((SOURCE / layer).glob("*")):
            if path.suffix in (".h", ".cpp"):
                yield path


def module(path):
    return f"{path.parent.name}/{path.stem}"


def includes(path):
    """The modules of the neutral layers that a file includes."""
    found = []
    for line in path.read_text(encoding="latin-1").splitlines():
        match = INCLUDE.match(line)
        if match and "/" in match.group(1):
            layer, name = match.group(1).split("/", 1)
            if layer in LAYERS:
                found.append(f"{layer}/{pathlib.PurePosixPath(name).stem}")
    return found


class Layout(unittest.TestCase):
    maxDiff = None

    def test_sources_exist(self):
        self.assertTrue(any(True for _ in sources()), f"no sources under {SOURCE}")

    def test_no_platform_conditional(self):
        found = []
        for path in sources():
            for number, line in enumerate(path.read_text(encoding="latin-1").splitlines(), 1):
                match = CONDITIONAL.match(line)
                if match and any(re.search(rf"\b{macro}\b", match.group(2)) for macro in PLATFORM_MACROS):
                    found.append(f"{path.relative_to(SOURCE)}:{number}: {line.strip()}")
        self.assertEqual([], found, "platform conditionals belong in src/platform")

    def test_includes_reach_no_later_layer(self):
        found = []
        for path in sources():
            own = LAYERS.index(path.parent.name)
            for target in includes(path):
                if LAYERS.index(target.split("/")[0]) > own and (module(path), target) not in DESIGNED:
                    found.append(f"{path.relative_to(SOURCE)} includes {target}.h")
        self.assertEqual([], found)

    def test_no_include_circle(self):
        graph = {}
        for path in sources():
            for target in includes(path):
                if target != module(path) and (module(path), target) not in DESIGNED:
                    graph.setdefault(module(path), set()).add(target)
        circles = []
        state = {}  # 1: on the current path, 2: done

        def visit(node, trail):
            state[node] = 1
            for target in sorted(graph.get(node, ())):
                if state.get(target) == 1:
                    circles.append(" -> ".join(trail[trail.index(target):] + [target]))
                elif target not in state:
                    visit(target, trail + [target])
            state[node] = 2

        for node in sorted(graph):
            if node not in state:
                visit(node, [node])
        self.assertEqual([], circles)


if __name__ == "__main__":
    unittest.main()
