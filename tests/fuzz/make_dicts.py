#!/usr/bin/env python3
"""Writes the libFuzzer dictionaries in dicts/: the keywords and markers of each
input format, so that mutations reach past the first checks quickly.

    tests/fuzz/make_dicts.py      (run from anywhere; rewrites dicts/*.dict)

AVM1 action codes and names come from the SWF writer's action table, so the
dictionaries follow it when actions are added."""
import re
import struct
from pathlib import Path

here = Path(__file__).resolve().parent
root = here.parents[1]


def esc(data: bytes) -> str:
    out = []
    for b in data:
        c = chr(b)
        out.append(c if 0x20 <= b < 0x7F and c not in '"\\' else f"\\x{b:02X}")
    return '"' + ''.join(out) + '"'


def write(name, entries, comment):
    seen, lines = set(), [f"# {comment}", "# Written by tests/fuzz/make_dicts.py."]
    for label, data in entries:
        if isinstance(data, str):
            data = data.encode()
        if data in seen or not data:
            continue
        seen.add(data)
        lines.append(f"{label}={esc(data)}")
    (here / "dicts" / f"{name}.dict").write_text("\n".join(lines) + "\n")


actions_h = (root / "refplayer/swfwriter/include/swfwriter/actions.h").read_text()
actions = [(int(code, 16), name) for _, code, name in re.findall(r'X\((\w+), (0x[0-9A-Fa-f]+), "(\w+)"\)', actions_h)]


def push(kind, payload):
    body = bytes([kind]) + payload
    return b"\x96" + struct.pack("<H", len(body)) + body


def push_double(v):
    raw = struct.pack("<d", v)
    return push(6, raw[4:] + raw[:4])  # high word first


def avm1_entries():
    e = []
    for code, name in actions:
        e.append((f"op_{name}", bytes([code])))
    # Records with a length: the common ones, ready to splice.
    e += [("push_int_0", push(7, struct.pack("<i", 0))), ("push_int_m1", push(7, struct.pack("<i", -1))),
          ("push_int_max", push(7, struct.pack("<i", 2**31 - 1))), ("push_int_min", push(7, struct.pack("<i", -2**31))),
          ("push_undef", push(3, b"")), ("push_null", push(2, b"")), ("push_true", push(5, b"\x01")),
          ("push_reg0", push(4, b"\x00")), ("push_pool0", push(8, b"\x00")), ("push_str", push(0, b"x\x00"))]
    for label, v in [("nan", float("nan")), ("inf", float("inf")), ("ninf", float("-inf")), ("1e300", 1e300),
                     ("m1e300", -1e300), ("2p31", 2.0**31), ("2p32", 2.0**32), ("2p53", 2.0**53), ("m0", -0.0),
                     ("half", 0.5), ("m1_5", -1.5), ("2p63", 2.0**63), ("1e20", 1e20)]:
        e.append((f"push_double_{label}", push_double(v)))
    e += [("jump0", b"\x99\x02\x00\x00\x00"), ("if0", b"\x9D\x02\x00\x00\x00"), ("pool1", b"\x88\x04\x00\x01\x00a\x00"),
          ("deffunc", b"\x9B\x05\x00f\x00\x00\x00\x00"), ("with0", b"\x94\x02\x00\x00\x00"),
          ("try0", b"\x8F\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00"), ("getvar_x", push(0, b"x\x00") + b"\x1C"),
          ("storereg0", b"\x87\x01\x00\x00"), ("geturl2", b"\x9A\x01\x00\x00"), ("gotoframe2", b"\x9F\x01\x00\x00")]
    for word in ["String", "fromCharCode", "Number", "Array", "Object", "Math", "Date", "toString", "valueOf", "length",
                 "prototype", "__proto__", "constructor", "_root", "_level0", "_parent", "this", "_global", "sort",
                 "splice", "slice", "substr", "substring", "charAt", "charCodeAt", "indexOf", "split", "join", "push",
                 "parseInt", "parseFloat", "random", "round", "floor", "pow", "ASSetPropFlags", "onEnterFrame",
                 "gotoAndPlay", "attachMovie", "duplicateMovieClip", "createEmptyMovieClip", "_x", "_alpha",
                 "_width", "_xscale", "_rotation", "ExternalInterface", "call", "addCallback", "apply", "arguments",
                 "undefined", "NaN", "Infinity", "a.b", "/a:y", "_level0.a.b", "setInterval", "clearInterval",
                 "setTimeout", "clearTimeout", "getTimer", "registerClass", "UTC", "getTime", "setTime",
                 "getFullYear", "setFullYear", "getUTCHours", "setUTCHours", "setMonth", "setDate", "setYear",
                 "getTimezoneOffset", "getDay", "__constructor__", "x",
                 # the standard objects
                 "System", "capabilities", "security", "sandboxType", "allowDomain", "useCodepage", "Stage",
                 "scaleMode", "noScale", "align", "width", "showMenu", "AsBroadcaster", "initialize", "_listeners",
                 "addListener", "removeListener", "broadcastMessage", "onResize", "Key", "isDown", "isToggled",
                 "getCode", "getAscii", "onKeyDown", "Mouse", "hide", "show", "onMouseDown", "onMouseWheel", "XML",
                 "XMLNode", "parseXML", "ignoreWhite", "status", "firstChild", "lastChild", "childNodes",
                 "nextSibling", "parentNode", "attributes", "nodeName", "nodeValue", "nodeType", "appendChild",
                 "insertBefore", "removeNode", "cloneNode", "createElement", "createTextNode", "load", "send",
                 "sendAndLoad", "onLoad", "onData", "loaded", "getBytesTotal", "LoadVars", "decode", "Color",
                 "setRGB", "getRGB", "setTransform", "getTransform", "Sound", "setVolume", "setPan", "SharedObject",
                 "getLocal", "data", "flush", "getSize", "LocalConnection", "connect", "onStatus",
                 "MovieClipLoader", "loadClip", "unloadClip", "getProgress", "onLoadInit",
                 # text fields, formats and the focus
                 "createTextField", "removeTextField", "TextField", "text", "htmlText", "html", "autoSize",
                 "wordWrap", "multiline", "restrict", "maxChars", "scroll", "maxscroll", "bottomScroll",
                 "onChanged", "onSetFocus", "onKillFocus", "textColor", "border", "borderColor", "background",
                 "backgroundColor", "variable", "selectable", "type", "input", "password", "textWidth",
                 "textHeight", "TextFormat", "setTextFormat", "getTextFormat", "setNewTextFormat",
                 "getNewTextFormat", "bold", "underline", "size", "color", "leftMargin", "Selection", "getFocus",
                 "setFocus", "getBeginIndex", "getEndIndex", "getCaretIndex", "setSelection", "a-z^q",
                 "<b>x</b>", "<br>", "<font color='#ff0000' size='20'>", "<p align='right'>",
                 "NetConnection", "NetStream", "play", "pause", "seek", "close", "setBufferTime", "time",
                 "bytesLoaded", "bytesTotal", "onMetaData", "Video", "attachVideo", "attachAudio",
                 "<a x='1'>", "</a>", "<b/>", "<![CDATA[", "]]>", "<!--", "-->", "<?xml ?>", "<!DOCTYPE a>",
                 "&amp;", "&#65;", "a=1&b=2"]:
        e.append((f"name_{word}", word))
    return e


