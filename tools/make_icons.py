#!/usr/bin/env python3
"""Draws the program's two icons and writes them as 16-colour .ico files.

ui/icons/cross.ico  red diagonal cross, 32 x 32: the window and .exe icon; with
                    16, 20, 24 and 48 pixel drawings, so captions, the task bar
                    and Explorer show it crisp at 96, 120 and 144 DPI.
ui/icons/cog.ico    yellow-and-grey cog, 16 x 16: the picture beside the message.

The artwork is computed here, so the .ico files can always be made again:
    python3 tools/make_icons.py
"""

import math
import os
import struct

# The standard 16-colour palette (as RGB), in its usual order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, OLIVE, SILVER, GREY, RED, YELLOW, WHITE = 0, 1, 3, 7, 8, 9, 11, 15
CLEAR = None  # transparent pixel


def rasterise(size, inside):
    """Pixels whose area is mostly inside the shape (4 x 4 samples a pixel)."""
    steps = [(i + 0.5) / 4 for i in range(4)]
    return [[sum(inside(x + sx, y + sy) for sx in steps for sy in steps) >= 8
             for x in range(size)] for y in range(size)]


def is_rim(mask, x, y):
    """A shape pixel with a neighbour outside the shape."""
    size = len(mask)
    for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
        if not (0 <= nx < size and 0 <= ny < size) or not mask[ny][nx]:
            return True
    return False


def cross(size):
    """A red saltire: two bars with rounded ends, a maroon rim, lit from the top left."""
    half_width = size * 0.13
    a, b = size * 0.16, size * 0.84  # where the bars end

    def to_bar(px, py, x0, y0, x1, y1):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - x0 - t * dx, py - y0 - t * dy)

    def inside(px, py):
        return min(to_bar(px, py, a, a, b, b), to_bar(px, py, b, a, a, b)) <= half_width

    mask = rasterise(size, inside)
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            if not mask[y][x]:
                row.append(CLEAR)
            elif is_rim(mask, x, y):
                row.append(MAROON)
            elif size >= 32 and is_rim(mask, x - 1, y - 1) and not is_rim(mask, x + 1, y + 1):
                row.append(WHITE)  # the light catches the upper-left edges
            else:
                row.append(RED)
        pixels.append(row)
    return pixels


def cog(size=16, teeth=8):
    """A yellow cog with grey teeth and rim, and a hole in the middle."""
    centre = size / 2.0

    def inside(px, py):
        dx, dy = px - centre, py - centre
        r = math.hypot(dx, dy)
        period = 2 * math.pi / teeth
        angle = (math.atan2(dy, dx) + period * 0.3) % period
        outer = 8.0 if angle < period * 0.6 else 5.6
        return 2.1 <= r <= outer

    mask = rasterise(size, inside)
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            r = math.hypot(x + 0.5 - centre, y + 0.5 - centre)
            if not mask[y][x]:
                row.append(CLEAR)
            elif is_rim(mask, x, y):
                row.append(GREY)
            elif r > 5.0:
                row.append(SILVER)  # the teeth
            else:
                row.append(OLIVE if (x - centre) + (y - centre) > 4.0 else YELLOW)
        pixels.append(row)
    return pixels


def image_bytes(pixels):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colours, 1-bit mask."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours, mask = b"", b""
    for row in reversed(pixels):  # bottom-up, as bitmaps are stored
        nibbles = [0 if p is CLEAR else p for p in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colours += line + b"\0" * (-len(line) % 4)
        bits = "".join("1" if p is CLEAR else "0" for p in row) + "0" * (-size % 8)
        line = int(bits, 2).to_bytes(len(bits) // 8, "big")
        mask += line + b"\0" * (-len(line) % 4)
    return header + palette + colours + mask


def write_ico(path, images):
    """An .ico file holding the given square images (lists of pixel rows)."""
    blobs = [image_bytes(p) for p in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for pixels, blob in zip(images, blobs):
        size = len(pixels)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    icons = os.path.join(here, "..", "ui", "icons")
    os.makedirs(icons, exist_ok=True)
    write_ico(os.path.join(icons, "cross.ico"), [cross(n) for n in (32, 16, 20, 24, 48)])
    write_ico(os.path.join(icons, "cog.ico"), [cog()])


if __name__ == "__main__":
    main()
