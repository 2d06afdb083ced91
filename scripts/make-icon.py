#!/usr/bin/env python3
"""Draws the launcher's icon (a play symbol on a blue tile) at 16, 32 and 48
pixels and writes it as a Windows .ico file: launcher/launcher.ico."""
import pathlib
import struct
import sys


def pixel(size, x, y):
    """BGRA of one pixel: a rounded tile with a white triangle."""
    margin, radius = size / 16, size / 5
    cx, cy = min(max(x + 0.5, margin + radius), size - margin - radius), \
        min(max(y + 0.5, margin + radius), size - margin - radius)
    if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if 0.36 <= u <= 0.74 and abs(v - 0.5) <= (0.74 - u) * 0.62:
        return (255, 255, 255, 255)
    return (0xC8, 0x6A, 0x1F, 255)


def image(size):
    rows = [b"".join(bytes(pixel(size, x, y)) for x in range(size)) for y in range(size)]
    xor = b"".join(reversed(rows))  # bottom-up
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + mask_row * size, 0, 0, 0, 0)
    return header + xor + b"\0" * (mask_row * size)


def icon(sizes):
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    target = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                          pathlib.Path(__file__).parent.parent / "launcher" / "launcher.ico")
    target.write_bytes(icon([16, 32, 48]))