def tag(code, body=b"", long=False):
    if long or len(body) >= 0x3F:
        return struct.pack("<HI", (code << 6) | 0x3F, len(body)) + body
    return struct.pack("<H", (code << 6) | len(body)) + body


SWF_TAGS = {"End": 0, "ShowFrame": 1, "DefineShape": 2, "PlaceObject": 4, "RemoveObject": 5, "DefineBits": 6,
            "DefineButton": 7, "SetBackgroundColor": 9, "DefineFont": 10, "DefineText": 11, "DoAction": 12,
            "DefineSound": 14, "DefineBitsLossless": 20, "DefineShape2": 22, "PlaceObject2": 26, "RemoveObject2": 28,
            "DefineShape3": 32, "DefineText2": 33, "DefineButton2": 34, "DefineBitsLossless2": 36,
            "DefineEditText": 37, "DefineSprite": 39, "FrameLabel": 43, "DefineFont2": 48, "ExportAssets": 56,
            "DoInitAction": 59, "DefineVideoStream": 60, "VideoFrame": 61, "FileAttributes": 69,
            "PlaceObject3": 70, "DefineShape4": 83, "DefineSceneAndFrameLabelData": 86, "DefineMorphShape": 46,
            "DefineMorphShape2": 84}


def swf_entries():
    e = [("fws", b"FWS"), ("cws", b"CWS"), ("fws6", b"FWS\x06"), ("fws8", b"FWS\x08"),
         ("rect", b"\x78\x00\x05\x5F\x00\x00\x0F\xA0\x00"), ("rate12", b"\x00\x0C"), ("frames1", b"\x01\x00")]
    for name, code in SWF_TAGS.items():
        e.append((f"tag_{name}", tag(code)))
        e.append((f"taglong_{name}", tag(code, long=True)))
    e += [("doaction_stop", tag(12, b"\x07\x00")), ("showframe", b"\x40\x00"), ("end", b"\x00\x00"),
          ("place2_move", tag(26, b"\x06\x01\x00\x01\x00")), ("bg_white", tag(9, b"\xFF\xFF\xFF")),
          ("place2_clipdepth", tag(26, b"\x42\x01\x00\x01\x00\x05\x00")),
          ("place2_ratio", tag(26, b"\x11\x01\x00\x00\x80"))]
    return e


