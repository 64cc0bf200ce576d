"""Scripted sessions of the real launcher with the stand-in engine.

A session writes a request into Orvane.ini, a script of engine replies, runs
the launcher staged with the stand-in beside it, and reads back the
stand-in's transcript: what the engine received, call by call.
"""

import re

import harness

TRANSCRIPT_NAME = "transcript.txt"
SCRIPT_NAME = "script.txt"

_QUOTED = re.compile(rb'"((?:[^"\\]|\\.)*)"')


def unquote(text):
    """The bytes of a quoted transcript text (\\n \\r \\t \\" \\\\ \\xHH)."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != 0x5C:
            out.append(c)
            i += 1
            continue
        escape = text[i + 1:i + 2]
        if escape == b"x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
            continue
        out += {b"n": b"\n", b"r": b"\r", b"t": b"\t"}.get(escape, escape)
        i += 2
    return bytes(out)


class Session:
    """The outcome of one run: status, transcript lines, commands received."""

    def __init__(self, result, transcript):
        self.result = result
        self.lines = transcript.split(b"\n") if transcript else []

    @property
    def status(self):
        return self.result.status

    def commands(self):
        """Every command text that reached the engine, as bytes."""
        return [unquote(_QUOTED.search(line).group(1)) for line in self.lines if line.startswith(b"call ")]

    def events(self):
        """The start, stop and call lines, with "ENVI," followed by its
        run-dependent address shown as ENVI,<address>."""
        events = []
        for line in self.lines:
            if line.startswith(b"call "):
                text = unquote(_QUOTED.search(line).group(1))
                events.append(re.sub(rb"^ENVI,\d+$", b"ENVI,<address>", text).decode("cp1252"))
            elif line.startswith(b"start result=") or line == b"stop" or line.startswith(b"mismatch"):
                events.append(line.decode())
        return events

    def block_lines(self):
        return [line.decode("cp1252") for line in self.lines if line.startswith(b"block ")]

    def faults(self):
        return [line for line in self.lines if line.startswith(b"fault") or line.startswith(b"script fault")
                or line.startswith(b"mismatch") or line.startswith(b"limit")]


class SessionTestCase(harness.TargetTestCase):
    """A test of a whole launcher run against a scripted stand-in."""

    def project_dir(self):
        """The test's directory as the launcher's request names it."""
        folder = self.target.scratch / "project"
        folder.mkdir(exist_ok=True)
        return self.target.path_text(folder)

    def editor_request(self, mode, param1="", language=None, directory=None, extra=None):
        """The request as the editor writes it; returns the sections written."""
        sections = {}
        if language is not None:
            sections["Orvane55"] = {"LANGUAGE": language}
        sections["TEST"] = {
            "LIGNEDECOMMANDE": "OVTST552.EXE /TEST",
            "COMMANDE": "EDITEUR",
            "REPEXE": self.target.path_text(self.target.build_dir),
            "REPCOURANT": (directory if directory is not None else self.project_dir()) + self.target.separator,
            "PARAM1": param1,
            "PARAM2": mode,
        }
        for section, keys in (extra or {}).items():
            sections.setdefault(section, {}).update(keys)
        self.target.write_request(sections)
        return sections

    def run_session(self, script, engine=None, environment=None):
        """Runs the launcher with the stand-in (or the library file given as
        engine) beside it and script (text, Windows-1252) as its script."""
        script_path = self.target.scratch / SCRIPT_NAME
        script_path.write_bytes(script.encode("cp1252") if isinstance(script, str) else script)
        transcript_path = self.target.scratch / TRANSCRIPT_NAME
        if transcript_path.exists():
            transcript_path.unlink()
        folder = self.target.stage_launcher(with_engine=engine is None)
        if engine is not None:
            (folder / harness.ENGINE_LIBRARY).write_bytes(engine.read_bytes())
        variables = {
            "OV_STANDIN_SCRIPT": self.target.path_text(script_path),
            "OV_STANDIN_TRANSCRIPT": self.target.path_text(transcript_path),
        }
        variables.update(environment or {})
        result = self.target.run_launcher(folder, environment=variables)
        transcript = transcript_path.read_bytes() if transcript_path.exists() else b""
        session = Session(result, transcript)
        self.session_folder = folder
        return session

    def assert_clean(self, session):
        """Exit status 0 and an engine that saw no broken rule."""
        self.assertEqual(session.status, 0, session.result)
        self.assertEqual(session.faults(), [], b"\n".join(session.lines).decode("cp1252"))

    def settings_keys(self, section="TEST"):
        """(key, value bytes) of one section of Orvane.ini, in file order."""
        data = self.target.read_settings() or b""
        keys = []
        current = None
        for line in data.split(b"\r\n"):
            if line.startswith(b"[") and line.endswith(b"]"):
                current = line[1:-1].decode("cp1252")
            elif current == section and b"=" in line:
                key, value = line.split(b"=", 1)
                keys.append((key.decode("cp1252"), value))
        return keys
