#!/usr/bin/env python3
"""refplay end to end: compile a movie with swfwrite, then check refplay's
report with Python's JSON reader and its picture with Python's zlib, and that
bad input fails with one line on stderr.

usage: refplay_e2e.py <refplay> <swfwrite> <work-dir>"""
import json
import os
import struct
import subprocess
import sys
import zlib

refplay, swfwrite, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(*args):
    return subprocess.run([refplay, *args], capture_output=True, timeout=60)


def read_png(path):
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'PNG signature'
    pos, idat, header = 8, b'', None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack('>I', data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, 'CRC of ' + kind.decode()
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 6, 0), 'IHDR fields'
    raw = zlib.decompress(idat)
    stride = width * 4 + 1
    assert len(raw) == stride * height, 'picture size'
    rows = [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]
    assert all(raw[y * stride] == 0 for y in range(height)), 'filter bytes'
    return width, height, rows


description = os.path.join(work, 'movie.txt')
movie = os.path.join(work, 'movie.swf')
with open(description, 'w') as f:
    f.write('''movie version=8 width=60 height=40 rate=24 compress
background #0000FF
shape box
  fill red #FF0000
  rect 0 0 30 40 fill=red
end
place 1 box name=left
label intro
frame
remove 1
frame
''')
subprocess.run([swfwrite, description, movie], check=True, timeout=60)

info = run('info', movie)
check(info.returncode == 0, 'info exit code %d: %s' % (info.returncode, info.stderr))
report = json.loads(info.stdout)
check(report['signature'] == 'CWS', 'signature')
check(report['stage']['width'] == 60 and report['stage']['height'] == 40, 'stage size')
check(report['frameRate'] == 24 and report['frameCount'] == 2, 'rate and frames')
check(report['engine']['accepted'] is True, 'engine verdict')
names = [t['name'] for t in report['tags']]
check(names == ['SetBackgroundColor', 'DefineShape3', 'PlaceObject2', 'FrameLabel', 'ShowFrame', 'RemoveObject2',
                'ShowFrame', 'End'], 'tag list %s' % names)
check(report['tags'][2].get('instanceName') == 'left', 'instance name')
check(report['tags'][3].get('label') == 'intro', 'label')

out = os.path.join(work, 'frame0.png')
r = run('render', movie, out, '--size', '120x80')
check(r.returncode == 0, 'render exit code %d: %s' % (r.returncode, r.stderr))
width, height, rows = read_png(out)
check((width, height) == (120, 80), 'render size')
check(rows[40][0:4] == bytes([255, 0, 0, 255]), 'left half red')
check(rows[40][100 * 4:101 * 4] == bytes([0, 0, 255, 255]), 'right half background')

r = run('render', movie, os.path.join(work, 'frame1.png'), '--frames', '1', '--transparent')
width, height, rows = read_png(os.path.join(work, 'frame1.png'))
check(r.returncode == 0 and all(b == 0 for row in rows for b in row), 'transparent empty frame')

junk = os.path.join(work, 'junk.swf')
open(junk, 'wb').write(b'CWS\x08\xff\xff\x00\x00garbage')
for args, code in [(('info', junk), 1), (('info', os.path.join(work, 'missing.swf')), 1),
                   (('render', junk, os.path.join(work, 'x.png')), 1), (('frobnicate',), 2)]:
    r = run(*args)
    lines = r.stderr.decode(errors='replace').splitlines()
    check(r.returncode == code and len(lines) == 1 and lines[0].startswith('refplay: '),
          '%s: exit %d, stderr %r' % (args, r.returncode, r.stderr))
check(not os.path.exists(os.path.join(work, 'x.png')), 'no output from a failed render')

for f in failures:
    print('FAILED:', f)
sys.exit(1 if failures else 0)
