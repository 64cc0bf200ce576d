#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus/<target>/ (seed-*) in the input
layout each target's source describes. Inputs that once made a target fail
are kept beside them as found-*; this script leaves those alone.

    fuzz/make_seeds.py        # rewrites the seed-* files
"""

import struct
from pathlib import Path

CORPUS = Path(__file__).resolve().parent / "corpus"


def word(value):
    return struct.pack("<H", value)


def record(flags=0, key=b"", text=b"", text_length=None, extra=b"", pointer=None, pointer_int=0):
    """A 255-byte reply record."""
    data = bytearray(255)
    data[0] = flags
    data[2:2 + len(key)] = key[:3]
    data[5:5 + len(extra)] = extra[:10]
    if pointer is not None:
        data[5:13] = struct.pack("<Ii", pointer, pointer_int)
    data[47] = len(text) if text_length is None else text_length
    data[48:48 + len(text[:207])] = text[:207]
    return bytes(data)


def reply_step(command, reply, action=0x01, pointed=None, shape=None, middle=b"\x00"):
    length = len(command)
    if length > 255:
        action, length = action | 0x40, length - 200
    if pointed is not None:
        action |= 0x20
    step = bytes([action | (0x80 if shape is not None else 0)])
    if shape is not None:
        step += bytes([shape]) + (middle if shape == 1 else b"")
    step += bytes([length]) + command
    if pointed is not None:
        step += word(len(pointed)) + pointed
    return step + reply


def reply_seeds():
    yield "key-text-number", b"\x00" + reply_step(b"ECRAN,SAISIE", record(0x91, b"RET", b"12")) + reply_step(
        b"FENETRE", record(0x00)) + reply_step(b"X", record(0x92, text=b"32767"))
    yield "every-kind", b"\x01" + b"".join(
        reply_step(b"K%d" % kind, record(0x90 | kind, b"ESC", b"-12.7,ABC", text_length=5)) for kind in range(16))
    yield "overlong-lengths", b"\x00" + reply_step(b"A", record(0x10, text=b"7" * 207, text_length=255)) + reply_step(
        b"B", record(0x18, text=b"1" * 207, text_length=3))
    yield "kind-8-without-nul", b"\x00" + reply_step(b"C", record(0xD8, b"*E*", b"12," + b"x" * 204, text_length=2,
                                                                   extra=b"EXTRATEXT!"))
    yield "pointer", b"\x00" + reply_step(b"DFTOCS", record(0x95, pointer=0, pointer_int=12), pointed=b"12,FEN,OBJ")
    yield "formats", b"\x00" + reply_step(b"ECRAN,SAISIE", record(0x80, b"RET"), shape=0) + reply_step(
        b"OUVRE,/w_OV_GO.OVW /RE", record(0x80, b"ESC"), shape=1, middle=b"/") + reply_step(
        b"AB", record(0x80, b"*E*"), shape=1, middle=b"\x00") + reply_step(b"50%", record(0x10, text=b"1"), shape=2)
    yield "stop-and-long-command", b"\x01" + reply_step(b"E", record(0x80, b"AF4")) + b"\x00" + reply_step(
        b"L" * 300, record(0x90, text=b"1")) + reply_step(b"R", record(0x80, b"RET"), action=0x11)


def handoff_seed(options, answer, description, text_length=None):
    if text_length is None:
        text_length = min(len(description), 207)
    return bytes([options, len(answer)]) + answer + bytes([text_length]) + description


def handoff_seeds():
    yield "text", handoff_seed(0x02, b"O", b"12,FEN,OBJ.PRO,Message")
    yield "pointer-project", handoff_seed(0x13, b"OUI", b"7,proj.ovp,MYPROC.PRO,x")
    yield "pointer-long", handoff_seed(0x12, b"O", b"70000," + b"W" * 400 + b",<" + b"o" * 300 + b", msg\r\n,more")
    yield "long-line-field", handoff_seed(0x12, b"O", b"0" * 400 + b"77,FEN,OBJ,m")
    yield "angle-window", handoff_seed(0x22, b"O", b"3,<MAIN>,m")
    yield "defaults", handoff_seed(0x06, b"O", b"5")
    yield "answer-no", handoff_seed(0x03, b"o", b"5,FEN,OBJ,m")
    yield "answer-as-description", handoff_seed(0x32, b"O,FEN,,x", b"")


def block_seeds():
    def keys(values):
        data = b""
        for value in values:
            data += b"\x00" if value is None else b"\x01" + word(len(value)) + value
        return data
    yield "none", keys([None] * 10)
    yield "examples", keys([b"abc,def,12", b"abc,,7", b"abc,def", b"", b"a,b,1,2", b"x,y,70000", b"x,y,-1",
                            b"x,y,x", None, b"z,z,1"])
    yield "too-big", keys([b"n" * 300 + b"," + b"t" * 200 + b",1", b"small,s,2", b"n" * 600 + b",t,3",
                           b"a,b,4"] + [b"m" * 40 + b",t,5"] * 6)


def console_reply(key=None, text=None, text_length=None, kind=0):
    form = kind
    data = b""
    if key is not None:
        choices = {b"RET": 0, b"ESC": 1, b"*E*": 2}
        form |= 0x80 | (choices.get(key, 3) << 5)
        if key not in choices:
            data += key
    if text is not None:
        form |= 0x10
        data += bytes([len(text) if text_length is None else text_length, len(text)]) + text
    return bytes([form]) + data


def console_seed(options, executable, current, replies):
    return bytes([options]) + word(len(executable)) + executable + word(len(current)) + current + b"".join(replies)


def console_pass(key):
    return [console_reply()] * 4 + [console_reply(key)]


def console_seeds():
    setup = [console_reply()] * 3
    yield "escape", console_seed(0, b"/opt/ov", b"/work/t", setup + console_pass(b"ESC"))
    yield "run-and-refuse", console_seed(1, b"/opt/ov", b"c:/work", setup + console_pass(b"RET") + [
        console_reply(text=b"  date  "), console_reply(text=b"  date  "), console_reply(),
        console_reply(b"RET", b"12/05")] + console_pass(b"RET") + [
        console_reply(b"RET", b"bibli,disque,x"), console_reply(), console_reply()] + console_pass(b"AF4") +
        console_pass(b"ESC"))
    yield "error", console_seed(2, b"a:/data", b"a:/data", setup + console_pass(b"*E*") + [
        console_reply(text=b"O"), console_reply(text=b"5,FEN,OBJ,m")])
    yield "longest-directories", console_seed(0, b"E" * 259, b"C" * 259, setup + console_pass(b"ESC"))
    yield "no-engine", console_seed(4, b"/opt/ov", b"/work", [])


def profile_step_read(section, key, size, default=b"", action=0):
    return bytes([action]) + section + key + word(size) + value(default)


def value(text):
    return bytes([len(text)]) + text


def fresh(name):
    """A name taken from the input rather than from the file (selector 0xC0 and up)."""
    return bytes([0xC0 | len(name)]) + name


def profile_seed(file_bytes, steps):
    return word(len(file_bytes)) + file_bytes + b"".join(steps)


def profile_seeds():
    request = (b"; left by the editor\r\n[TEST]\r\nLIGNEDECOMMANDE=OVTST552.EXE /TEST\r\nCOMMANDE=EDITEUR\r\n"
               b"REPCOURANT=C:\\WORK\\\r\nPARAM2=F\r\n\r\n[Orvane55]\r\nLANGUAGE=US\r\n")
    yield "request-cycle", profile_seed(request, [
        profile_step_read(fresh(b"TEST"), fresh(b"COMMANDE"), 300),
        b"\x02" + fresh(b"TEST") + fresh(b"COMMANDE"),
        b"\x01" + fresh(b"TEST") + fresh(b"CR") + value(b"*E*"),
        b"\x01" + fresh(b"TEST") + fresh(b"MESSAGE") + value(b'  a "b"  '),
        profile_step_read(fresh(b"orvane55"), fresh(b"language"), 10, action=8),
        b"\x03" + fresh(b"Orvane55") + fresh(b""),
        b"\x04" + fresh(b"TEST") + fresh(b"") + word(20),
    ])
    yield "odd-lines", profile_seed(b"junk\x00\r\n[ Setup ]x\rA = 1 \n;c\r\nFlag\r\nA=2\r\n[setup]\r\nB='q'\x1a", [
        b"\x02\x00\x00",
        profile_step_read(b"\x00", b"\x01", 5, b"dflt  "),
        b"\x01\x01\x00" + value(b"zzzz"),
        b"\x05\x00\x01\x81",
        b"\x01" + fresh(b"New") + fresh(b"K") + value(b"v"),
    ])
    yield "no-file", word(0xFFFF) + b"\x09" + fresh(b"S") + fresh(b"K") + value(b"v") + b"\x02\x00\x00"
    yield "failing-writes", profile_seed(b"[S]\r\nK=old\r\n", [
        b"\x05\x00\x00\x01", b"\x01\x00\x00" + value(b"new"),
        b"\x05\x00\x00\x03", b"\x01\x00\x00" + value(b"new"),
        b"\x05\x00\x00\x80", b"\x01\x00\x00" + value(b"new"),
    ])
    yield "utf16-file", profile_seed(b"\xff\xfe" + "[S]\r\nA=caf\xe9\u0101\r\n\r\nB\n=x\r\n[]\r\nC=1".encode("utf-16-le"), [
        profile_step_read(fresh(b"S"), fresh(b"A"), 10),
        b"\x01" + fresh(b"S") + fresh(b"N") + value(b"\xe9\x80"),
        b"\x04" + fresh(b"S") + fresh(b"") + word(8),
        b"\x02" + fresh(b"S") + fresh(b""),
        b"\x01" + fresh(b"New") + fresh(b"k") + value(b"v"),
    ])
    yield "utf8-file", profile_seed(b"\xef\xbb\xbfk=\xc3\xa9\r\n[S]\r\nA=\xf4\x90\r\nA\r\n", [
        profile_step_read(fresh(b""), fresh(b"k"), 10),
        b"\x04" + fresh(b"S") + fresh(b"") + word(5),
        b"\x01" + fresh(b"S") + fresh(b"A") + value(b"\xe9"),
        b"\x01" + fresh(b"T") + fresh(b"B") + value(b"1"),
    ])
    yield "duplicate-sections", profile_seed(b"[S]\r\nA=1\r\nB=2\r\n[T]\r\nC=3\r\n[s]\r\nA=9\r\nD=4\r\n", [
        b"\x03" + fresh(b"S") + fresh(b""),
        profile_step_read(fresh(b"S"), fresh(b"A"), 10),
        b"\x03" + fresh(b"s") + fresh(b""),
        profile_step_read(fresh(b"S"), fresh(b"D"), 10),
    ])


SEEDS = {
    "fuzz_reply": reply_seeds,
    "fuzz_handoff": handoff_seeds,
    "fuzz_startup_block": block_seeds,
    "fuzz_console": console_seeds,
    "fuzz_profile": profile_seeds,
}


def main():
    for target, seeds in SEEDS.items():
        folder = CORPUS / target
        folder.mkdir(parents=True, exist_ok=True)
        for old in folder.glob("seed-*"):
            old.unlink()
        for name, data in seeds():
            (folder / f"seed-{name}").write_bytes(data)


if __name__ == "__main__":
    main()
