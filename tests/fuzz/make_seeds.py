#!/usr/bin/env python3
"""Writes the generated seeds: every stack action once, each after pushes of a
whole number, a fraction and a text, as an action block for fuzz_avm1 and as
a one-frame movie for fuzz_swf_parse. A fault in any action's handling of an
odd number is then one mutation (the pushed number) away.

    tests/fuzz/make_seeds.py      (run from anywhere)"""
import re
import struct
from pathlib import Path

here = Path(__file__).resolve().parent
root = here.parents[1]
actions_h = (root / "refplayer/swfwriter/include/swfwriter/actions.h").read_text()
codes = sorted({int(c, 16) for c in re.findall(r'X\(\w+, (0x[0-9A-Fa-f]+), "\w+"\)', actions_h)})


def push(kind, payload):
    body = bytes([kind]) + payload
    return b"\x96" + struct.pack("<H", len(body)) + body


def push_double(v):
    raw = struct.pack("<d", v)
    return push(6, raw[4:] + raw[:4])


block = bytearray()
for code in codes:
    if code >= 0x80:  # records with operands are in the movies' own blocks
        continue
    block += push(7, struct.pack("<i", 3)) + push_double(2.5) + push(0, b"x\x00") + bytes([code])
block += b"\x00"
(here / "seeds/fuzz_avm1/all_actions").write_bytes(bytes([4]) + bytes(block))  # first byte: SWF 8



# Timers, dates and registered classes, as compiled code calls them: the
# natives that run later (from runTimers and constructClip) get reached.
def s(text):
    return push(0, text.encode() + b"\x00")


def i(n):
    return push(7, struct.pack("<i", n))


GETVAR, SETVAR, CALLFN, CALLMETHOD, NEWOBJ, POP, INC, TRACE = 0x1C, 0x1D, 0x3D, 0x52, 0x40, 0x17, 0x50, 0x26
body = s("n") + s("n") + bytes([GETVAR, INC, SETVAR])
later = b"\x9B" + struct.pack("<H", 6) + b"f\x00" + struct.pack("<HH", 0, len(body)) + body
later += i(5) + s("f") + bytes([GETVAR]) + i(2) + s("setInterval") + bytes([CALLFN, POP])
later += i(1) + i(0) + s("f") + bytes([GETVAR]) + i(3) + s("setTimeout") + bytes([CALLFN, POP])
later += s("d") + i(28) + i(1) + i(2005) + i(3) + s("Date") + bytes([NEWOBJ, SETVAR])
later += i(14) + i(1) + s("d") + bytes([GETVAR]) + s("setMonth") + bytes([CALLMETHOD, POP])
later += i(0) + s("d") + bytes([GETVAR]) + s("toString") + bytes([CALLMETHOD, TRACE])
later += s("f") + bytes([GETVAR]) + s("x") + i(2) + s("Object") + bytes([GETVAR]) + s("registerClass") + bytes([CALLMETHOD, POP])
later += i(1) + s("m") + s("x") + i(3) + s("this") + bytes([GETVAR]) + s("attachMovie") + bytes([CALLMETHOD, POP])
later += i(1) + i(1) + s("clearInterval") + bytes([CALLFN, POP]) + b"\x00"
(here / "seeds/fuzz_avm1/timers_dates_classes").write_bytes(bytes([4]) + later)

tags = struct.pack("<H", (9 << 6) | 3) + b"\xFF\xFF\xFF"                   # SetBackgroundColor
tags += struct.pack("<HI", (12 << 6) | 0x3F, len(block)) + bytes(block)   # DoAction
tags += struct.pack("<H", 1 << 6) + b"\x00\x00"                           # ShowFrame, End
header = b"\x78\x00\x05\x5F\x00\x00\x0F\xA0\x00" + b"\x00\x0C" + b"\x01\x00"  # 550x400, 12 fps, 1 frame
movie = header + tags
(here / "seeds/fuzz_swf_parse/all_actions.swf").write_bytes(b"FWS\x08" + struct.pack("<I", 8 + len(movie)) + movie)
