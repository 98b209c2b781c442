#!/usr/bin/env python3
"""Draws the program's icon (a red on-air dot in a dark ring) at 16, 32, 48 and 64 px."""
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 32, 48, 64)
SUPERSAMPLE = 4


def colour_at(x, y, size):
    c = size / 2
    d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5 / c
    if d <= 0.55:
        return (220, 30, 40, 255)
    if d <= 0.70:
        return (255, 255, 255, 255)
    if d <= 0.98:
        return (40, 50, 70, 255)
    return (0, 0, 0, 0)


def pixel(px, py, size):
    n = SUPERSAMPLE
    acc = [0, 0, 0, 0]
    for i in range(n):
        for j in range(n):
            rgba = colour_at(px + (i + 0.5) / n, py + (j + 0.5) / n, size)
            for k in range(4):
                acc[k] += rgba[k]
    return bytes(round(v / (n * n)) for v in acc)


def png(size):
    rows = b"".join(b"\0" + b"".join(pixel(x, y, size) for x in range(size)) for y in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "icons")
    out.mkdir(parents=True, exist_ok=True)
    for size in SIZES:
        (out / f"publish_tavisk-{size}.png").write_bytes(png(size))


if __name__ == "__main__":
    main()
