#!/usr/bin/env python3
"""Draws Skelby's icon (a window being recorded: a small application window
with a red record dot) and writes resources/skelby.ico with one 32 x 32 and one
16 x 16 image, 256 colours each. Run it again after changing the drawing."""
import struct
import sys

PALETTE = [
    (0, 0, 0),        # 0 transparent (masked out)
    (38, 50, 72),     # 1 slate backdrop
    (235, 238, 243),  # 2 window body
    (44, 110, 204),   # 3 title bar
    (210, 36, 36),    # 4 record dot
    (255, 120, 110),  # 5 dot highlight
    (20, 26, 38),     # 6 outline
    (150, 160, 178),  # 7 content lines
]


def draw(size):
    s = size / 32.0
    px = [[0] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = c

    def disc(cx, cy, r, c):
        for y in range(size):
            for x in range(size):
                dx, dy = (x + 0.5) / s - cx, (y + 0.5) / s - cy
                if dx * dx + dy * dy <= r * r:
                    px[y][x] = c

    rect(1, 3, 31, 29, 1)          # backdrop
    rect(4, 6, 26, 24, 6)          # window outline
    rect(5, 7, 25, 23, 2)          # window body
    rect(5, 7, 25, 11, 3)          # title bar
    if size >= 32:
        for y in (14, 17, 20):
            rect(8, y, 20, y + 1, 7)   # text lines in the window
    disc(24, 23, 6.5, 6)           # dot outline
    disc(24, 23, 5.5, 4)           # record dot
    disc(22.5, 21.5, 1.6, 5)       # highlight
    return px


def bitmap(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    pal += b'\0' * (4 * (256 - len(PALETTE)))
    rows = b''
    for y in reversed(range(size)):          # bottom-up
        rows += bytes(px[y])                 # 8-bit rows; 16 and 32 are multiples of 4
    mask_stride = ((size + 31) // 32) * 4
    mask = b''
    for y in reversed(range(size)):
        bits = 0
        row = bytearray(mask_stride)
        for x in range(size):
            if px[y][x] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    return header + pal + rows + mask


def main(out):
    images = [(32, bitmap(32)), (16, bitmap(16))]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bmp in images:
        data += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 8, len(bmp), offset)
        offset += len(bmp)
    for _, bmp in images:
        data += bmp
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'resources/skelby.ico')
