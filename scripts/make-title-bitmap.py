#!/usr/bin/env python3
"""Draws the title picture of the Export Settings dialog (the product name, its
version and the logo: a window being recorded) and writes it as a 160 x 120,
24-bit BMP to resources/title.bmp. The version comes from the top CMakeLists.txt.
Run it again after changing the drawing or the version."""
import os
import re
import struct
import sys

W, H = 160, 120
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# 5 x 7 capitals and digits, one string per row, '#' lit.
GLYPHS = {
    'A': [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    'B': ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    'C': [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    'D': ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    'E': ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    'I': [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    'K': ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    'L': ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    'N': ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    'O': [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    'R': ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    'S': [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    'V': ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    'W': ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    'Y': ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    '0': [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    '1': ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    '2': [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    '3': ["####.", "....#", "....#", ".###.", "....#", "....#", "####."],
    '4': ["...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."],
    '5': ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    '6': [".###.", "#....", "#....", "####.", "#...#", "#...#", ".###."],
    '7': ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    '8': [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    '9': [".###.", "#...#", "#...#", ".####", "....#", "....#", ".###."],
    '.': [".....", ".....", ".....", ".....", ".....", ".##..", ".##.."],
    ' ': [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}

BACK_TOP = (24, 34, 54)
BACK_BOTTOM = (52, 72, 108)
WINDOW_BODY = (235, 238, 243)
TITLE_BAR = (44, 110, 204)
OUTLINE = (12, 16, 26)
CONTENT = (150, 160, 178)
RECORD = (210, 36, 36)
HIGHLIGHT = (255, 120, 110)
NAME = (255, 255, 255)
VERSION = (170, 200, 240)


def version():
    text = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    return re.search(r"project\(\s*Skelby\s+VERSION\s+([0-9.]+)", text).group(1)


def draw():
    px = [[None] * W for _ in range(H)]
    for y in range(H):
        t = y / (H - 1)
        c = tuple(round(a + (b - a) * t) for a, b in zip(BACK_TOP, BACK_BOTTOM))
        for x in range(W):
            px[y][x] = c

    def rect(x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(H, y1)):
            for x in range(max(0, x0), min(W, x1)):
                px[y][x] = c

    def disc(cx, cy, r, c):
        for y in range(H):
            for x in range(W):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    px[y][x] = c

    def text(s, x, y, scale, c):
        for ch in s:
            for row, bits in enumerate(GLYPHS[ch]):
                for col, bit in enumerate(bits):
                    if bit == '#':
                        rect(x + col * scale, y + row * scale,
                             x + (col + 1) * scale, y + (row + 1) * scale, c)
            x += 6 * scale

    def centred(s, y, scale, c):
        text(s, (W - (6 * len(s) - 1) * scale) // 2, y, scale, c)

    # The logo: an application window with the red record dot over its corner.
    rect(52, 10, 108, 52, OUTLINE)
    rect(54, 12, 106, 50, WINDOW_BODY)
    rect(54, 12, 106, 20, TITLE_BAR)
    for i, y in enumerate(range(25, 47, 5)):
        rect(59, y, 101 - 9 * (i % 3), y + 2, CONTENT)
    disc(104, 48, 11, OUTLINE)
    disc(104, 48, 9, RECORD)
    disc(101, 45, 3, HIGHLIGHT)

    centred("SKELBY", 62, 3, NAME)
    centred("WINDOW RECORDER", 88, 1, VERSION)
    centred("VERSION " + version(), 102, 1, VERSION)
    return px


def bmp(px):
    row_bytes = (W * 3 + 3) & ~3
    image = bytearray()
    for y in reversed(range(H)):  # bottom-up rows
        row = bytearray()
        for r, g, b in px[y]:
            row += bytes((b, g, r))
        image += row + bytes(row_bytes - len(row))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    return header + info + bytes(image)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "resources", "title.bmp")
    with open(out, "wb") as f:
        f.write(bmp(draw()))
