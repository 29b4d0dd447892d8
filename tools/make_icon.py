#!/usr/bin/env python3
"""Draws the Quorvel launcher icon and packs it into an .ico file.

The mark is a white ring with a tail (a "Q") and an amber dot on a blue rounded square. Five
images: 256 px (a 24-bit RGB PNG, its outside keyed transparent), 128, 48 and 32 px (24-bit
bitmaps) and 16 px (an 8-bit palette bitmap). Pure Python, so the output is the same every time.

Usage: make_icon.py OUTPUT.ico
"""
import math
import struct
import sys
import zlib

BACKGROUND = (31, 78, 121)
RING = (255, 255, 255)
ACCENT = (245, 166, 35)
KEY = (255, 0, 255)  # outside the square, in the PNG image only


def rounded_square(x, y):
    r = 0.2
    dx = max(abs(x - 0.5) - (0.5 - r), 0.0)
    dy = max(abs(y - 0.5) - (0.5 - r), 0.0)
    return dx * dx + dy * dy <= r * r


def ring(x, y):
    d = math.hypot(x - 0.47, y - 0.47)
    return 0.19 <= d <= 0.31


def tail(x, y):
    # A thick segment from inside the ring towards the lower right corner.
    ax, ay, bx, by = 0.58, 0.58, 0.80, 0.80
    t = ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)
    t = min(max(t, 0.0), 1.0)
    return math.hypot(x - (ax + t * (bx - ax)), y - (ay + t * (by - ay))) <= 0.065


def dot(x, y):
    return math.hypot(x - 0.47, y - 0.47) <= 0.085


def render(size, levels=None):
    """Rows of ((r, g, b), inside) from the top; levels quantises the blending."""
    samples = 4 if size > 64 else 8
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            inside = ring_hits = dot_hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    if rounded_square(x, y):
                        inside += 1
                        if ring(x, y) or tail(x, y):
                            ring_hits += 1
                        elif dot(x, y):
                            dot_hits += 1
            total = samples * samples
            if inside * 2 < total:
                row.append((KEY, False))
                continue
            w_ring, w_dot = ring_hits / inside, dot_hits / inside
            if levels:
                w_ring = round(w_ring * levels) / levels
                w_dot = round(w_dot * levels) / levels
            w_bg = max(0.0, 1.0 - w_ring - w_dot)
            colour = tuple(
                int(round(BACKGROUND[i] * w_bg + RING[i] * w_ring + ACCENT[i] * w_dot))
                for i in range(3))
            row.append((colour, True))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for colour, _ in row for c in colour) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
            + chunk(b"tRNS", struct.pack(">HHH", *KEY))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def and_mask(rows):
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    out = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, inside) in enumerate(row):
            if not inside:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib_header(size, bits, image_bytes):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, image_bytes, 0, 0, 0, 0)


def bitmap24(rows):
    size = len(rows)
    stride = ((size * 3 + 3) // 4) * 4
    pixels = b""
    for row in reversed(rows):
        line = b"".join(bytes((c[2], c[1], c[0])) if inside else b"\0\0\0" for c, inside in row)
        pixels += line + b"\0" * (stride - len(line))
    mask = and_mask(rows)
    return dib_header(size, 24, len(pixels) + len(mask)) + pixels + mask


def bitmap8(rows):
    size = len(rows)
    palette = sorted({c for row in rows for c, inside in row if inside} | {(0, 0, 0)})
    if len(palette) > 256:
        raise SystemExit("16 px image has more than 256 colours")
    index = {c: i for i, c in enumerate(palette)}
    table = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    table += b"\0" * (1024 - len(table))
    stride = ((size + 3) // 4) * 4
    pixels = b""
    for row in reversed(rows):
        line = bytes(index[c] if inside else index[(0, 0, 0)] for c, inside in row)
        pixels += line + b"\0" * (stride - len(line))
    mask = and_mask(rows)
    return dib_header(size, 8, len(pixels) + len(mask)) + table + pixels + mask


def main():
    images = [
        (256, 24, png(render(256))),
        (128, 24, bitmap24(render(128))),
        (48, 24, bitmap24(render(48))),
        (32, 24, bitmap24(render(32))),
        (16, 8, bitmap8(render(16, levels=6))),
    ]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, bits, data in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data),
                                 offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + b"".join(data for _, _, data in images))


if __name__ == "__main__":
    main()
