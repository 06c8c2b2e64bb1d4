#!/usr/bin/env python3
"""Draws the application icon (console/resources/vantrel.png), 64x64 RGBA,
and its version for screens at twice the density (vantrel@2x.png, 128x128),
which Qt picks by the name.

A blue rounded tile with a white arrow pointing down into a grey flash chip:
"write into the handset's flash". Standard library only.
"""
import struct
import sys
import zlib

W = H = 64


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def pixel(x, y, scale=1):
    # Drawn in the 64-unit design space at any density.
    px, py = (x + 0.5) / scale, (y + 0.5) / scale
    if not inside_round_rect(px, py, 2, 2, 62, 62, 10):
        return (0, 0, 0, 0)
    colour = (24, 92, 200, 255)
    # Arrow: shaft and head.
    if 27 <= px <= 37 and 10 <= py <= 30:
        colour = (255, 255, 255, 255)
    if 30 <= py <= 42 and abs(px - 32) <= (42 - py) * 1.1:
        colour = (255, 255, 255, 255)
    # Chip body with pins.
    if 14 <= px <= 50 and 45 <= py <= 55:
        colour = (70, 70, 78, 255)
    if 42 <= py < 45 or 55 < py <= 58:
        if 14 <= px <= 50 and int(px - 14) % 6 in (1, 2, 3):
            colour = (200, 200, 205, 255)
    return colour


def png_bytes(scale):
    w, h = W * scale, H * scale
    rows = b""
    for y in range(h):
        rows += b"\x00" + b"".join(struct.pack("BBBB", *pixel(x, y, scale)) for x in range(w))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"IEND", b"")
    return png


def main(path):
    with open(path, "wb") as f:
        f.write(png_bytes(1))
    with open(path[: -len(".png")] + "@2x.png", "wb") as f:
        f.write(png_bytes(2))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "console/resources/vantrel.png")
