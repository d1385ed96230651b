// Where the triangles of a UV layout fall on a texture's texel grid.
//
// Texel space: x right and y down in texels, (0, 0) the top-left corner of
// the texture, so texel (i, j) is the square [i, i+1] x [j, j+1]. A UV
// (u, v) sits at (u * width, (1 - v) * height): v = 0 is the bottom row, as
// the mesh importer delivers every format. UVs outside [0, 1] wrap: a
// triangle is placed once for every whole texture period it reaches into.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "renderer/math/math3.h"

namespace vosh::render {

struct TexelXY {
    double x = 0, y = 0;
};

// One placement of a mesh triangle, its corners shifted by whole periods so
// that it overlaps the texture.
struct PlacedTriangle {
    uint32_t triangle = 0;  // index of the triangle in the mesh
    TexelXY corner[3];
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // texels it can touch, [x0, x1) x [y0, y1)
};

struct TexelLayout {
    int width = 0, height = 0, tile_size = 0;
    int tiles_x = 0, tiles_y = 0;
    // Per tile (row-major), the placements that can touch it.
    std::vector<std::vector<PlacedTriangle>> tiles;
    uint64_t triangles = 0;          // of the mesh, placed or not
    uint64_t wrapped_triangles = 0;  // triangles with UVs outside [0, 1]
    // Triangles with UVs that are not finite, or so large or so wide (more
    // than a whole period) that they cannot be placed.
    uint64_t unusable_triangles = 0;
    uint64_t degenerate_triangles = 0;  // no area in UV
};

// Places the triangles `indices` (three per triangle) with per-vertex
// `uvs` (x = u, y = v) on a width x height texture binned into tiles of
// `tile_size` texels. Triangles with no area in UV cover nothing and are
// left out.
TexelLayout layout_texels(const std::vector<Vec3>& uvs, const std::vector<uint32_t>& indices,
                          int width, int height, int tile_size);

// Whether a bake of the layout shades any texel: whether some placement
// covers a texel by cover_texel's rule (area of the texel square, not its
// centre).
bool covers_any_texel(const TexelLayout& layout);

// Why a layout that covers no texel covers none, for a message: "no UV
// triangle covers a texel of the WxH texture: ...".
std::string why_no_texel_covered(const TexelLayout& layout);

// Texel-space position of a UV.
TexelXY uv_to_texel(Vec3 uv, int width, int height);

}  // namespace vosh::render
