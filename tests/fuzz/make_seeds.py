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


# The standard objects: a few statements each, compiled as the ActionScript
# compiler does (arguments pushed last first, then their count, then the object).
def text(s):
    return push(0, s.encode() + b"\x00")


def num(n):
    return push(7, struct.pack("<i", n))


GET_VAR, SET_VAR, GET_MEMBER, CALL_METHOD, NEW_OBJECT, POP, INIT_OBJECT, SET_MEMBER = (
    b"\x1C", b"\x1D", b"\x4E", b"\x52", b"\x40", b"\x17", b"\x43", b"\x4F")


def call(obj, method, *args):
    out = b"".join(reversed(args)) + num(len(args)) + text(obj) + GET_VAR + text(method) + CALL_METHOD
    return out


def new(var, cls, *args):
    return text(var) + b"".join(reversed(args)) + num(len(args)) + text(cls) + NEW_OBJECT + SET_VAR


standard = bytearray()
standard += new("x", "XML", text("<?xml version='1.0'?><a k='1&amp;2'><b>t</b><c/><![CDATA[<r>]]></a>"))
standard += text("y") + call("x", "cloneNode", push(5, b"\x01")) + SET_VAR
standard += call("x", "toString") + POP
standard += call("x", "load", text("d.xml")) + POP
standard += new("v", "LoadVars")
standard += call("v", "decode", text("a=1&b=two+words")) + POP
standard += call("v", "sendAndLoad", text("s.php"), text("v") + GET_VAR, text("GET")) + POP
standard += text("l") + num(0) + INIT_OBJECT + SET_VAR
standard += call("Key", "addListener", text("l") + GET_VAR) + POP
standard += call("Mouse", "addListener", text("l") + GET_VAR) + POP
standard += call("Stage", "addListener", text("l") + GET_VAR) + POP
standard += text("Stage") + GET_VAR + text("scaleMode") + text("noScale") + SET_MEMBER
standard += text("s") + text("System") + GET_VAR + text("security") + GET_MEMBER + text("sandboxType") + GET_MEMBER + SET_VAR
standard += new("c", "Color", text("a"))
standard += call("c", "setRGB", num(0x336699)) + POP
standard += new("snd", "Sound", text("a"))
standard += call("snd", "setVolume", num(40)) + POP
standard += text("so") + call("SharedObject", "getLocal", text("prefs")) + SET_VAR
standard += new("lc", "LocalConnection")
standard += call("lc", "connect", text("chat")) + POP
standard += call("lc", "send", text("chat"), text("m"), num(1)) + POP
standard += new("mcl", "MovieClipLoader")
standard += call("mcl", "loadClip", text("c.swf"), text("a")) + POP
standard += b"\x00"
(here / "seeds/fuzz_avm1/standard_objects").write_bytes(bytes([4]) + bytes(standard))
