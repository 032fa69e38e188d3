#!/usr/bin/env python3
"""Draws the package's palette icons: 24 x 24 bitmaps, one per component,
16 or 256 colours as the designer's palette expects.

    palette_bitmaps.py <output folder>

Writes TKVFLASHLIST.bmp, TKVFLASHPLAYER.bmp, TKVFLASHPLAYERWND.bmp,
TKVFLASHPLAYERCOMP.bmp, TKVFLASHLAYER.bmp and TKVLAYERWINDOW.bmp.
"""
import os
import struct
import sys

SIZE = 24

# The 16 colours of the 4-bit icons (the classic VGA set), as (r, g, b).
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette_256():
    """The VGA colours first, then a 6 x 6 x 6 cube, then greys."""
    colours = list(VGA)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    while len(colours) < 256:
        v = (len(colours) - 232) * 10 + 8
        colours.append((v, v, v))
    return colours[:256]


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], rgb)))


class Canvas:
    def __init__(self, background):
        self.px = [[background] * SIZE for _ in range(SIZE)]

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(y0, 0), min(y1, SIZE)):
            for x in range(max(x0, 0), min(x1, SIZE)):
                self.px[y][x] = c

    def frame(self, x0, y0, x1, y1, c):
        self.rect(x0, y0, x1, y0 + 1, c)
        self.rect(x0, y1 - 1, x1, y1, c)
        self.rect(x0, y0, x0 + 1, y1, c)
        self.rect(x1 - 1, y0, x1, y1, c)

    def play(self, x0, y0, h, c):
        """A right-pointing triangle, h pixels high."""
        for i in range(h):
            w = min(i, h - 1 - i) + 1
            self.rect(x0, y0 + i, x0 + w, y0 + i + 1, c)


def flash_mark(cv, x, y, c):
    """The package's mark: a stylised f."""
    cv.rect(x + 2, y, x + 6, y + 1, c)
    cv.rect(x + 1, y + 1, x + 2, y + 8, c)
    cv.rect(x - 1, y + 3, x + 5, y + 4, c)


def draw(name, palette):
    red, white, grey, dark, blue, yellow = [(204, 0, 0), (255, 255, 255), (192, 192, 192), (64, 64, 64),
                                            (0, 0, 160), (255, 204, 0)]
    cv = Canvas(grey)
    if name == "TKVFLASHLIST":
        # A stack of film frames.
        for i in range(3):
            cv.rect(3 + i * 3, 12 - i * 4, 17 + i * 3, 21 - i * 4, dark)
            cv.rect(4 + i * 3, 13 - i * 4, 16 + i * 3, 20 - i * 4, white)
        flash_mark(cv, 13, 3, red)
    elif name == "TKVFLASHPLAYER":
        cv.rect(2, 4, 22, 20, dark)
        cv.rect(3, 5, 21, 19, white)
        cv.play(9, 7, 10, red)
    elif name == "TKVFLASHPLAYERWND":
        cv.rect(2, 3, 22, 21, dark)
        cv.rect(3, 4, 21, 7, blue)
        cv.rect(3, 7, 21, 20, white)
        cv.play(9, 9, 9, red)
    elif name == "TKVFLASHPLAYERCOMP":
        # A picture off the form: dashed outline.
        for i in range(2, 22, 3):
            cv.rect(i, 4, i + 2, 5, dark)
            cv.rect(i, 19, i + 2, 20, dark)
        for i in range(4, 20, 3):
            cv.rect(2, i, 3, i + 2, dark)
            cv.rect(21, i, 22, i + 2, dark)
        cv.play(9, 7, 10, red)
    elif name == "TKVFLASHLAYER":
        cv.rect(5, 2, 22, 17, dark)
        cv.rect(6, 3, 21, 16, yellow)
        cv.rect(2, 7, 18, 22, dark)
        cv.rect(3, 8, 17, 21, white)
        cv.play(7, 10, 9, red)
    elif name == "TKVLAYERWINDOW":
        cv.rect(2, 2, 22, 22, dark)
        cv.rect(3, 3, 21, 21, yellow)
        cv.frame(6, 6, 18, 18, blue)
    else:
        raise SystemExit("unknown icon " + name)
    return [[nearest(palette, c) for c in row] for row in cv.px]


def write_bmp(path, indices, palette, bits):
    row_bytes = ((SIZE * bits + 31) // 32) * 4
    rows = []
    for row in reversed(indices):  # bottom-up
        data = bytearray()
        if bits == 8:
            data.extend(row)
        else:
            for x in range(0, SIZE, 2):
                data.append((row[x] << 4) | row[x + 1])
        data.extend(b"\0" * (row_bytes - len(data)))
        rows.append(bytes(data))
    colours = len(palette)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    pixels = b"".join(rows)
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, bits, 0, len(pixels), 2835, 2835, colours, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + pixels)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    p256 = palette_256()
    icons = [("TKVFLASHLIST", 4), ("TKVFLASHPLAYER", 4), ("TKVFLASHPLAYERWND", 8),
             ("TKVFLASHPLAYERCOMP", 8), ("TKVFLASHLAYER", 8), ("TKVLAYERWINDOW", 8)]
    for name, bits in icons:
        palette = VGA if bits == 4 else p256
        write_bmp(os.path.join(out, name + ".bmp"), draw(name, palette), palette, bits)


if __name__ == "__main__":
    main()
