#!/usr/bin/env python3
"""Checks the example application's snapshot: a top-down 32-bit BMP of its form.

    check_snapshot.py <snapshot.bmp>

The form (400 x 260, teal, a yellow band at y 100..140) holds a transparent
player at (20, 20) playing the check movie: an opaque red box and a blue box
at half alpha. Prints every checked pixel; exits 1 when one is off.
"""
import struct
import sys

TEAL, YELLOW, RED, WHITE = (0, 128, 128), (255, 255, 0), (255, 0, 0), (255, 255, 255)


def over(top, alpha, under):
    return tuple(round(t * alpha + u * (1 - alpha)) for t, u in zip(top, under))


BLUE_HALF = 0x80 / 255.0
# (x, y) on the form, what must be there, tolerance per channel, why
CHECKS = [
    ((8, 8), TEAL, 2, "the form outside the player"),
    ((60, 60), RED, 2, "the movie's opaque box"),
    ((100, 120), YELLOW, 2, "the form's band through the movie's transparent background"),
    ((100, 190), TEAL, 2, "the form through the movie's transparent background"),
    ((250, 90), over((0, 0, 255), BLUE_HALF, TEAL), 8, "the half-transparent box over the form"),
    ((250, 120), over((0, 0, 255), BLUE_HALF, YELLOW), 8, "the half-transparent box over the band"),
    ((390, 250), WHITE, 2, "the label's background"),
]


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 32 or height >= 0:
        raise ValueError(f"expected a top-down 32-bit BMP, got {bits} bits, height {height}")
    height = -height

    def pixel(x, y):
        b, g, r = data[offset + (y * width + x) * 4: offset + (y * width + x) * 4 + 3]
        return (r, g, b)

    return width, height, pixel


def main():
    width, height, pixel = read_bmp(sys.argv[1])
    ok = (width, height) == (400, 260)
    print(f"size {width}x{height}" + ("" if ok else " (expected 400x260)"))
    if not ok:
        return 1
    for (x, y), want, tolerance, what in CHECKS:
        got = pixel(x, y)
        good = all(abs(g - w) <= tolerance for g, w in zip(got, want))
        ok &= good
        print(f"({x},{y}) {what}: #{got[0]:02X}{got[1]:02X}{got[2]:02X}"
              f" want #{want[0]:02X}{want[1]:02X}{want[2]:02X} \u00b1{tolerance} {'ok' if good else 'WRONG'}")
    # The label's text: dark pixels on its white background.
    dark = sum(1 for y in range(234, 256) for x in range(4, 300) if max(pixel(x, y)) < 96)
    print(f"label text: {dark} dark pixels" + ("" if dark >= 20 else " (expected text)"))
    ok &= dark >= 20
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
