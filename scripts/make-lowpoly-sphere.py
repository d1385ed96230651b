#!/usr/bin/env python3
"""Writes scenes/meshes/lowpoly_sphere.obj, the coarse smooth-shaded ball of
scenes/smooth_lowpoly.json: a latitude-longitude sphere of radius 1 around
the origin, 12 segments around and 8 from pole to pole, with one vertex
normal per vertex (the sphere's own), as a game asset would have it.

    scripts/make-lowpoly-sphere.py [OUT.obj] [SEGMENTS RINGS]
"""
import math
import sys


def sphere_obj(segments, rings):
    lines = ["# sphere, radius 1, %d segments x %d rings, smooth vertex normals" % (segments, rings)]
    for r in range(rings + 1):
        theta = math.pi * r / rings
        for s in range(segments):
            phi = 2 * math.pi * s / segments
            x, y, z = math.sin(theta) * math.cos(phi), math.cos(theta), math.sin(theta) * math.sin(phi)
            lines.append("v %.6f %.6f %.6f" % (x, y, z))
            lines.append("vn %.6f %.6f %.6f" % (x, y, z))

    def index(r, s):
        return r * segments + s % segments + 1

    for r in range(rings):
        for s in range(segments):
            a, b, c, d = index(r, s), index(r, s + 1), index(r + 1, s + 1), index(r + 1, s)
            # Wound outward; at the poles one triangle of each quad collapses.
            if r != 0:
                lines.append("f %d//%d %d//%d %d//%d" % (a, a, b, b, c, c))
            if r != rings - 1:
                lines.append("f %d//%d %d//%d %d//%d" % (a, a, c, c, d, d))
    return "\n".join(lines) + "\n"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "scenes/meshes/lowpoly_sphere.obj"
    segments, rings = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (12, 8)
    with open(out, "w") as f:
        f.write(sphere_obj(segments, rings))


if __name__ == "__main__":
    main()
