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

tags = struct.pack("<H", (9 << 6) | 3) + b"\xFF\xFF\xFF"                   # SetBackgroundColor
tags += struct.pack("<HI", (12 << 6) | 0x3F, len(block)) + bytes(block)   # DoAction
tags += struct.pack("<H", 1 << 6) + b"\x00\x00"                           # ShowFrame, End
header = b"\x78\x00\x05\x5F\x00\x00\x0F\xA0\x00" + b"\x00\x0C" + b"\x01\x00"  # 550x400, 12 fps, 1 frame
movie = header + tags
(here / "seeds/fuzz_swf_parse/all_actions.swf").write_bytes(b"FWS\x08" + struct.pack("<I", 8 + len(movie)) + movie)
