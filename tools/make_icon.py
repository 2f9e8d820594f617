#!/usr/bin/env python3
"""Draws the Tavrolin icon (an AGP card: navy board, chip, metal bracket, gold edge connector) and
writes res/tavrol.ico with 16x16, 32x32 and 48x48 images, each in 16 colours and in 32-bit colour.

The build uses the committed res/tavrol.ico; run this only to change the picture:
    python3 tools/make_icon.py res/tavrol.ico
"""
import struct
import sys

TRANSPARENT = None
NAVY = (0, 0, 128)
BLUE = (0, 0, 255)
GOLD = (255, 204, 0)
DARK_GOLD = (128, 128, 0)
SILVER = (192, 192, 192)
GRAY = (128, 128, 128)
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
GREEN = (0, 128, 0)

# The 16 colours of the standard VGA palette, in the order Windows uses for 4-bit bitmaps.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def draw(size):
    """Returns size rows of size pixels, each an (r, g, b) tuple or TRANSPARENT."""
    s = size / 32.0  # the picture is designed on a 32-pixel grid and scaled

    def px(v):
        return int(round(v * s))

    img = [[TRANSPARENT] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(size, y1)):
            for x in range(max(0, x0), min(size, x1)):
                img[y][x] = colour

    # Metal bracket on the left, running the full height of the board and a little above.
    rect(0, px(4), max(1, px(3)), px(26), SILVER)
    rect(0, px(4), max(1, px(5)), px(6), SILVER)
    # The board, with a lighter rim so that it reads against dark backgrounds.
    rect(px(3), px(7), px(31), px(24), BLUE)
    rect(px(3) + 1, px(7) + 1, px(31) - 1, px(24) - 1, NAVY)
    # The graphics chip: a black square with a silver frame.
    rect(px(10), px(10), px(19), px(19), SILVER)
    rect(px(10) + 1, px(10) + 1, px(19) - 1, px(19) - 1, BLACK)
    # Memory chips to the right of it.
    rect(px(22), px(10), px(28), px(13), BLACK)
    rect(px(22), px(16), px(28), px(19), BLACK)
    # The edge connector: gold fingers under the board, with the AGP key notch.
    top, bottom = px(24), px(28)
    rect(px(7), top, px(29), bottom, DARK_GOLD)
    step = 2 if size >= 32 else 1
    pitch = 2 * step
    for x in range(px(7), px(29), pitch):
        rect(x, top, x + step, bottom, GOLD)
    notch = px(12)
    rect(notch, top, notch + max(1, px(2)), bottom, TRANSPARENT)
    return img


def nearest_vga(colour):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(VGA16[i], colour)))


def and_mask(img, size):
    row_bytes = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(img):
        bits = bytearray(row_bytes)
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def bitmap_header(size, bit_count, image_bytes, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bit_count, 0, image_bytes, 0, 0,
                       colours_used, 0)


def image_4bit(img, size):
    row_bytes = ((size * 4 + 31) // 32) * 4
    xor = bytearray()
    for row in reversed(img):
        line = bytearray(row_bytes)
        for x, c in enumerate(row):
            index = 0 if c is TRANSPARENT else nearest_vga(c)
            line[x // 2] |= index << (0 if x % 2 else 4)
        xor += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in VGA16)
    mask = and_mask(img, size)
    return bitmap_header(size, 4, len(xor) + len(mask), 16) + palette + bytes(xor) + mask


def image_32bit(img, size):
    xor = bytearray()
    for row in reversed(img):
        for c in row:
            xor += b"\0\0\0\0" if c is TRANSPARENT else struct.pack("<BBBB", c[2], c[1], c[0], 255)
    mask = and_mask(img, size)
    return bitmap_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


def make_ico():
    images = []
    for size in (16, 32, 48):
        img = draw(size)
        images.append((size, 16, 4, image_4bit(img, size)))
        images.append((size, 0, 32, image_32bit(img, size)))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for size, colours, bits, blob in images:
        entries += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
        data += blob
    return header + entries + data


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "res/tavrol.ico"
    with open(path, "wb") as f:
        f.write(make_ico())


if __name__ == "__main__":
    main()