def amf_string(s):
    return b"\x02" + struct.pack(">H", len(s)) + s.encode()


def flv_entries():
    e = [("flv", b"FLV\x01\x05\x00\x00\x00\x09"), ("flv_video", b"FLV\x01\x01\x00\x00\x00\x09"),
         ("prevsize0", b"\x00\x00\x00\x00"), ("tag_audio", b"\x08"), ("tag_video", b"\x09"), ("tag_script", b"\x12"),
         ("video_key_sv", b"\x13"), ("video_inter_sv", b"\x23"), ("video_key_sv2", b"\x16"),
         ("amf_number", b"\x00"), ("amf_bool", b"\x01"), ("amf_string", b"\x02"), ("amf_object", b"\x03"),
         ("amf_null", b"\x05"), ("amf_undefined", b"\x06"), ("amf_reference", b"\x07"), ("amf_ecma", b"\x08"),
         ("amf_object_end", b"\x00\x00\x09"), ("amf_strict_array", b"\x0A"), ("amf_date", b"\x0B"),
         ("amf_long_string", b"\x0C"), ("amf_num_1e300", b"\x00" + struct.pack(">d", 1e300)),
         ("amf_num_nan", b"\x00" + struct.pack(">d", float("nan"))), ("amf_num_m1", b"\x00" + struct.pack(">d", -1.0)),
         ("amf_num_2p32", b"\x00" + struct.pack(">d", 2.0**32)), ("onmetadata", amf_string("onMetaData"))]
    for key in ["onMetaData", "onCuePoint", "duration", "width", "height", "framerate", "videocodecid",
                "audiocodecid", "filesize", "videodatarate", "keyframes", "filepositions", "times", "canSeekToEnd",
                "hasVideo", "hasKeyframes", "hasMetadata", "lasttimestamp", "name", "time", "type", "parameters"]:
        e.append((f"key_{key}", struct.pack(">H", len(key)) + key.encode()))
    return e


def eixml_entries():
    words = ['<invoke name="', '" returntype="xml">', '<invoke name="f" returntype="javascript">', "</invoke>",
             "<arguments>", "</arguments>", "<number>", "</number>", "<string>", "</string>", "<true/>", "<false/>",
             "<null/>", "<undefined/>", "<array>", "</array>", "<object>", "</object>", '<property id="',
             "</property>", "<class>", "</class>", "&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#x", "&#",
             "1e300", "-1e300", "NaN", "Infinity", "-0", "4294967296", "<![CDATA[", "]]>", "<!--", "-->"]
    return [(f"w{i}", w) for i, w in enumerate(words)]


def swftext_entries():
    src = (root / "refplayer/swfwriter/src/swf_text.cpp").read_text()
    words = sorted(set(re.findall(r'"([a-z][a-z0-9_]*)"', src)))
    e = [(f"kw_{w}", w) for w in words]
    e += [(f"act_{name.lower()}", name.lower()) for _, name in actions]
    e += [("nl_end", "\nend\n"), ("color", "#FF0000"), ("quote", '"'), ("huge", "1e300"), ("neg", "-1e300"),
          ("eq", "="), ("colon", ":"), ("pipe", "|")]
    return e


def nsscript_entries():
    words = ["__flash__toXML(", "__flash__argumentsToXML(arguments,0)", "__flash__arrayToXML(", "__flash__objectToXML(",
             "__flash__escapeXML(", "__flash__request(", ") ; } catch (e) { \"<undefined/>\"; }", "(", ")", ",",
             '"', "'", "\\\"", "\\\\", "null", "true", "false", "undefined", "1e300", "-0", "NaN", "{", "}", "[", "]"]
    return [(f"w{i}", w) for i, w in enumerate(words)]


write("fuzz_avm1", avm1_entries(), "AVM1 action codes, length-prefixed records and names the interpreter knows.")
write("fuzz_swf_parse", swf_entries() + avm1_entries(), "SWF headers and tag headers, and AVM1 actions.")
write("fuzz_refplay_info", swf_entries() + flv_entries(), "SWF headers and tags, FLV tags and AMF0 script data.")
write("fuzz_flv", flv_entries(), "FLV headers and tags, video codec bytes and AMF0 markers and names.")
write("fuzz_video_playback", flv_entries(), "FLV headers and tags, video codec bytes and AMF0 markers and names.")
write("fuzz_eixml", eixml_entries(), "ExternalInterface XML elements, attributes and entities.")
write("fuzz_swftext", swftext_entries(), "Words of the swfwrite description language.")
write("fuzz_nsscript", nsscript_entries(), "The browser-side script text the plug-in hands to its host.")
