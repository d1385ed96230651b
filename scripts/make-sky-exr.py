#!/usr/bin/env python3
"""Writes scenes/sky.exr, the small latitude-longitude sky of
scenes/environment_tint.json: a blue zenith fading to a pale horizon, a warm
sun low in the south-west, and a dim brown ground below the horizon.

Needs nothing beyond the Python standard library: the file is a plain
uncompressed scanline OpenEXR with 32-bit float B, G, R channels.

    scripts/make-sky-exr.py [OUT.exr] [WIDTH HEIGHT]
"""
import math
import struct
import sys


def sky(dx, dy, dz):
    """Linear radiance seen along the unit direction (dx, dy, dz), +y up."""
    if dy < 0:
        k = min(1.0, -dy * 4)  # a short blend below the horizon
        horizon = (0.55, 0.5, 0.42)
        ground = (0.16, 0.11, 0.07)
        return tuple(h + (g - h) * k for h, g in zip(horizon, ground))
    zenith = (0.12, 0.3, 0.85)
    horizon = (0.75, 0.82, 0.92)
    t = dy ** 0.5
    c = [h + (z - h) * t for h, z in zip(horizon, zenith)]
    # Sun: direction (-1, 0.35, -1) normalised; a wide warm glow.
    sx, sy, sz = -1.0, 0.35, -1.0
    n = math.sqrt(sx * sx + sy * sy + sz * sz)
    cosine = (dx * sx + dy * sy + dz * sz) / n
    glow = math.exp((cosine - 1) * 6) * 1.5
    sun = (1.0, 0.7, 0.35)
    return tuple(ci + glow * si for ci, si in zip(c, sun))


def image(width, height):
    rows = []
    for y in range(height):
        v = (y + 0.5) / height
        theta = v * math.pi  # 0 straight up
        row = []
        for x in range(width):
            u = (x + 0.5) / width
            # u = 0.5 looks along -z, u = 0.75 along +x.
            phi = (u - 0.5) * 2 * math.pi
            dx = math.sin(theta) * math.sin(phi)
            dz = -math.sin(theta) * math.cos(phi)
            row.append(sky(dx, math.cos(theta), dz))
        rows.append(row)
    return rows


def attribute(name, kind, data):
    return name.encode() + b"\0" + kind.encode() + b"\0" + struct.pack("<i", len(data)) + data


def write_exr(path, rows):
    height, width = len(rows), len(rows[0])
    channels = b"".join(c.encode() + b"\0" + struct.pack("<iBBBBii", 2, 0, 0, 0, 0, 1, 1)
                        for c in "BGR") + b"\0"
    box = struct.pack("<iiii", 0, 0, width - 1, height - 1)
    header = (struct.pack("<ii", 20000630, 2) +
              attribute("channels", "chlist", channels) +
              attribute("compression", "compression", b"\0") +
              attribute("dataWindow", "box2i", box) +
              attribute("displayWindow", "box2i", box) +
              attribute("lineOrder", "lineOrder", b"\0") +
              attribute("pixelAspectRatio", "float", struct.pack("<f", 1.0)) +
              attribute("screenWindowCenter", "v2f", struct.pack("<ff", 0.0, 0.0)) +
              attribute("screenWindowWidth", "float", struct.pack("<f", 1.0)) + b"\0")
    line_bytes = width * 3 * 4
    first = len(header) + 8 * height
    offsets = b"".join(struct.pack("<Q", first + y * (8 + line_bytes)) for y in range(height))
    blocks = []
    for y, row in enumerate(rows):
        data = b"".join(struct.pack("<%df" % width, *(p[ch] for p in row)) for ch in (2, 1, 0))
        blocks.append(struct.pack("<ii", y, len(data)) + data)
    with open(path, "wb") as out:
        out.write(header + offsets + b"".join(blocks))


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "scenes/sky.exr"
    width, height = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (64, 32)
    write_exr(path, image(width, height))


if __name__ == "__main__":
    main()
