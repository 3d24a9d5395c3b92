#!/usr/bin/env python3
"""Writes win32/resources/Glidescape.ico: one 32 x 32, 16-colour (4-bit) icon.

The picture: a night sky with a few stars and a ring gliding over green hills
and a lake. Run from the repository root: scripts/make-icon.py
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)

SIZE = 32


def draw():
    """Rows top to bottom, one palette index per pixel."""
    img = [[NAVY if y < 10 else BLACK for x in range(SIZE)] for y in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            if y < 6:
                img[y][x] = BLACK
            elif y < 12:
                img[y][x] = NAVY
    for x, y in [(3, 2), (9, 4), (17, 1), (26, 3), (30, 7), (13, 8), (22, 9)]:
        img[y][x] = WHITE if (x + y) % 2 else SILVER
    # Far hills, near hills, lake.
    for x in range(SIZE):
        far = 15 + int(3 * abs(((x * 7) % 23) - 11) / 11)
        near = 20 + int(4 * abs(((x * 5 + 9) % 19) - 9) / 9)
        for y in range(far, SIZE):
            img[y][x] = OLIVE
        for y in range(near, SIZE):
            img[y][x] = GREEN if (x + y) % 5 else LIME
        if 26 <= x or x <= 3:
            for y in range(27, SIZE):
                img[y][x] = TEAL if y % 2 else BLUE
    for y in range(12, 15):
        for x in range(SIZE):
            if img[y][x] == NAVY and (x * 3 + y) % 7 == 0:
                img[y][x] = PURPLE
    # The ring: an ellipse outline, yellow with a red rim.
    cx, cy, rx, ry = 16.0, 11.0, 6.0, 3.0
    for y in range(SIZE):
        for x in range(SIZE):
            d = ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2
            if 0.55 <= d <= 1.0:
                img[y][x] = YELLOW
            elif 1.0 < d <= 1.35 and y > cy:
                img[y][x] = DARK_RED
    return img


def icon_bytes(img):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    for row in reversed(img):  # bottom-up
        for x in range(0, SIZE, 2):
            xor.append((row[x] << 4) | row[x + 1])
    mask = bytes(SIZE * SIZE // 8)  # fully opaque
    image = header + palette + bytes(xor) + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "win32/resources/Glidescape.ico"
    with open(out, "wb") as f:
        f.write(icon_bytes(draw()))


if __name__ == "__main__":
    main()
