#!/usr/bin/env python3
"""Writes scenes/meshes/crate.obj, the panelled crate the bake showcase uses:
a 2 x 2 x 2 box centred on the origin whose six faces each have a flush
frame and a flush cross bar around four recessed panels with bevelled
walls. Every face is one UV island of a 3 x 2 atlas with gutters between
the islands, so a baked map shows the recesses' occlusion and the padding
between islands.

With --low it writes the crate's game mesh instead: the plain box, two
triangles a face, with the same UV atlas; bake the panelled crate onto it
with `vosh-render bake crate_low.obj --from crate.obj` (docs/baking.md).

Needs nothing beyond the Python standard library.

    scripts/make-crate.py [OUT.obj]
    scripts/make-crate.py --low [OUT.obj]
"""
import math
import sys

FRAME = 0.12   # flush border, as a fraction of the face
BAR = 0.06     # half-width of the flush cross bar
BEVEL = 0.05   # width of the slanted wall down into a panel
DEPTH = 0.12   # how far the panels sit below the frame (box units)
SPLIT = 4      # each panel floor split this many times per axis

# Island placement: 3 columns x 2 rows, each island a square of ISLAND
# texture units with its lower-left corner at the cell's lower-left + GAP.
ISLAND = 0.30
CELL_U, CELL_V = 1.0 / 3.0, 0.5
GAP_U, GAP_V = (CELL_U - ISLAND) / 2, (CELL_V - ISLAND) / 2

# Faces: outward normal, then the axes along s and t (s x t = normal, so
# triangles wound s then t face outwards), then the atlas cell.
FACES = [
    ((1, 0, 0), (0, 0, -1), (0, 1, 0), (0, 0)),
    ((-1, 0, 0), (0, 0, 1), (0, 1, 0), (1, 0)),
    ((0, 1, 0), (1, 0, 0), (0, 0, -1), (2, 0)),
    ((0, -1, 0), (1, 0, 0), (0, 0, 1), (0, 1)),
    ((0, 0, 1), (1, 0, 0), (0, 1, 0), (1, 1)),
    ((0, 0, -1), (-1, 0, 0), (0, 1, 0), (2, 1)),
]


def breakpoints():
    """Grid lines along one axis of a face, in [0, 1]: every place where the
    profile bends, and a few more across each panel floor."""
    inner = [(FRAME + BEVEL, 0.5 - BAR - BEVEL), (0.5 + BAR + BEVEL, 1 - FRAME - BEVEL)]
    points = [0.0, FRAME, 0.5 - BAR, 0.5 + BAR, 1 - FRAME, 1.0]
    for a, b in inner:
        points += [a + (b - a) * k / SPLIT for k in range(SPLIT + 1)]
    return sorted(set(round(p, 9) for p in points))


def recess(x):
    """0 on the frame and bar, 1 on a panel floor, linear along a bevel."""
    def rise(start):
        return min(1.0, max(0.0, (x - start) / BEVEL))

    def fall(end):
        return min(1.0, max(0.0, (end - x) / BEVEL))

    if x < 0.5:
        return min(rise(FRAME), fall(0.5 - BAR))
    return min(rise(0.5 + BAR), fall(1 - FRAME))


def height(s, t):
    """Outward offset of the face at (s, t): panels are where both axes are
    recessed."""
    return -DEPTH * min(recess(s), recess(t))


def add(a, b):
    return tuple(x + y for x, y in zip(a, b))


def scale(a, k):
    return tuple(x * k for x in a)


def sub(a, b):
    return tuple(x - y for x, y in zip(a, b))


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def normalize(a):
    n = math.sqrt(sum(x * x for x in a))
    return tuple(x / n for x in a)


def face_mesh(normal, s_axis, t_axis, cell, low=False):
    """Vertices (position, uv, normal) and quads (four vertex indices, wound
    outwards) of one face; with `low`, the flat face as one quad."""
    grid = [0.0, 1.0] if low else breakpoints()
    n = len(grid)
    # The face's corner at s = t = 0: centre - s_axis - t_axis, +normal.
    origin = sub(sub(normal, s_axis), t_axis)
    positions = []
    for t in grid:
        for s in grid:
            p = add(add(origin, scale(s_axis, 2 * s)), scale(t_axis, 2 * t))
            positions.append(p if low else add(p, scale(normal, height(s, t))))
    # Vertex normals: the area-weighted normals of the cells around each
    # vertex, within this face only (the box's edges stay sharp).
    normals = [(0.0, 0.0, 0.0)] * (n * n)
    quads = []
    for j in range(n - 1):
        for i in range(n - 1):
            q = (j * n + i, j * n + i + 1, (j + 1) * n + i + 1, (j + 1) * n + i)
            quads.append(q)
            a, b, c, d = (positions[k] for k in q)
            cell_normal = cross(sub(c, a), sub(d, b))
            for k in q:
                normals[k] = add(normals[k], cell_normal)
    u0 = cell[0] * CELL_U + GAP_U
    v0 = cell[1] * CELL_V + GAP_V
    uvs = [(u0 + s * ISLAND, v0 + t * ISLAND) for t in grid for s in grid]
    return positions, uvs, [normalize(v) for v in normals], quads


def main():
    args = sys.argv[1:]
    low = bool(args) and args[0] == "--low"
    if low:
        args = args[1:]
    out = args[0] if args else ("scenes/meshes/crate_low.obj" if low else "scenes/meshes/crate.obj")
    if low:
        lines = ["# The crate's low-poly game mesh made by scripts/make-crate.py --low: the 2 x 2 x 2 box, "
                 "the crate's UV atlas"]
    else:
        lines = ["# Panelled crate made by scripts/make-crate.py: 2 x 2 x 2, one UV island per face"]
    vertex_lines, uv_lines, normal_lines, face_lines = [], [], [], []
    base = 1
    triangles = 0
    for normal, s_axis, t_axis, cell in FACES:
        positions, uvs, normals, quads = face_mesh(normal, s_axis, t_axis, cell, low)
        vertex_lines += ["v %.6f %.6f %.6f" % p for p in positions]
        uv_lines += ["vt %.6f %.6f" % uv for uv in uvs]
        normal_lines += ["vn %.5f %.5f %.5f" % v for v in normals]
        for q in quads:
            # Two triangles per cell, split along the diagonal a-c.
            for tri in ((q[0], q[1], q[2]), (q[0], q[2], q[3])):
                face_lines.append("f " + " ".join("%d/%d/%d" % ((k + base,) * 3) for k in tri))
                triangles += 1
        base += len(positions)
    lines += vertex_lines + uv_lines + normal_lines + face_lines
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("%s: %d vertices, %d triangles" % (out, base - 1, triangles))


if __name__ == "__main__":
    main()
