#!/usr/bin/env python3
"""Draws the launcher's icon (a play symbol on a blue tile) at 16, 32 and 48
pixels and writes it as a Windows .ico file: launcher/launcher.ico. With a
target and --color RRGGBB, the same drawing on a tile of that colour (the
demo package's icon, made at build time)."""
import argparse
import pathlib
import struct

TILE = (0xC8, 0x6A, 0x1F, 255)  # BGRA


def pixel(size, x, y, tile=TILE):
    """BGRA of one pixel: a rounded tile with a white triangle."""
    margin, radius = size / 16, size / 5
    cx, cy = min(max(x + 0.5, margin + radius), size - margin - radius), \
        min(max(y + 0.5, margin + radius), size - margin - radius)
    if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if 0.36 <= u <= 0.74 and abs(v - 0.5) <= (0.74 - u) * 0.62:
        return (255, 255, 255, 255)
    return tile


def image(size, tile=TILE):
    rows = [b"".join(bytes(pixel(size, x, y, tile)) for x in range(size)) for y in range(size)]
    xor = b"".join(reversed(rows))  # bottom-up
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + mask_row * size, 0, 0, 0, 0)
    return header + xor + b"\0" * (mask_row * size)


def icon(sizes, tile=TILE):
    images = [image(s, tile) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("target", nargs="?", type=pathlib.Path,
                        default=pathlib.Path(__file__).parent.parent / "launcher" / "launcher.ico")
    parser.add_argument("--color", default="1F6AC8", help="the tile's colour, RRGGBB")
    arguments = parser.parse_args()
    rgb = bytes.fromhex(arguments.color)
    arguments.target.write_bytes(icon([16, 32, 48], (rgb[2], rgb[1], rgb[0], 255)))
