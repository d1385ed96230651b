// Which placed triangles cover a texel, which one the texel takes, and where
// a point inside the texel lands on the surface.
#pragma once

#include <cstdint>
#include <vector>

#include "renderer/bake/texel_layout.h"

namespace vosh::render {

struct TexelCover {
    const PlacedTriangle* triangle = nullptr;
    double area = 0;  // of the texel square it covers, in texels (0, 1]
};

struct TexelCoverage {
    std::vector<TexelCover> covers;  // every triangle that covers part of the texel
    // The triangle that covers the texel's centre, else the one that covers
    // most of it; null when nothing covers the texel.
    const PlacedTriangle* chosen = nullptr;
    // Two triangles lie over one another inside this texel.
    bool overlapped = false;
};

// The area of texel (x, y) that placement `p` covers, in texels; 0 when
// the texel lies outside its range or the area is only rounding at a
// texel border. A texel with a cover is baked.
double texel_cover_area(const PlacedTriangle& p, int x, int y);

// Coverage of texel (x, y) by `placed` (the placements of its tile).
void cover_texel(const std::vector<PlacedTriangle>& placed, int x, int y, TexelCoverage& out);

// A point of a triangle: the mesh triangle and the weights of its second
// and third corner (the first has 1 - b1 - b2).
struct SurfacePoint {
    uint32_t triangle = 0;
    double b1 = 0, b2 = 0;
};

// Where texel-space point `p` of a covered texel lands: on the covering
// triangle that holds it, or, when none does, on the nearest point of the
// nearest covering triangle, moved a twentieth of a texel inside it. An
// overlapped texel uses only its chosen one.
SurfacePoint locate_in_texel(const TexelCoverage& coverage, TexelXY p);

// Area of a triangle's intersection with the unit square at (x, y).
double triangle_square_overlap(const TexelXY corner[3], double x, double y);

// Whether two triangles share area inside the unit square at (x, y).
bool triangles_overlap_in_square(const TexelXY a[3], const TexelXY b[3], double x, double y);

// Whether `p` lies inside the triangle; a point on an edge shared by two
// triangles of one layout lies in exactly one of them.
bool contains_point(const TexelXY corner[3], TexelXY p);

// Weights (b1, b2) of `p` in the triangle, and the nearest point's weights
// when `p` lies outside; returns the squared distance to that point.
double nearest_weights(const TexelXY corner[3], TexelXY p, double& b1, double& b2);

}  // namespace vosh::render
