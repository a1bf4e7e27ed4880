#!/usr/bin/python3
"""Draws the updater's icon and writes it as a Windows .ico with 18 images:
64, 48, 40, 32 and 16 pixels at 4 and at 8 bits per pixel, and 256, 128, 96,
64, 48, 40, 32 and 16 pixels at 32 bits per pixel (the 256 one as PNG).

The artwork is drawn procedurally: a blue disc with a white arrow pointing
down onto a white bar (download, then install).

    python3 scripts/make_icon.py src/app/TsDLMUpdater.ico
"""

import struct
import sys
import zlib

BLUE = (31, 111, 209)
DARK_BLUE = (18, 72, 150)
WHITE = (255, 255, 255)


def coverage(size, samples=4):
    """RGBA pixels (top row first) of the artwork at `size` pixels."""
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size  # 0..1
                    v = (y + (sy + 0.5) / samples) / size
                    colour = shade(u, v)
                    if colour is None:
                        continue
                    for i in range(3):
                        acc[i] += colour[i]
                    acc[3] += 1.0
            n = samples * samples
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) +
                           (int(round(255 * acc[3] / n)),))
        pixels.append(row)
    return pixels


def shade(u, v):
    """The colour at (u, v) in the unit square, or None where transparent."""
    dx, dy = u - 0.5, v - 0.5
    r2 = dx * dx + dy * dy
    if r2 > 0.47 * 0.47:
        return None
    # Arrow: a shaft and a head pointing down, then a bar below it.
    in_shaft = abs(dx) < 0.075 and 0.16 < v < 0.52
    in_head = 0.46 <= v < 0.70 and abs(dx) < (0.70 - v) * 0.95
    in_bar = abs(dx) < 0.23 and 0.74 < v < 0.81
    if in_shaft or in_head or in_bar:
        return WHITE
    if r2 > 0.43 * 0.43:
        return DARK_BLUE
    # A soft vertical gradient on the disc.
    t = v
    return tuple(int(BLUE[i] * (1.08 - 0.16 * t)) for i in range(3))


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
         (128, 0, 128), (0, 128, 128), (192, 192, 192), (128, 128, 128),
         (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
         (0, 255, 255), (255, 255, 255)]


def palette256():
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6)
               for b in range(6)]
    colours += [(i * 255 // 39,) * 3 for i in range(40)]
    colours += [BLUE, DARK_BLUE]
    return (colours + [(0, 0, 0)] * 256)[:256]


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def row_bytes(bits, width):
    return ((bits * width + 31) // 32) * 4


def and_mask(pixels):
    size = len(pixels)
    stride = row_bytes(1, size)
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bmp_entry(pixels, bits):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         0, 0)
    body = bytearray()
    if bits == 32:
        for row in reversed(pixels):
            for r, g, b, a in row:
                body += bytes((b, g, r, a))
        return header + bytes(body) + and_mask(pixels)
    palette = VGA16 if bits == 4 else palette256()
    cache = {}
    stride = row_bytes(bits, size)
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, p in enumerate(row):
            colour = p[:3] if p[3] >= 128 else (0, 0, 0)
            if colour not in cache:
                cache[colour] = nearest(palette, colour)
            index = cache[colour]
            if bits == 8:
                line[x] = index
            else:
                line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        body += line
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + bytes(body) + and_mask(pixels)


def png_entry(pixels):
    size = len(pixels)
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in pixels)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(path):
    layout = [(s, 4) for s in (64, 48, 40, 32, 16)]
    layout += [(s, 8) for s in (64, 48, 40, 32, 16)]
    layout += [(s, 32) for s in (256, 128, 96, 64, 48, 40, 32, 16)]
    drawn = {}
    images = []
    for size, bits in layout:
        if size not in drawn:
            drawn[size] = coverage(size, 4 if size <= 64 else 2)
        pixels = drawn[size]
        data = png_entry(pixels) if size == 256 else bmp_entry(pixels, bits)
        images.append((size, bits, data))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    directory = b""
    for size, bits, data in images:
        colours = 16 if bits == 4 else 0
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0,
                                 1, bits, len(data), offset)
        offset += len(data)
    with open(path, "wb") as out:
        out.write(header + directory + b"".join(d for _, _, d in images))


if __name__ == "__main__":
    main(sys.argv[1])
